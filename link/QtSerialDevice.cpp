#include <QSerialPort>
#include <QSerialPortInfo>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <mutex>
#include <utility>

#include "link/Logging.h"
#include "link/PortProbe.h"
#include "link/SerialDevice.h"

namespace kv {

namespace {

// True when failure is not the open failure logged last (a repeat is logged quietly); it is the
// last one from now on.  The port picker probes on a thread of its own while the bridge retries
// a lost port: one at a time.
bool newOpenFailure(const QString& failure) {
    static std::mutex mutex;
    static QString last;
    std::lock_guard lock(mutex);
    return std::exchange(last, failure) != failure;
}

class QtSerialDevice final : public SerialDevice {
public:
    QtSerialDevice() {
        // A device that went away reports it once, from whichever call or notification meets it
        // first; clearError() afterwards does not make it come back.
        QObject::connect(&m_port, &QSerialPort::errorOccurred,
                         [this](QSerialPort::SerialPortError e) {
                             // A write that finds the system's buffer full is told to try
                             // again: the bytes stay queued and go when the port has room.
                             if (e == QSerialPort::ResourceError &&
                                 m_port.errorString() == qt_error_string(EAGAIN))
                                 return;
                             if (m_lost.empty() && m_port.isOpen() &&
                                 (e == QSerialPort::ResourceError || e == QSerialPort::ReadError ||
                                  e == QSerialPort::WriteError))
                                 m_lost = m_port.errorString().toStdString();
                         });
    }

    void setInputListener(std::function<void()> listener) override {
        QObject::disconnect(m_inputConnection);
        if (listener)
            m_inputConnection = QObject::connect(&m_port, &QSerialPort::readyRead, listener);
    }

    void setWrittenListener(std::function<void()> listener) override {
        QObject::disconnect(m_writtenConnection);
        if (listener)
            m_writtenConnection = QObject::connect(&m_port, &QSerialPort::bytesWritten,
                                                   [listener](qint64) { listener(); });
    }

    bool open(const std::string& deviceName) override {
        m_port.setPortName(QString::fromLocal8Bit(deviceName.data(), qsizetype(deviceName.size())));
        // QSerialPort opens exclusively: a lock file plus TIOCEXCL on unix, share mode 0 on
        // Windows.
        if (!m_port.open(QIODevice::ReadWrite)) {
            m_failure = classifyOpenFailure(deviceName, openError(m_port.error()),
                                            m_port.errorString().toStdString());
            // A port waited for is tried every few seconds: the same failure is logged once.
            const QString failure = m_port.portName() + QStringLiteral(": ") + m_port.errorString();
            if (newOpenFailure(failure))
                qCInfo(lcLink).noquote() << "cannot open" << failure;
            else
                qCDebug(lcLink).noquote() << "cannot open" << failure;
            m_port.clearError();
            return false;
        }
        m_port.setReadBufferSize(kMaxUnreadInput);
        m_identity = identifyOpenDevice(qintptr(m_port.handle()), deviceName);
        std::string holder;
        m_lock = lockOpenDevice(qintptr(m_port.handle()), m_identity, holder);
        if (!m_lock) {
            m_port.close();
            m_port.clearError();
            m_failure = {PortCause::busy, holder};
            const QString failure = m_port.portName() + QStringLiteral(": held by ") +
                                    QString::fromStdString(holder.empty() ? "another" : holder);
            if (newOpenFailure(failure)) qCInfo(lcLink).noquote() << "cannot open" << failure;
            return false;
        }
        newOpenFailure({});
        m_lost.clear();
        qCInfo(lcLink) << "opened" << m_port.portName() << "as" << m_identity.text().c_str();
        return true;
    }

    DeviceIdentity identity() const override {
        return m_port.isOpen() ? m_identity : DeviceIdentity{};
    }

    void applyLineSettings(int baud) override {
        if (!m_port.isOpen()) return;
        bool ok = m_port.setBaudRate(baud);
        ok = m_port.setDataBits(QSerialPort::Data8) && ok;
        ok = m_port.setParity(QSerialPort::NoParity) && ok;
        ok = m_port.setStopBits(QSerialPort::OneStop) && ok;
        ok = m_port.setFlowControl(QSerialPort::NoFlowControl) && ok;
        if (!ok) qCWarning(lcLink) << "line settings refused:" << m_port.errorString();
        m_port.clearError();
        // The unit needs neither DTR nor RTS.  A pseudo-terminal has no modem lines and refuses
        // these; that is no failure.
        if (!m_port.setDataTerminalReady(false)) m_port.clearError();
        if (!m_port.setRequestToSend(false)) m_port.clearError();
    }

    PortFailure openFailure() const override { return m_failure; }

    bool isOpen() const override { return m_port.isOpen(); }
    std::string lostCause() const override { return m_lost; }

    int bytesWaiting() override {
        if (!m_port.isOpen()) return 0;
        // Only what the port has taken in on its input notice: a look that fetched input itself
        // would turn the event loop from inside the engine's step and hand it notices there.
        return int(std::min<qint64>(m_port.bytesAvailable(), INT_MAX));
    }

    std::string read(int maxBytes) override {
        if (!m_port.isOpen() || maxBytes <= 0) return {};
        const QByteArray bytes = m_port.read(maxBytes);
        return std::string(bytes.constData(), std::size_t(bytes.size()));
    }

    std::int64_t write(std::string_view bytes) override {
        if (!m_port.isOpen() || bytes.empty()) return 0;
        const qint64 queued = m_port.write(bytes.data(), qint64(bytes.size()));
        if (queued < 0) {
            qCWarning(lcLink) << "write failed:" << m_port.errorString();
            m_port.clearError();
            return 0;
        }
        // Handed to the system at once as far as it has room, without waiting; the rest goes
        // when the port tells it can take more.
        m_port.flush();
        m_port.clearError();
        return queued;
    }

    std::int64_t bytesToWrite() override { return m_port.isOpen() ? m_port.bytesToWrite() : 0; }

    void purge() override {
        if (!m_port.isOpen()) return;
        // Only what came in is discarded.  A write here returns once the operating system has
        // the bytes, not once they are on the line: flushing the output as well would drop the
        // answer the unit is waiting for, sent just before the purge that ends an exchange.
        m_port.clear(QSerialPort::Input);
        m_port.clearError();
    }

    void close() override {
        if (!m_port.isOpen()) return;
        // The port discards at its close what the system has not taken: hand over, a block at a
        // time, as much as the system takes now (no waiting), and say how much did not go.
        for (qint64 held = m_port.bytesToWrite(); held > 0;) {
            m_port.flush();
            const qint64 left = m_port.bytesToWrite();
            if (left >= held) break;
            held = left;
        }
        if (const qint64 left = m_port.bytesToWrite(); left > 0)
            qCWarning(lcLink).noquote()
                << QStringLiteral(
                       "%1 closed with %2 bytes written that the system did not take: "
                       "they never reach the unit")
                       .arg(m_port.portName())
                       .arg(left);
        m_port.close();
        m_port.clearError();
        // After the device: its lock file says who holds it while it is open.
        m_lock.reset();
        qCInfo(lcLink) << "closed" << m_port.portName();
    }

private:
    static OpenError openError(QSerialPort::SerialPortError error) {
        switch (error) {
            case QSerialPort::DeviceNotFoundError:
                return OpenError::notFound;
            case QSerialPort::PermissionError:
                return OpenError::denied;
            case QSerialPort::UnsupportedOperationError:
                return OpenError::unsupported;
            default:
                return OpenError::other;
        }
    }

    QSerialPort m_port;
    QMetaObject::Connection m_inputConnection;
    QMetaObject::Connection m_writtenConnection;
    DeviceIdentity m_identity;
    std::unique_ptr<DeviceLock> m_lock;
    PortFailure m_failure;
    std::string m_lost;
};

}  // namespace

std::unique_ptr<SerialDevice> makeQtSerialDevice() { return std::make_unique<QtSerialDevice>(); }

std::vector<SystemSerialDevice> systemSerialDevices() {
    std::vector<SystemSerialDevice> found;
    // Ports of the PC that the system has but that lead nowhere are left out by Qt already.
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        QStringList about;
        for (const QString& text : {info.description(), info.manufacturer()})
            if (!text.isEmpty() && !about.contains(text)) about << text;
        if (!info.serialNumber().isEmpty()) about << QStringLiteral("č. ") + info.serialNumber();
        const std::string device = info.systemLocation().toStdString();
        found.push_back(
            {device, stableDeviceName(device), about.join(QStringLiteral(", ")).toStdString()});
    }
    return found;
}

}  // namespace kv
