#pragma once

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QString>

namespace kv {

// One thing that happened, as the log file and standard error show it.
struct LogEntry {
    QDateTime time;  // local time, to the millisecond
    QtMsgType type = QtInfoMsg;
    QString category;
    QString text;  // one line: line breaks of the message are folded
};

// "2026-12-07 11:14:19.123 info     kvbridge.sync: text"
QString formatLogLine(const LogEntry& entry);

struct LogOptions {
    // Appended to; empty for no file.  Relative paths are taken from the working directory.
    QString filePath = QStringLiteral("kvbridge.log");
    // A file that would grow past this is renamed to .1 (the older ones move up) and begun anew.
    qint64 maxFileBytes = 1024 * 1024;
    int keptFiles = 5;  // kvbridge.log.1 .. kvbridge.log.5
    // Standard error: off; the log file's lines; or one line each with the priority prefix that
    // journald reads ("<4>kvbridge.link: ..."), without a time stamp of our own.
    enum class Stderr { off, plain, journal };
    Stderr toStderr = Stderr::off;
};

// Where every message of the program goes: Qt's message handler for the whole process, writing
// the log file (rotated by size) and standard error.
// Messages may come from any thread.  A log file that cannot be written never stops the
// bridge: the lines go to standard error instead, which is said once, and the file is tried
// again a minute later.  One object at a time; it installs the handler for its lifetime.
class BridgeLog : public QObject {
    Q_OBJECT
public:
    explicit BridgeLog(LogOptions options, QObject* parent = nullptr);
    ~BridgeLog() override;

    // Debug output of the bridge's categories is off unless QT_LOGGING_RULES (or a logging
    // configuration file read later) asks for it.  Call before the first message.
    static void applyDefaultFilterRules();

    // False while the lines go to standard error because the file cannot be written.
    bool writingFile() const;
    const LogOptions& options() const { return m_options; }

private:
    static void handleMessage(QtMsgType type, const QMessageLogContext& context,
                              const QString& message);
    void add(LogEntry entry);
    void writeLocked(const LogEntry& entry);
    void writeFileLocked(const QByteArray& line);
    bool openFileLocked();
    void rotateLocked();
    void fileFailedLocked(const QString& why);

    LogOptions m_options;
    QtMessageHandler m_previous = nullptr;
    mutable QMutex m_mutex;
    QFile m_file;
    qint64 m_fileSize = 0;
    bool m_fileFailed = false;
    QElapsedTimer m_sinceFailure;
};

}  // namespace kv

Q_DECLARE_METATYPE(kv::LogEntry)
