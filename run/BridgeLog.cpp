#include "run/BridgeLog.h"

#include <QMutexLocker>
#include <atomic>
#include <cstdio>

#include "run/Logging.h"

namespace kv {

namespace {

// A log file that could not be written is tried again after this long.
constexpr qint64 kRetryMs = 60'000;

std::atomic<BridgeLog*> g_log{nullptr};
// A message raised while one is being written (by the file layer, say) goes straight to
// standard error instead of waiting for the lock its own thread holds.
thread_local bool t_inHandler = false;

const char* levelName(QtMsgType type) {
    switch (type) {
        case QtDebugMsg:
            return "debug";
        case QtInfoMsg:
            return "info";
        case QtWarningMsg:
            return "warning";
        case QtCriticalMsg:
            return "critical";
        case QtFatalMsg:
            return "fatal";
    }
    return "?";
}

// The priority prefixes of sd-daemon(3), which journald reads from standard error.
int journalPriority(QtMsgType type) {
    switch (type) {
        case QtDebugMsg:
            return 7;
        case QtInfoMsg:
            return 6;
        case QtWarningMsg:
            return 4;
        case QtCriticalMsg:
            return 3;
        case QtFatalMsg:
            return 2;
    }
    return 6;
}

// One entry is one line: a reply or a multi-line text keeps its breaks as a visible mark.
QString foldLines(QString text) {
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    while (text.endsWith(QLatin1Char('\n'))) text.chop(1);
    text.replace(QLatin1Char('\n'), QStringLiteral(" \u21B5 "));
    // Texts from the unit or the server (a worker's name) may hold control characters: written
    // raw, a terminal that follows the log would run them as escape sequences.
    QString shown;
    shown.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if ((u < 0x20 && u != u'\t') || (u >= 0x7F && u <= 0x9F))
            shown += QStringLiteral("\\x") +
                     QString::number(unsigned(u), 16).toUpper().rightJustified(2, QLatin1Char('0'));
        else
            shown += c;
    }
    return shown;
}

void writeStderr(const QByteArray& bytes) {
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

QByteArray journalLine(const LogEntry& entry) {
    return '<' + QByteArray::number(journalPriority(entry.type)) + '>' + entry.category.toUtf8() +
           ": " + entry.text.toUtf8() + '\n';
}

}  // namespace

QString formatLogLine(const LogEntry& entry) {
    return entry.time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")) + QLatin1Char(' ') +
           QString::fromLatin1(levelName(entry.type)).leftJustified(9) + entry.category +
           QStringLiteral(": ") + entry.text;
}

BridgeLog::BridgeLog(LogOptions options, QObject* parent)
    : QObject(parent), m_options(std::move(options)) {
    Q_ASSERT(g_log.load() == nullptr);
    g_log.store(this);
    m_previous = qInstallMessageHandler(&BridgeLog::handleMessage);
}

BridgeLog::~BridgeLog() {
    qInstallMessageHandler(m_previous);
    g_log.store(nullptr);
}

void BridgeLog::applyDefaultFilterRules() {
    // Rules set here rank below QT_LOGGING_RULES, so the environment can switch debug back on.
    QLoggingCategory::setFilterRules(QStringLiteral("kvbridge.*.debug=false"));
}

bool BridgeLog::writingFile() const {
    QMutexLocker lock(&m_mutex);
    return !m_options.filePath.isEmpty() && !m_fileFailed;
}

void BridgeLog::handleMessage(QtMsgType type, const QMessageLogContext& context,
                              const QString& message) {
    LogEntry entry{QDateTime::currentDateTime(), type,
                   QString::fromUtf8(context.category ? context.category : "default"),
                   foldLines(message)};
    BridgeLog* log = g_log.load();
    if (!log || t_inHandler) {
        writeStderr(formatLogLine(entry).toUtf8() + '\n');
        return;
    }
    t_inHandler = true;
    log->add(std::move(entry));
    t_inHandler = false;
}

void BridgeLog::add(LogEntry entry) {
    QMutexLocker lock(&m_mutex);
    writeLocked(entry);
}

void BridgeLog::writeLocked(const LogEntry& entry) {
    const QByteArray line = formatLogLine(entry).toUtf8() + '\n';
    if (!m_options.filePath.isEmpty()) writeFileLocked(line);
    switch (m_options.toStderr) {
        case LogOptions::Stderr::plain:
            writeStderr(line);
            break;
        case LogOptions::Stderr::journal:
            writeStderr(journalLine(entry));
            break;
        case LogOptions::Stderr::off:
            if (m_fileFailed || entry.type == QtFatalMsg) writeStderr(line);
            break;
    }
}

void BridgeLog::writeFileLocked(const QByteArray& line) {
    if (m_fileFailed) {
        if (m_sinceFailure.elapsed() < kRetryMs) return;
        if (!openFileLocked()) {
            m_sinceFailure.restart();
            return;
        }
        m_fileFailed = false;
        writeFileLocked(formatLogLine({QDateTime::currentDateTime(), QtWarningMsg,
                                       QString::fromLatin1(lcRun().categoryName()),
                                       QStringLiteral("the log file could not be written for a "
                                                      "while; those lines went to standard "
                                                      "error")})
                            .toUtf8() +
                        '\n');
    }
    if (!m_file.isOpen() && !openFileLocked()) {
        fileFailedLocked(m_file.errorString());
        return;
    }
    // A single line never makes a file outgrow its cap.
    QByteArray bytes = line;
    if (bytes.size() > m_options.maxFileBytes) {
        bytes.truncate(std::max<qint64>(m_options.maxFileBytes - 4, 0));
        bytes += "...\n";
    }
    if (m_fileSize > 0 && m_fileSize + bytes.size() > m_options.maxFileBytes) {
        rotateLocked();
        if (m_fileFailed) return;
    }
    if (m_file.write(bytes) != bytes.size()) {
        fileFailedLocked(m_file.errorString());
        return;
    }
    m_fileSize += bytes.size();
}

bool BridgeLog::openFileLocked() {
    m_file.setFileName(m_options.filePath);
    // Unbuffered: each line is one write, so a crash loses none and a full disk keeps nothing
    // half-written in memory.
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        return false;
    m_fileSize = m_file.size();
    return true;
}

void BridgeLog::rotateLocked() {
    m_file.close();
    const QString base = m_options.filePath;
    const auto numbered = [&](int n) { return base + QLatin1Char('.') + QString::number(n); };
    if (m_options.keptFiles > 0) {
        QFile::remove(numbered(m_options.keptFiles));
        for (int n = m_options.keptFiles - 1; n >= 1; --n)
            QFile::rename(numbered(n), numbered(n + 1));
        QFile::rename(base, numbered(1));
    } else {
        QFile::remove(base);
    }
    if (!openFileLocked()) {
        fileFailedLocked(m_file.errorString());
        return;
    }
    // A file that could not be moved aside (held open elsewhere) is begun anew rather than
    // let grow past the cap.
    if (m_fileSize > 0 && !m_file.resize(0)) {
        fileFailedLocked(m_file.errorString());
        return;
    }
    m_fileSize = 0;
}

void BridgeLog::fileFailedLocked(const QString& why) {
    m_file.close();
    m_fileFailed = true;
    m_sinceFailure.start();
    writeStderr(QStringLiteral("kvbridge: the log file %1 cannot be written (%2); messages go to "
                               "standard error instead\n")
                    .arg(m_options.filePath, why)
                    .toUtf8());
}

}  // namespace kv
