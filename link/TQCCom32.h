#pragma once

#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "link/Clock.h"
#include "link/PortErrorText.h"
#include "link/PortProbe.h"
#include "link/Prompts.h"
#include "link/SerialDevice.h"

namespace kv {

class TformPickPort;

// The serial port component: owns one port, synchronous, polled by the application.
// Every byte value passes ReadText and WriteText unchanged.
class TQCCom32 : public QObject {
    Q_OBJECT
public:
    enum class ReopenResult { opened, otherDevice, notThere, noPermission, busy };

    TQCCom32(SerialDeviceFactory factory, Prompts& prompts, Clock& clock,
             QObject* parent = nullptr);
    ~TQCCom32() override;

    bool Open();
    void Close();
    void Purge();
    int InCount();
    std::string ReadText();
    bool WriteText(std::string_view text);

    // Blocks until input is waiting or timeoutMs has passed, so callers that wait for the unit
    // need not spin.  False at once when the port is closed; a lost port waits out the time.
    bool WaitForInput(int timeoutMs);

    // The device went away while open: it is closed, deviceLost was emitted, and reads and
    // writes no longer reopen it by themselves.  Open and Close end the state.
    bool Lost() const { return m_lost; }

    bool AllowEvents() const { return m_allowEvents; }
    void setAllowEvents(bool on) { m_allowEvents = on; }
    int Baud() const { return m_baud; }
    void setBaud(int baud);
    Handshake Handshaking() const { return m_handshaking; }
    void setHandshaking(Handshake handshake);
    int Port() const { return m_port; }
    void setPort(int port);
    const QString& EndOfResponse() const { return m_endOfResponse; }
    void setEndOfResponse(const QString& text);
    const std::string& Terminator() const { return m_terminator; }
    int ResponseTime() const { return m_responseTime; }
    void setResponseTime(int ms) { m_responseTime = ms; }
    bool ShowErrors() const { return m_showErrors; }
    void setShowErrors(bool on) { m_showErrors = on; }
    bool InUse() const { return m_inUse; }
    bool TimedOut() const { return m_timedOut; }
    bool Opened() const;
    QString Version() const { return QStringLiteral("1.4.0"); }
    std::function<void(TQCCom32*)> OnTimeout;

    // Opens the port again after it was lost, only when its name still leads to the device that
    // was open before: another device that has taken the name (another program's
    // pseudo-terminal, another unit's converter) is closed again at once, before anything is
    // written to it.  Shows no prompt.  ReopenText says the outcome to the operator.  The device
    // is the one of the last Open; a port never opened takes what it finds.
    ReopenResult reopenSameDevice();
    const QString& ReopenText() const { return m_reopenText; }
    // The device the last Open found; kept while the port is lost.
    const DeviceIdentity& Identity() const { return m_identity; }
    // "Port COM1 (/dev/ttyUSB0)".
    QString portText() const;

    // The picker of the serial port: probes COM1 to COM4, lists the serial devices the system
    // has, lets the operator choose.  True after OK with a choice: a port (Port is set) or a
    // device for the current port (remembered in porty.cfg, Port unchanged).  The port in use
    // stays open meanwhile; moving communication to the choice is the caller's decision.
    bool SelectPort();
    // The port the operator chose in the picker last.
    int ChosenPort() const { return m_chosenPort; }
    TformPickPort* PickDialog() const { return m_pickDialog; }
    // Shows the picker modally and returns its QDialog result; unset means exec().  Tests put
    // the operator's choice here.
    std::function<int(TformPickPort&)> runPickDialog;
    // The serial devices the picker offers; unset means the system's.  Tests put theirs here.
    std::function<std::vector<SystemSerialDevice>()> listSerialDevices;

    // Why the last Open failed.
    const PortFailure& OpenFailure() const { return m_openFailure; }

    // Sets the port number without reopening.
    void setPortField(int port) {
        if (port != m_port) m_identity = {};
        m_port = port;
    }

signals:
    // The open device went away (unplugged, hung up); cause in the system's words.
    void deviceLost(const QString& cause);

private:
    // Closes a device that reports itself gone; true when it did.
    bool checkLost();
    void reconfigure();
    void takeWaiting(std::string& result);
    // Reads until the terminator has arrived (true) or ResponseTime has passed.
    bool waitForTerminator(std::string& result);

    SerialDeviceFactory m_factory;
    Prompts& m_prompts;
    Clock& m_clock;
    std::unique_ptr<SerialDevice> m_device;  // null while closed
    bool m_allowEvents = false;
    int m_baud = 9600;
    Handshake m_handshaking = Handshake::hsNone;
    QString m_endOfResponse;
    std::string m_terminator;
    bool m_inUse = false;
    int m_port = 1;
    int m_chosenPort = 1;
    TformPickPort* m_pickDialog = nullptr;
    int m_responseTime = 1000;
    bool m_showErrors = true;
    bool m_timedOut = false;
    PortFailure m_openFailure;
    bool m_lost = false;
    bool m_lostWriteLogged = false;
    DeviceIdentity m_identity;
    QString m_reopenText;
    QString m_otherDeviceLogged;
};

}  // namespace kv
