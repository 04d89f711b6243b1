#pragma once

#include <QtGlobal>
#include <cstdint>
#include <memory>
#include <string>

namespace kv {

// What a serial device is, so that a device that later turns up under the same name can be told
// from it.  On unix: the device number; for a USB converter its vendor, product and serial number
// as the system reports them, which it keeps when it comes back under another number; for a
// pseudo-terminal also the moment it was made, because the number of one that ends is handed to
// the next at once; and whether the name opened is a link to the device.  On Windows the port
// name (COMn) is the identity: the system already gives a converter its COM number by its serial
// number.
struct DeviceIdentity {
    std::string device;       // the resolved name: /dev/ttyUSB0, COM3; empty when unknown
    std::string number;       // "188:0": the major and minor device number
    std::string usbSerial;    // "0403:6001:A50285BI"
    std::int64_t madeNs = 0;  // pseudo-terminals only
    bool viaLink = false;  // the name opened is not the device's own: /dev/ttyVIRT0 -> /dev/pts/7
    std::int64_t linkMadeNs = 0;  // via a link: when the link itself was made (changed)

    bool known() const { return !device.empty(); }
    // "/dev/ttyUSB0 188:0 usb 0403:6001:A50285BI", for the log.
    std::string text() const;
};

bool sameDevice(const DeviceIdentity& a, const DeviceIdentity& b);

// Whether found, what a lost port's name leads to now, is that port back: a USB converter by
// its serial number where it has one, other hardware by its device.  A pseudo-terminal opened
// through a link (a virtual port's fixed name) is back with whatever the link leads to once the
// link was made anew: the program that makes it makes a new one for each connection.  A link
// left dangling that leads again to its old number leads to another program's terminal.  One
// opened by its own name (/dev/pts/7) is never back once it has ended: its number goes to the
// next terminal made, which is another program's.
bool isReturnOf(const DeviceIdentity& original, const DeviceIdentity& found);

// The device the name leads to now; unknown when there is none.
DeviceIdentity identifyDevice(const std::string& name);
// The device open on handle (a descriptor on unix, a HANDLE on Windows), opened by name.
DeviceIdentity identifyOpenDevice(qintptr handle, const std::string& name);

// Keeps a device for this program; released when destroyed, after the device is closed.
class DeviceLock {
public:
    virtual ~DeviceLock() = default;
};

// Takes the device open on handle for this program alone.  The kernel's exclusive open is not
// enough: root passes it, and the lock file of the serial layer goes by the name, so two names of
// one device both open.  Null when another holds it; holder then names that one when it can
// ("kvbridge 1.1.0 v /srv/x (proces 1234)", without " v /srv/x" when its directory is unknown).
std::unique_ptr<DeviceLock> lockOpenDevice(qintptr handle, const DeviceIdentity& identity,
                                           std::string& holder);

// Who holds the device the name leads to, as lockOpenDevice names it; empty when unknown.
std::string deviceHolder(const std::string& name);

}  // namespace kv
