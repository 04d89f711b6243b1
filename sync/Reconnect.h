#pragma once

#include <QObject>
#include <QTimer>
#include <functional>
#include <string>

#include "link/TQCCom32.h"
#include "sync/Engine.h"
#include "sync/Fields.h"

namespace kv {

// A port that goes away comes back by itself.  When the device is lost while communication
// runs, or an unattended start finds it missing, the state says so and the same port is tried
// again every few seconds, without blocking anything; when it opens, communication resumes as a
// start does (input dropped, start frame with the time).  The tick goes on meanwhile, so a reply
// under way is still processed; frames to the unit are not kept for later.  Stop, or a start by
// the operator, ends the waiting.
class Reconnect : public QObject {
    Q_OBJECT
public:
    static constexpr int kRetryMs = 3000;

    // tick is the timer that drives the engine; it is started when a port that never opened
    // comes up.
    Reconnect(Engine& engine, TQCCom32& com, Fields& fields, QTimer& tick,
              QObject* parent = nullptr);

    // Runs a start that nobody watches (the automatic start, the service mode): the port's
    // prompts stay unshown, and a chosen port that does not open is waited for.
    void unattendedStart(const std::function<void()>& start);

    bool waiting() const { return m_retry.isActive(); }
    void setRetryInterval(int ms) { m_retry.setInterval(ms); }
    // One attempt now; true when the port is open again.
    bool retryNow();

    // "Port COM1 (/dev/ttyUSB0)".
    static std::string portText(int port);

private:
    void lost();
    void wait(const std::string& detail);
    void resume();

    Engine& m_engine;
    TQCCom32& m_com;
    Fields& m_fields;
    QTimer& m_tick;
    QTimer m_retry;
};

}  // namespace kv
