#include "app/MessageBoxPrompts.h"

#include <QPushButton>

namespace kv {

MessageBoxPrompts::~MessageBoxPrompts() {
    delete m_report;
    delete m_notice;
    delete m_message;
}

PromptAnswer MessageBoxPrompts::abortRetry(const QString& caption, const QString& text) {
    QMessageBox box(QMessageBox::Warning, caption, text, QMessageBox::Abort | QMessageBox::Retry,
                    m_window);
    // In Czech whether or not Qt's catalogue is installed.
    box.button(QMessageBox::Abort)->setText(QStringLiteral("Přerušit"));
    box.button(QMessageBox::Retry)->setText(QStringLiteral("Opakovat"));
    // A stray Enter gives up instead of asking again and again.
    box.setDefaultButton(QMessageBox::Abort);
    box.setEscapeButton(QMessageBox::Abort);
    const int answer = box.exec();
    // A box that ends without a click (the program is ending) must not ask again.
    return answer == QMessageBox::Retry ? PromptAnswer::retry : PromptAnswer::abort;
}

void MessageBoxPrompts::message(const QString& caption, const QString& text) {
    // A message waits for nobody: the ticks go on while it stands, so a reply that arrives
    // meanwhile is not turned into a time-out by a box left open.
    showModeless(m_message, QMessageBox::Information, caption, text);
}

bool MessageBoxPrompts::confirm(const QString& caption, const QString& text) {
    QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No,
                    m_window);
    // In Czech whether or not Qt's catalogue is installed; a stray Enter changes nothing.
    box.button(QMessageBox::Yes)->setText(QStringLiteral("Ano"));
    box.button(QMessageBox::No)->setText(QStringLiteral("Ne"));
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void MessageBoxPrompts::report(const QString& caption, const QString& text) {
    showModeless(m_report, QMessageBox::Warning, caption, text);
}

void MessageBoxPrompts::notice(const QString& caption, const QString& text) {
    showModeless(m_notice, QMessageBox::Information, caption, text);
}

void MessageBoxPrompts::showModeless(QPointer<QMessageBox>& box, QMessageBox::Icon icon,
                                     const QString& caption, const QString& text) {
    if (box == nullptr) {
        box = new QMessageBox(icon, caption, text, QMessageBox::Ok, m_window);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setModal(false);
    } else {
        box->setWindowTitle(caption);
        box->setText(text);
    }
    box->show();
    box->raise();
    box->activateWindow();
}

}  // namespace kv
