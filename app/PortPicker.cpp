#include "app/PortPicker.h"

#include <QEventLoop>
#include <QLineEdit>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <optional>

namespace kv {

namespace {

// Probe threads started and not yet deleted; one whose device never answers may outlive its
// picker.
std::atomic<int> probeThreads{0};

// What a probe of each device found: opened (done), why not, or nothing yet.
struct Probes {
    std::mutex mutex;
    std::vector<std::optional<PortResult>> found;
    QEventLoop* waiting = nullptr;  // the loop to end once all are found
};

// Each device opened once and closed again, each on a thread of its own: the window (and the
// bridge under it) go on meanwhile, and a device that does not answer holds up no other.  One
// still not answering at the deadline is left to its thread and reported as not answering.
std::vector<std::optional<PortResult>> probeDevices(const SerialDeviceFactory& factory,
                                                    const std::vector<std::string>& devices,
                                                    int deadlineMs) {
    auto probes = std::make_shared<Probes>();
    probes->found.resize(devices.size());
    if (devices.empty()) return {};
    QEventLoop loop;
    {
        std::lock_guard lock(probes->mutex);
        probes->waiting = &loop;
    }
    for (std::size_t i = 0; i < devices.size(); ++i) {
        // A QThread: the serial layer watches its device with notifiers, which want one.
        QThread* thread = QThread::create([probes, factory, device = devices[i], i] {
            std::unique_ptr<SerialDevice> probe = factory();
            PortResult result = PortFailure{};
            if (probe && probe->open(device)) {
                probe->close();
                result = {};
            } else if (probe) {
                result = probe->openFailure();
            }
            probe.reset();
            std::lock_guard lock(probes->mutex);
            probes->found[i] = result;
            const auto& found = probes->found;
            const bool all = std::all_of(found.begin(), found.end(),
                                         [](const auto& f) { return f.has_value(); });
            if (all && probes->waiting)
                QMetaObject::invokeMethod(probes->waiting, &QEventLoop::quit, Qt::QueuedConnection);
        });
        // Left to run past the deadline if it must, and deleted once it has ended.
        ++probeThreads;
        QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
        QObject::connect(thread, &QObject::destroyed, [] { --probeThreads; });
        thread->start();
    }
    QTimer::singleShot(deadlineMs, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    std::lock_guard lock(probes->mutex);
    probes->waiting = nullptr;
    return probes->found;
}

}  // namespace

int PortPicker::probesRunning() { return probeThreads.load(); }

bool PortPicker::select(QWidget* parent, PortInUse inUse, int shownPort) {
    delete m_dialog;
    m_dialog = new TformPickPort(parent);
    TformPickPort& dialog = *m_dialog;
    // Before the first Start the component's port is still its first; a device typed now is
    // for the port the window shows chosen.
    const int current = inUse.open || shownPort < 1 || shownPort > 4 ? inUse.port : shownPort;

    // Each port is tried once on a device of its own.  The port in use is not touched:
    // communication goes on while the operator chooses.
    const std::vector<SystemSerialDevice> system =
        listSerialDevices ? listSerialDevices() : systemSerialDevices();
    const std::string inUseDevice = inUse.open ? portDeviceName(current) : std::string();
    std::vector<std::string> probed;
    for (int n = 1; n <= 4; ++n)
        if (inUseDevice.empty() || (n != current && !sameDevice(portDeviceName(n), inUseDevice)))
            probed.push_back(portDeviceName(n));
    const std::vector<std::optional<PortResult>> found =
        probeDevices(m_factory, probed, probeDeadlineMs);
    std::vector<PortInfo> ports;
    std::vector<int> offered;  // the port of each item, in order
    for (int n = 1, next = 0; n <= 4; ++n) {
        PortInfo info;
        info.port = n;
        info.device = portDeviceName(n);
        if (!inUseDevice.empty() && (n == current || sameDevice(info.device, inUseDevice))) {
            info.opened = info.inUse = true;
        } else if (const std::optional<PortResult>& result = found[std::size_t(next++)]; !result) {
            info.failure = {PortCause::unknown, "neodpovídá"};
        } else if (result->done()) {
            info.opened = true;
        } else {
            info.failure = {result->cause, result->detail};
        }
        for (const SystemSerialDevice& d : system)
            if (sameDevice(info.device, d.device)) info.description = d.description;
        if (info.opened) {
            dialog.addItem(QStringLiteral("COM%1").arg(n));
            offered.push_back(n);
        }
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
        if (inUseDevice.empty() || !sameDevice(device, inUseDevice)) {
            const std::optional<PortResult> found =
                probeDevices(m_factory, {device}, probeDeadlineMs).front();
            if (!found || !found->done()) {
                m_refusal = portErrorText(
                    current, device, found ? *found : PortResult(PortCause::unknown, "neodpovídá"));
                return false;
            }
        }
        return rememberPortDevice(current, device);
    }
    if (const int chosen = dialog.itemIndex(); chosen >= 0 && chosen < int(offered.size())) {
        // The window makes it the settings' port, which the next Start opens (and moves a
        // running communication to it at once).
        m_chosenPort = offered[std::size_t(chosen)];
        return true;
    }
    if (const int chosen = dialog.deviceIndex(); chosen >= 0 && chosen < int(others.size()))
        return rememberPortDevice(current, others[std::size_t(chosen)].stablePath);
    return false;
}

}  // namespace kv
