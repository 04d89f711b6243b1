#include "app/LoggingPrompts.h"

#include <QLoggingCategory>

#include "app/Logging.h"

namespace kv {

PromptAnswer LoggingPrompts::abortRetry(const QString& caption, const QString& text) {
    qCWarning(lcApp).noquote() << "message" << caption << "(Abort/Retry):" << text;
    const PromptAnswer answer = m_shown ? m_shown->abortRetry(caption, text) : PromptAnswer::abort;
    qCInfo(lcApp) << "answered" << (answer == PromptAnswer::retry ? "Retry" : "Abort");
    return answer;
}

void LoggingPrompts::message(const QString& caption, const QString& text) {
    qCInfo(lcApp).noquote() << "message" << caption << ":" << text;
    if (m_shown) m_shown->message(caption, text);
}

void LoggingPrompts::report(const QString& caption, const QString& text) {
    qCWarning(lcApp).noquote() << "message" << caption << ":" << text;
    if (m_shown) m_shown->report(caption, text);
}

bool LoggingPrompts::confirm(const QString& caption, const QString& text) {
    qCInfo(lcApp).noquote() << "question" << caption << ":" << text;
    const bool yes = m_shown ? m_shown->confirm(caption, text) : false;
    qCInfo(lcApp) << "answered" << (yes ? "Ano" : "Ne");
    return yes;
}

}  // namespace kv
