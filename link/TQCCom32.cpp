#include "link/TQCCom32.h"

#include <QCoreApplication>
#include <algorithm>
#include <climits>
#include <optional>

#include "link/CommandFrame.h"
#include "link/Cp1250.h"
#include "link/Deadline.h"
#include "link/Logging.h"
#include "link/NumberText.h"
#include "link/TformPickPort.h"

namespace kv {

namespace {

// While a terminator wait lets window messages through, it looks at them at least this often.
constexpr int kEventSliceMs = 20;

// "#13#10" -> CR LF; text may precede the codes.  Anything that does not convert is taken
// literally.
std::string decodeTerminator(const QString& text) {
    std::string terminator;
    QString code;
    bool inCode = false;
    auto appendCode = [&]() {
        // A code is an optional sign and decimal digits, within a 32-bit integer.
        const auto value = parseInt32(code.toStdString());
        if (!value) return false;
        terminator.push_back(char(std::uint8_t(std::uint32_t(*value) & 0xFF)));
        code.clear();
        return true;
    };
    for (const QChar c : text) {
        if (c == u'#') {
            if (inCode && !appendCode()) return toCp1250(text);
            inCode = true;
        } else if (inCode) {
            code.append(c);
        } else {
            terminator += toCp1250(QString(c));
        }
    }
    if (!code.isEmpty() && !appendCode()) return toCp1250(text);
    return terminator;
}

}  // namespace

TQCCom32::TQCCom32(SerialDeviceFactory factory, Prompts& prompts, Clock& clock, QObject* parent)
    : QObject(parent), m_factory(std::move(factory)), m_prompts(prompts), m_clock(clock) {}

TQCCom32::~TQCCom32() {
    Close();
    delete m_pickDialog;
}

bool TQCCom32::Opened() const { return m_device && m_device->isOpen(); }

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

bool TQCCom32::Open() {
    // A lost port stays lost until it opens: the writes meanwhile must not open it behind the
    // reconnect's back, with a prompt that holds everything up.
    const bool wasLost = m_lost;
    if (m_device) Close();
    for (;;) {
        const std::string name = portDeviceName(m_port);
        std::unique_ptr<SerialDevice> device = m_factory();
        if (device && device->open(name)) {
            // A handler run by the prompt may have opened a port meanwhile; the new one wins.
            if (m_device) m_device->close();
            m_device = std::move(device);
            // From now on this is the port's device: a reopen after a loss looks for it.
            m_identity = m_device->identity();
            break;
        }
        qCDebug(lcLink) << "COM" << m_port << "(" << name.c_str() << ") did not open";
        m_openFailure = device ? device->openFailure() : PortFailure{};
        if (!m_showErrors) break;
        const PromptAnswer answer = m_prompts.abortRetry(
            QStringLiteral("Sériový port"), openFailurePrompt(m_port, name, m_openFailure));
        if (answer == PromptAnswer::Abort) break;
    }
    if (m_device) m_device->applyLineSettings(m_baud, m_handshaking);
    m_lost = wasLost && !Opened();
    return Opened();
}

QString TQCCom32::portText() const {
    return QStringLiteral("Port ") + portLabel(m_port, portDeviceName(m_port));
}

TQCCom32::ReopenResult TQCCom32::reopenSameDevice() {
    if (Opened()) return ReopenResult::opened;
    const std::string name = portDeviceName(m_port);
    const QString port = portText();
    const auto otherDevice = [&](const DeviceIdentity& found) {
        const QString text =
            QStringLiteral("COM%1 (%2) is now %3, not %4: left alone")
                .arg(m_port)
                .arg(QString::fromStdString(name), QString::fromStdString(found.text()),
                     QString::fromStdString(m_identity.text()));
        // Tried every few seconds while it waits: the same finding is logged once.
        if (text != m_otherDeviceLogged)
            qCWarning(lcLink).noquote() << text;
        else
            qCDebug(lcLink).noquote() << text;
        m_otherDeviceLogged = text;
        m_reopenText = port + QStringLiteral(" je teď jiné zařízení, čekám na původní");
        return ReopenResult::otherDevice;
    };
    // Looked at before it is opened: opening alone already changes another program's line
    // settings.
    if (const DeviceIdentity there = identifyDevice(name);
        m_identity.known() && there.known() && !sameDevice(there, m_identity))
        return otherDevice(there);
    std::unique_ptr<SerialDevice> device = m_factory();
    if (!device || !device->open(name)) {
        m_openFailure = device ? device->openFailure() : PortFailure{};
        switch (m_openFailure.cause) {
            case PortCause::noPermission:
                m_reopenText = QStringLiteral("Port ") + portErrorText(m_port, name, m_openFailure);
                return ReopenResult::noPermission;
            case PortCause::busy:
                m_reopenText = QStringLiteral("Port ") + portErrorText(m_port, name, m_openFailure);
                return ReopenResult::busy;
            case PortCause::notSerial:
                return otherDevice(identifyDevice(name));
            case PortCause::missing:
            case PortCause::unknown:
                break;
        }
        m_reopenText = port + QStringLiteral(" není k dispozici, čekám na něj");
        return ReopenResult::notThere;
    }
    // Again on the open device, which may have changed since it was looked at.
    if (const DeviceIdentity opened = device->identity();
        m_identity.known() && !sameDevice(opened, m_identity)) {
        device->close();
        return otherDevice(opened);
    }
    if (!m_identity.known()) m_identity = device->identity();
    m_device = std::move(device);
    m_lost = false;
    m_device->applyLineSettings(m_baud, m_handshaking);
    m_reopenText = port + QStringLiteral(" je zpět");
    return ReopenResult::opened;
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

bool TQCCom32::WaitForInput(int timeoutMs) {
    if (m_lost) {
        // Nothing can arrive; a caller waiting for the unit must not spin meanwhile.
        Deadline(m_clock, m_clock.monotonicMs() + std::max(timeoutMs, 0)).sleepSlice();
        return false;
    }
    if (!Opened()) return false;
    const bool waiting = m_device->waitForInput(std::max(timeoutMs, 0));
    return !checkLost() && waiting;
}

std::string TQCCom32::ReadText() {
    std::string result;
    if (m_inUse) {
        if (m_showErrors) {
            m_prompts.message(QCoreApplication::applicationName(),
                              QStringLiteral("Port is in use -- operation aborted"));
        }
        return result;
    }
    if (!Opened() && !m_lost) Open();
    if (!Opened()) return result;

    m_inUse = true;
    struct ClearInUse {
        bool& flag;
        ~ClearInUse() { flag = false; }
    } clearInUse{m_inUse};

    if (m_terminator.empty()) {
        takeWaiting(result);
    } else {
        for (;;) {
            if (waitForTerminator(result)) break;
            qCInfo(lcLink) << "no terminator within" << m_responseTime << "ms," << result.size()
                           << "bytes received";
            if (OnTimeout) OnTimeout(this);
            if (!m_showErrors ||
                m_prompts.abortRetry(QStringLiteral("Warning"),
                                     QStringLiteral("Timeout waiting for response.")) !=
                    PromptAnswer::Retry)
                break;
        }
    }
    if (!result.empty()) qCDebug(lcLink) << "read" << hexDump(result).c_str();
    return result;
}

void TQCCom32::takeWaiting(std::string& result) {
    const int n = InCount();
    if (n > 0 && m_device) result += m_device->read(n);
    checkLost();
}

bool TQCCom32::waitForTerminator(std::string& result) {
    const Deadline deadline = Deadline::in(m_clock, m_responseTime);
    m_timedOut = false;
    for (;;) {
        takeWaiting(result);
        if (result.find(m_terminator) != std::string::npos) return true;
        if (deadline.expired()) m_timedOut = true;
        if (m_allowEvents) QCoreApplication::processEvents();
        if (m_timedOut) return false;
        // Blocks on the device; a closed or failing device returns early, then the clock
        // sleeps the rest of the slice, so the wait never spins.
        Deadline slice =
            Deadline::in(m_clock, deadline.sliceMs(m_allowEvents ? kEventSliceMs : INT_MAX));
        if (!WaitForInput(int(slice.remainingMs()))) slice.sleepSlice();
    }
}

bool TQCCom32::WriteText(std::string_view text) {
    if (m_lost) {
        if (!m_lostWriteLogged)
            qCInfo(lcLink) << "COM" << m_port << "lost: nothing is written until it is back";
        m_lostWriteLogged = true;
        return false;
    }
    if (!Opened()) Open();
    if (!Opened()) return false;
    qCDebug(lcLink) << "write" << hexDump(text).c_str();
    const std::int64_t written = m_device->write(text);
    if (checkLost()) return false;
    if (written != std::int64_t(text.size())) {
        qCWarning(lcLink) << "short write:" << written << "of" << text.size() << "bytes";
        return false;
    }
    return true;
}

void TQCCom32::setEndOfResponse(const QString& text) {
    m_endOfResponse = text;
    m_terminator = decodeTerminator(text);
}

void TQCCom32::reconfigure() {
    if (Opened()) Open();
}

void TQCCom32::setBaud(int baud) {
    if (baud == m_baud) return;
    m_baud = baud;
    reconfigure();
}

void TQCCom32::setHandshaking(Handshake handshake) {
    if (handshake == m_handshaking) return;
    m_handshaking = handshake;
    reconfigure();
}

void TQCCom32::setPort(int port) {
    if (port == m_port) return;
    m_port = port;
    m_identity = {};
    reconfigure();
}

bool TQCCom32::SelectPort() {
    delete m_pickDialog;
    // Owned by the window that asked, so it comes up in front of it.
    m_pickDialog = new TformPickPort(qobject_cast<QWidget*>(parent()));
    TformPickPort& dialog = *m_pickDialog;

    // Each port is tried once on a device of its own, without messages.  The port in use is not
    // touched: communication goes on while the operator chooses.
    const std::vector<SystemSerialDevice> system =
        listSerialDevices ? listSerialDevices() : systemSerialDevices();
    const std::string inUse = Opened() ? portDeviceName(m_port) : std::string();
    std::vector<PortInfo> ports;
    for (int n = 1; n <= 4; ++n) {
        PortInfo info;
        info.port = n;
        info.device = portDeviceName(n);
        if (!inUse.empty() && (n == m_port || sameDevice(info.device, inUse))) {
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
    dialog.showDevices(m_port, others, !environmentPortDevice(m_port).empty());

    dialog.setItemIndex(int(dialog.items().indexOf(QStringLiteral("COM%1").arg(m_port))));
    m_chosenPort = m_port;
    const int answer = runPickDialog ? runPickDialog(dialog) : dialog.exec();
    if (answer != QDialog::Accepted) return false;
    if (const int chosen = dialog.itemIndex(); chosen >= 0) {
        // The digit after "COM"; the port is not reopened here, and one in use stays the
        // component's port until the next open.
        m_chosenPort = dialog.items().at(chosen).mid(3, 1).toInt();
        if (!Opened()) m_port = m_chosenPort;
        return true;
    }
    if (const int chosen = dialog.deviceIndex(); chosen >= 0 && chosen < int(others.size()))
        return rememberPortDevice(m_port, others[std::size_t(chosen)].stablePath);
    return false;
}

}  // namespace kv
