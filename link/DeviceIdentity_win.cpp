#include <QString>

#include "link/DeviceIdentity.h"

namespace kv {

// The port name is all Windows gives: COMn stands for one device, and the system gives a USB
// converter its COM number by its serial number, so the same name is the same converter.
DeviceIdentity identifyDevice(const std::string& name) {
    QString port = QString::fromStdString(name).toUpper();
    if (port.startsWith(QStringLiteral("\\\\.\\"))) port = port.mid(4);
    return {port.toStdString(), {}, {}, 0};
}

DeviceIdentity identifyOpenDevice(qintptr /*handle*/, const std::string& name) {
    return identifyDevice(name);
}

// A COM port opens for one program only (no sharing), whoever asks and under whichever name.
std::unique_ptr<DeviceLock> lockOpenDevice(qintptr /*handle*/, const DeviceIdentity& /*identity*/,
                                           std::string& holder) {
    holder.clear();
    return std::make_unique<DeviceLock>();
}

std::string deviceHolder(const std::string& /*name*/) { return {}; }

}  // namespace kv
