#pragma once

#include <QPointer>
#include <functional>
#include <vector>

#include "app/TformPickPort.h"
#include "link/PortProbe.h"
#include "link/SerialDevice.h"
#include "sync/Bridge.h"

class QWidget;

namespace kv {

// The window's port picker (Porty?): probes COM1 to COM4 on devices of its own, lists the serial
// devices the system has, lets the operator choose.  The port in use stays open meanwhile;
// moving communication to the choice is the window's decision.
class PortPicker {
public:
    explicit PortPicker(SerialDeviceFactory probeFactory) : m_factory(std::move(probeFactory)) {}
    ~PortPicker() { delete m_dialog; }

    // Shown in front of parent.  True after OK with a choice: a port (chosenPort, for the
    // window to make the settings' port) or a device for the current port (remembered in
    // porty.cfg).  The serial component is not touched.
    // The current port is the one in use (open), else shownPort (the one the window shows
    // chosen; 0 for inUse's).
    bool select(QWidget* parent, PortInUse inUse, int shownPort = 0);
    // The port the operator chose last.
    int chosenPort() const { return m_chosenPort; }
    // Why the device typed in the last picker was not taken ("COM2 (/dev/x): zařízení
    // neexistuje"); empty when it was, or when none was typed.
    const QString& refusal() const { return m_refusal; }

    // Shows the picker modally and returns its QDialog result; unset means exec().  Tests put
    // the operator's choice here.
    std::function<int(TformPickPort&)> runPickDialog;
    // The serial devices the picker offers; unset means the system's.  Tests put theirs here.
    std::function<std::vector<SystemSerialDevice>()> listSerialDevices;
    // A device whose driver does not answer its open holds the picker up this long at most
    // (the probes run on a thread of their own; the window and the bridge go on meanwhile).
    int probeDeadlineMs = 3000;
    // Probe threads not yet ended and deleted (a stuck device's outlives the picker).
    static int probesRunning();

private:
    SerialDeviceFactory m_factory;
    QPointer<TformPickPort> m_dialog;
    int m_chosenPort = 1;
    QString m_refusal;
};

}  // namespace kv
