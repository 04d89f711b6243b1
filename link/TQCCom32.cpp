#include "link/TQCCom32.h"

#include <algorithm>

#include "link/CommandFrame.h"
#include "link/Logging.h"

namespace kv {

namespace {

PortResult failureOf(const std::unique_ptr<SerialDevice>& device) {
    return device ? PortResult(device->openFailure()) : PortResult(PortCause::unknown);
}

}  // namespace

TQCCom32::TQCCom32(SerialDeviceFactory factory, QObject* parent)
    : QObject(parent), m_factory(std::move(factory)) {}

TQCCom32::~TQCCom32() { Close(); }

bool TQCCom32::Opened() const { return m_device && m_device->isOpen(); }

void TQCCom32::setPort(int port) {
    if (port != m_port) m_identity = {};
    m_port = port;
}

bool TQCCom32::checkLost() {
    if (!m_device || m_device->lostCause().empty()) return false;
    const QString cause = QString::fromStdString(m_device->lostCause());
    qCWarning(lcLink).noquote() << QStringLiteral("COM%1 (%2) lost: %3")
                                       .arg(m_port)
                                       .arg(QString::fromStdString(portDeviceName(m_port)), cause);
    Close();
    m_lost = true;
    m_lostWriteLogged = false;
    emit deviceLost(cause);
    return true;
}

PortResult TQCCom32::Open() {
    Close();
    const std::string name = portDeviceName(m_port);
    std::unique_ptr<SerialDevice> device = m_factory();
    if (!device || !device->open(name)) {
        qCDebug(lcLink) << "COM" << m_port << "(" << name.c_str() << ") did not open";
        return failureOf(device);
    }
    // From now on this is the port's device: a reopen after a loss looks for it.
    m_identity = device->identity();
    adopt(std::move(device));
    return {};
}

void TQCCom32::adopt(std::unique_ptr<SerialDevice> device) {
    m_device = std::move(device);
    m_device->setInputListener([this] { emit inputArrived(); });
    m_device->setWrittenListener([this] { emit bytesWritten(); });
    m_device->applyLineSettings(m_baud);
}

QString TQCCom32::portText() const {
    return QStringLiteral("Port ") + portLabel(m_port, portDeviceName(m_port));
}

PortResult TQCCom32::otherDevice(const DeviceIdentity& found) {
    const QString text =
        QStringLiteral("COM%1 (%2) is now %3, not %4: left alone")
            .arg(m_port)
            .arg(QString::fromStdString(portDeviceName(m_port)),
                 QString::fromStdString(found.text()), QString::fromStdString(m_identity.text()));
    // Tried every few seconds while it waits: the same finding is logged once.
    if (text != m_otherDeviceLogged)
        qCWarning(lcLink).noquote() << text;
    else
        qCDebug(lcLink).noquote() << text;
    m_otherDeviceLogged = text;
    return PortResult(PortCause::otherDevice, found.text());
}

PortResult TQCCom32::reopenSameDevice() {
    if (Opened()) return {};
    const std::string name = portDeviceName(m_port);
    // Looked at before it is opened: opening alone already changes another program's line
    // settings.
    if (const DeviceIdentity there = identifyDevice(name);
        m_identity.known() && there.known() && !isReturnOf(m_identity, there))
        return otherDevice(there);
    std::unique_ptr<SerialDevice> device = m_factory();
    if (!device || !device->open(name)) {
        const PortResult failure = failureOf(device);
        return failure;
    }
    // Again on the open device, which may have changed since it was looked at.
    if (const DeviceIdentity opened = device->identity();
        m_identity.known() && !isReturnOf(m_identity, opened)) {
        device->close();
        return otherDevice(opened);
    }
    if (!m_identity.known()) m_identity = device->identity();
    adopt(std::move(device));
    m_lost = false;
    return {};
}

void TQCCom32::Close() {
    m_lost = false;
    if (!m_device) return;
    // Released first, so a handler that runs meanwhile never sees a half-closed device.
    std::unique_ptr<SerialDevice> device = std::move(m_device);
    device->close();
}

void TQCCom32::Purge() {
    if (Opened()) m_device->purge();
    checkLost();
}

int TQCCom32::InCount() {
    if (!Opened()) return 0;
    const int waiting = std::max(m_device->bytesWaiting(), 0);
    return checkLost() ? 0 : waiting;
}

std::string TQCCom32::ReadText() {
    std::string result;
    const int n = InCount();
    if (n > 0 && m_device) result = m_device->read(n);
    checkLost();
    if (!result.empty()) qCDebug(lcLink) << "read" << hexDump(result).c_str();
    return result;
}

PortResult TQCCom32::WriteText(std::string_view text) {
    if (m_lost) {
        if (!m_lostWriteLogged)
            qCInfo(lcLink) << "COM" << m_port << "lost: nothing is written until it is back";
        m_lostWriteLogged = true;
        return PortCause::lost;
    }
    if (!Opened()) return PortCause::closed;
    qCDebug(lcLink) << "write" << hexDump(text).c_str();
    const std::int64_t written = m_device->write(text);
    if (checkLost()) return PortCause::lost;
    if (written != std::int64_t(text.size())) {
        qCWarning(lcLink) << "short write:" << written << "of" << text.size() << "bytes";
        return PortCause::shortWrite;
    }
    return {};
}

std::int64_t TQCCom32::BytesToWrite() {
    if (!Opened()) return 0;
    const std::int64_t held = std::max<std::int64_t>(m_device->bytesToWrite(), 0);
    return checkLost() ? 0 : held;
}

}  // namespace kv
