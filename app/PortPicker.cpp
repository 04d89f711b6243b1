#include "app/PortPicker.h"

#include <QLineEdit>
#include <algorithm>

namespace kv {

bool PortPicker::select(QWidget* parent, int shownPort) {
    delete m_dialog;
    m_dialog = new TformPickPort(parent);
    TformPickPort& dialog = *m_dialog;
    // Before the first Start the component's port is still its first; a device typed now is
    // for the port the window shows chosen.
    const int current = m_com.Opened() || shownPort < 1 || shownPort > 4 ? m_com.Port() : shownPort;

    // Each port is tried once on a device of its own.  The port in use is not touched:
    // communication goes on while the operator chooses.
    const std::vector<SystemSerialDevice> system =
        listSerialDevices ? listSerialDevices() : systemSerialDevices();
    const std::string inUse = m_com.Opened() ? portDeviceName(current) : std::string();
    std::vector<PortInfo> ports;
    for (int n = 1; n <= 4; ++n) {
        PortInfo info;
        info.port = n;
        info.device = portDeviceName(n);
        if (!inUse.empty() && (n == current || sameDevice(info.device, inUse))) {
            info.opened = info.inUse = true;
        } else if (std::unique_ptr<SerialDevice> probe = m_factory();
                   probe && probe->open(info.device)) {
            info.opened = true;
            probe->close();
        } else {
            info.failure = probe ? probe->openFailure() : PortFailure{};
        }
        for (const SystemSerialDevice& d : system)
            if (sameDevice(info.device, d.device)) info.description = d.description;
        if (info.opened) dialog.addItem(QStringLiteral("COM%1").arg(n));
        ports.push_back(info);
    }
    // The devices no port stands for can become the current port's.
    std::vector<SystemSerialDevice> others;
    for (const SystemSerialDevice& d : system)
        if (std::none_of(ports.begin(), ports.end(),
                         [&](const PortInfo& p) { return sameDevice(p.device, d.device); }))
            others.push_back(d);
    dialog.showPorts(ports);
    dialog.showDevices(current, others, !environmentPortDevice(current).empty());

    dialog.setItemIndex(int(dialog.items().indexOf(QStringLiteral("COM%1").arg(current))));
    m_chosenPort = current;
    m_refusal.clear();
    const int answer = runPickDialog ? runPickDialog(dialog) : dialog.exec();
    if (answer != QDialog::Accepted) return false;
    if (const QString typed = dialog.typedDevice()->text().trimmed();
        !typed.isEmpty() && dialog.typedDevice()->isEnabled()) {
        // Tried before it is kept: a mistyped name must not become the port's device.
        const std::string device = typed.toStdString();
        if (inUse.empty() || !sameDevice(device, inUse)) {
            std::unique_ptr<SerialDevice> probe = m_factory();
            if (!probe || !probe->open(device)) {
                m_refusal =
                    portErrorText(current, device, probe ? probe->openFailure() : PortFailure{});
                return false;
            }
            probe->close();
        }
        return rememberPortDevice(current, device);
    }
    if (const int chosen = dialog.itemIndex(); chosen >= 0) {
        // The digit after "COM"; a port in use stays the component's port until the window
        // moves communication.
        m_chosenPort = dialog.items().at(chosen).mid(3, 1).toInt();
        if (!m_com.Opened()) m_com.setPort(m_chosenPort);
        return true;
    }
    if (const int chosen = dialog.deviceIndex(); chosen >= 0 && chosen < int(others.size()))
        return rememberPortDevice(current, others[std::size_t(chosen)].stablePath);
    return false;
}

}  // namespace kv
