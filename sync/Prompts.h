#pragma once

#include <QString>

class QObject;

namespace kv {

enum class PromptAnswer { abort, retry };

// What the bridge reports and the window asks go through here, so that tests can answer without
// a display.  The bridge only reports (message, report, notice); questions (abortRetry,
// confirm) are the window's, asked when the operator pressed a button.
class Prompts {
public:
    virtual ~Prompts() = default;
    // Modal warning with Abort and Retry.
    virtual PromptAnswer abortRetry(const QString& caption, const QString& text) = 0;
    // Plain message with OK.
    virtual void message(const QString& caption, const QString& text) = 0;
    // A failure report that must not hold the program up; by default the plain message.
    virtual void report(const QString& caption, const QString& text) { message(caption, text); }
    // A hint that needs no answer and holds nothing up; by default the plain message.
    virtual void notice(const QString& caption, const QString& text) { message(caption, text); }
    // A question with Ano and Ne; true for Ano.  Where nobody can answer, Ne.
    virtual bool confirm(const QString& /*caption*/, const QString& /*text*/) { return false; }
    // The window the prompts belong to and come up in front of.
    virtual void setWindow(QObject* /*window*/) {}
};

}  // namespace kv
