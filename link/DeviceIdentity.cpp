#include "link/DeviceIdentity.h"

namespace kv {

std::string DeviceIdentity::text() const {
    std::string text = device.empty() ? std::string("unknown device") : device;
    if (!number.empty()) text += " " + number;
    if (!usbSerial.empty()) text += " usb " + usbSerial;
    if (madeNs != 0) text += " made " + std::to_string(madeNs);
    return text;
}

bool sameDevice(const DeviceIdentity& a, const DeviceIdentity& b) {
    // A converter is known by its serial number wherever it is plugged in.
    if (!a.usbSerial.empty() || !b.usbSerial.empty()) return a.usbSerial == b.usbSerial;
    if (!a.number.empty() || !b.number.empty()) return a.number == b.number && a.madeNs == b.madeNs;
    return a.device == b.device;
}

bool isReturnOf(const DeviceIdentity& original, const DeviceIdentity& found) {
    if (!original.usbSerial.empty() || !found.usbSerial.empty())
        return original.usbSerial == found.usbSerial;
    if (original.madeNs != 0 && original.viaLink)
        return found.linkMadeNs != original.linkMadeNs || sameDevice(original, found);
    return sameDevice(original, found);
}

}  // namespace kv
