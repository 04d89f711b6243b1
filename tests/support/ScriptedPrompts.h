#pragma once

#include <QString>
#include <deque>
#include <functional>
#include <vector>

#include "sync/Prompts.h"

namespace kv::test {

// Answers message boxes from a script and records every one shown.
class ScriptedPrompts : public Prompts {
public:
    enum class Kind { abortRetry, message, confirm };
    struct Shown {
        Kind kind;
        QString caption;
        QString text;
    };

    PromptAnswer abortRetry(const QString& caption, const QString& text) override;
    void message(const QString& caption, const QString& text) override;
    bool confirm(const QString& caption, const QString& text) override;

    // Answers for abortRetry, used front first; Abort once they run out.
    std::deque<PromptAnswer> answers;
    // Answers for confirm, front first; Ne once they run out.
    std::deque<bool> confirmations;
    std::vector<Shown> shown;
    // Runs while a prompt is "open", before it is answered, as a modal box lets handlers run.
    std::function<void(const Shown&)> whileShown;

    int count(const QString& text) const;
};

}  // namespace kv::test
