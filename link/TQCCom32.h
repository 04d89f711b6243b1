#pragma once

#include <QObject>
#include <QString>
#include <memory>
#include <string>

#include "link/Clock.h"
#include "link/PortErrorText.h"
#include "link/SerialDevice.h"

namespace kv {

// The serial port component: owns one port; the application looks at it when it likes, and
// hears of input as it arrives.  It opens
// only when asked (Open, reopenSameDevice), never asks anybody anything, and says what each open
// and write came to.  Every byte value passes ReadText and WriteText unchanged.
class TQCCom32 : public QObject {
    Q_OBJECT
public:
    explicit TQCCom32(SerialDeviceFactory factory, QObject* parent = nullptr);
    ~TQCCom32() override;

    // Opens the port with the line settings, closing it first when open; one attempt.
    PortResult Open();
    void Close();
    void Purge();
    int InCount();
    // What is waiting; nothing from a closed port.
    std::string ReadText();
    // Queues the text and returns at once; a closed or lost port takes nothing and says so, it
    // is not opened for the write.  Done means queued whole, not yet on the line.
    PortResult WriteText(std::string_view text);
    // Bytes written that the system has not taken yet; 0 from a closed port.
    std::int64_t BytesToWrite();

    bool Opened() const;

    // The line settings and the port: kept for the next Open, the open device is not touched.
    int Baud() const { return m_baud; }
    void setBaud(int baud) { m_baud = baud; }
    int Port() const { return m_port; }
    void setPort(int port);

    // Opens the port again after it was lost, only when its name still leads to the port's own
    // device (DeviceIdentity tells what counts as the same): other hardware that has taken the
    // name is closed again at once, before anything is written to it.  The outcome is
    // the cause alone: the bridge says it in its words.  The device is the one of the last Open; a
    // port never opened takes what it finds.
    PortResult reopenSameDevice();
    // "Port COM1 (/dev/ttyUSB0)".
    QString portText() const;

signals:
    // The open device went away (unplugged, hung up); cause in the system's words.
    void deviceLost(const QString& cause);
    // Input has arrived (where the device tells; the caller looks with InCount and ReadText).
    // Emitted from the event loop only.
    void inputArrived();
    // The system has taken written bytes (BytesToWrite tells what is left).  Also emitted from
    // inside WriteText: listeners take it queued.
    void bytesWritten();

private:
    // Closes a device that reports itself gone; true when it did.
    bool checkLost();
    PortResult otherDevice(const DeviceIdentity& found);
    // An opened device becomes the port's: its input heard of, the line settings applied.
    void adopt(std::unique_ptr<SerialDevice> device);

    SerialDeviceFactory m_factory;
    std::unique_ptr<SerialDevice> m_device;  // null while closed
    int m_baud = 9600;
    int m_port = 1;
    bool m_lost = false;
    bool m_lostWriteLogged = false;
    DeviceIdentity m_identity;
    QString m_otherDeviceLogged;
};

}  // namespace kv
