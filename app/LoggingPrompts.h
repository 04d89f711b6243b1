#pragma once

#include "sync/Prompts.h"

namespace kv {

// Every message for the operator goes to the log as well.  With a next in line (the message
// boxes) the operator sees it too; without one (the service mode) nobody is there to click, so
// the log is all: Abort/Retry answers Abort.
class LoggingPrompts : public Prompts {
public:
    explicit LoggingPrompts(Prompts* shown = nullptr) : m_shown(shown) {}
    PromptAnswer abortRetry(const QString& caption, const QString& text) override;
    void message(const QString& caption, const QString& text) override;
    void report(const QString& caption, const QString& text) override;
    bool confirm(const QString& caption, const QString& text) override;
    void setWindow(QObject* window) override {
        if (m_shown) m_shown->setWindow(window);
    }

private:
    Prompts* m_shown;
};

}  // namespace kv
