#pragma once

#include <QPointer>
#include <QWidget>

#include "link/Prompts.h"

class QMessageBox;

namespace kv {

// Prompts as message boxes.  Reports of failures are not modal: an unattended bridge must go on
// working while nobody is there to close the box, so at most one report box is shown and a new
// report replaces its text.
class MessageBoxPrompts : public Prompts {
public:
    ~MessageBoxPrompts() override;
    PromptAnswer abortRetry(const QString& caption, const QString& text) override;
    void message(const QString& caption, const QString& text) override;
    void report(const QString& caption, const QString& text) override;

private:
    QPointer<QMessageBox> m_report;
};

}  // namespace kv
