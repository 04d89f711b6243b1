#include "app/MessageBoxPrompts.h"

#include <QMessageBox>

namespace kv {

MessageBoxPrompts::~MessageBoxPrompts() { delete m_report; }

PromptAnswer MessageBoxPrompts::abortRetry(const QString& caption, const QString& text) {
    const auto answer =
        QMessageBox::warning(nullptr, caption, text, QMessageBox::Abort | QMessageBox::Retry);
    // A box that ends without a click (the program is ending) must not ask again.
    return answer == QMessageBox::Retry ? PromptAnswer::Retry : PromptAnswer::Abort;
}

void MessageBoxPrompts::message(const QString& caption, const QString& text) {
    QMessageBox::information(nullptr, caption, text);
}

void MessageBoxPrompts::report(const QString& caption, const QString& text) {
    if (m_report == nullptr) {
        m_report = new QMessageBox(QMessageBox::Warning, caption, text, QMessageBox::Ok);
        m_report->setAttribute(Qt::WA_DeleteOnClose);
        m_report->setModal(false);
    } else {
        m_report->setWindowTitle(caption);
        m_report->setText(text);
    }
    m_report->show();
    m_report->raise();
}

}  // namespace kv
