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
    emit deviceLost(cause);
    return true;
}

bool TQCCom32::Open() {
    m_lost = false;
    if (m_device) Close();
    for (;;) {
        const std::string name = portDeviceName(m_port);
        std::unique_ptr<SerialDevice> device = m_factory();
        if (device && device->open(name)) {
            // A handler run by the prompt may have opened a port meanwhile; the new one wins.
            if (m_device) m_device->close();
            m_device = std::move(device);
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
    return Opened();
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
    if (!Opened() && !m_lost) Open();
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
    reconfigure();
}

bool TQCCom32::SelectPort() {
    bool result = false;
    delete m_pickDialog;
    // Owned by the window that asked, so it comes up in front of it.
    m_pickDialog = new TformPickPort(qobject_cast<QWidget*>(parent()));
    TformPickPort& dialog = *m_pickDialog;

    const bool showErrors = m_showErrors;
    const int port = m_port;
    m_showErrors = false;
    std::vector<PortInfo> ports;
    for (int n = 1; n <= 4; ++n) {
        m_port = n;
        const bool opened = Open();
        if (opened) dialog.addItem(QStringLiteral("COM%1").arg(n));
        ports.push_back({n, portDeviceName(n), opened, m_openFailure});
    }
    dialog.showPorts(ports, serialConverters());
    // Communication, if it was running, is restarted by the caller after the dialog.
    Close();
    m_showErrors = showErrors;
    m_port = port;

    dialog.setItemIndex(int(dialog.items().indexOf(QStringLiteral("COM%1").arg(m_port))));
    const int answer = runPickDialog ? runPickDialog(dialog) : dialog.exec();
    const int chosen = dialog.itemIndex();
    if (answer == QDialog::Accepted && chosen >= 0) {
        // The digit after "COM"; the port is not reopened here.
        m_port = dialog.items().at(chosen).mid(3, 1).toInt();
        result = true;
    }
    return result;
}

}  // namespace kv
