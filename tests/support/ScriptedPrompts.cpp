#include "support/ScriptedPrompts.h"

#include <algorithm>

namespace kv::test {

PromptAnswer ScriptedPrompts::abortRetry(const QString& caption, const QString& text) {
    const Shown prompt{Kind::abortRetry, caption, text};
    shown.push_back(prompt);
    if (whileShown) whileShown(prompt);
    if (answers.empty()) return PromptAnswer::abort;
    const PromptAnswer answer = answers.front();
    answers.pop_front();
    return answer;
}

void ScriptedPrompts::message(const QString& caption, const QString& text) {
    const Shown prompt{Kind::message, caption, text};
    shown.push_back(prompt);
    if (whileShown) whileShown(prompt);
}

bool ScriptedPrompts::confirm(const QString& caption, const QString& text) {
    const Shown prompt{Kind::confirm, caption, text};
    shown.push_back(prompt);
    if (whileShown) whileShown(prompt);
    if (confirmations.empty()) return false;
    const bool yes = confirmations.front();
    confirmations.pop_front();
    return yes;
}

int ScriptedPrompts::count(const QString& text) const {
    return int(
        std::count_if(shown.begin(), shown.end(), [&](const Shown& s) { return s.text == text; }));
}

}  // namespace kv::test
