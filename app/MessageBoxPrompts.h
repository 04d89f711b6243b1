#pragma once

#include <QMessageBox>
#include <QPointer>
#include <QWidget>

#include "sync/Prompts.h"

namespace kv {

// Prompts as message boxes, each owned by the main window and in front of it.  Reports of
// failures are not modal: an unattended bridge must go on working while nobody is there to
// close the box, so at most one report box is shown and a new report replaces its text.
class MessageBoxPrompts : public Prompts {
public:
    ~MessageBoxPrompts() override;
    PromptAnswer abortRetry(const QString& caption, const QString& text) override;
    void message(const QString& caption, const QString& text) override;
    void report(const QString& caption, const QString& text) override;
    void notice(const QString& caption, const QString& text) override;
    bool confirm(const QString& caption, const QString& text) override;
    void setWindow(QObject* window) override { m_window = qobject_cast<QWidget*>(window); }

private:
    void showModeless(QPointer<QMessageBox>& box, QMessageBox::Icon icon, const QString& caption,
                      const QString& text);

    QPointer<QWidget> m_window;
    QPointer<QMessageBox> m_report;
    QPointer<QMessageBox> m_notice;
    QPointer<QMessageBox> m_message;
};

}  // namespace kv
