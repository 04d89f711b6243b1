#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "link/DeviceIdentity.h"
#include "link/PortErrorText.h"

namespace kv {

// Unread input a device keeps at most: a line flooding faster than the bridge reads is held
// back here (and dropped by the line), not piled up in memory.
inline constexpr int kMaxUnreadInput = 64 * 1024;

// The narrow device underneath TQCCom32: one serial device opened by name.
class SerialDevice {
public:
    virtual ~SerialDevice() = default;
    // Exclusive read-write open of an existing device.
    virtual bool open(const std::string& deviceName) = 0;
    // Why the last open failed.
    virtual PortFailure openFailure() const { return {}; }
    // 8 data bits, no parity, one stop bit, the given rate, no flow control; DTR and RTS held
    // off where the device has them.  A device without modem lines (a pseudo-terminal) is not a
    // failure.
    virtual void applyLineSettings(int baud) = 0;
    virtual bool isOpen() const = 0;
    // Bytes waiting in the input queue (taken in on the event loop); 0 when the query fails.
    virtual int bytesWaiting() = 0;
    // Reads at most maxBytes without waiting.
    virtual std::string read(int maxBytes) = 0;
    // Queues the bytes and returns at once: the count queued (all of them unless the device
    // refuses).  The system takes them as the line allows; what it has not yet taken is
    // bytesToWrite, and each take is told to the written listener.
    virtual std::int64_t write(std::string_view bytes) = 0;
    // Bytes written that the system has not taken yet.
    virtual std::int64_t bytesToWrite() { return 0; }
    // Called whenever the system has taken written bytes: from the event loop, and also from
    // inside this device's own calls (a write).
    virtual void setWrittenListener(std::function<void()> listener) { (void)listener; }
    // Called whenever input has arrived, from the event loop only: bytesWaiting and read give
    // what arrived up to the last notice.  Devices that cannot tell are looked at by the tick
    // alone.
    virtual void setInputListener(std::function<void()> listener) { (void)listener; }
    // Discards what is waiting to be read.  What was written still goes out: the answer to the
    // unit is written just before the purge that ends an exchange.
    virtual void purge() = 0;
    // What was written and not yet taken is handed to the system first, as far as it takes it
    // without waiting; what it does not take is discarded with a warning naming the bytes.
    virtual void close() = 0;
    // Why the device went away while open (a USB converter unplugged, a line hung up), in the
    // system's words; empty while it is there.  Once set, only a new open helps.
    virtual std::string lostCause() const { return {}; }
    // What the open device is; unknown where the device cannot tell.
    virtual DeviceIdentity identity() const { return {}; }
};

// TQCCom32 makes a fresh device for every open.
using SerialDeviceFactory = std::function<std::unique_ptr<SerialDevice>()>;

// The production device, on QSerialPort.
std::unique_ptr<SerialDevice> makeQtSerialDevice();

// The file in the working directory that gives a port the device the operator chose for it in
// the port picker, a line each:
//     COM1=/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0
inline constexpr const char* kPortDevicesFile = "porty.cfg";

// Port n is opened as the device named by KVBRIDGE_COM<n> when that is set, else as the one
// remembered for it in porty.cfg, else as COM<n> on Windows and /dev/ttyS<n-1> elsewhere.
std::string portDeviceName(int port);
// KVBRIDGE_COM<n>; empty when not set.
std::string environmentPortDevice(int port);
// What porty.cfg gives port n; empty when nothing.
std::string rememberedPortDevice(int port);
// COM<n> on Windows, /dev/ttyS<n-1> elsewhere.
std::string defaultPortDevice(int port);
// Writes device for port n into porty.cfg, keeping the other ports' lines; false when the file
// could not be written.
bool rememberPortDevice(int port, const std::string& device);

}  // namespace kv
