#pragma once

#include <QLockFile>
#include <QObject>
#include <QString>
#include <functional>
#include <optional>

class QLocalServer;

namespace kv {

// One bridge per working directory.  The first start owns a lock file in the directory and
// listens on a local socket named after the directory (see localSocketName); a second
// start in the same directory finds the lock held, asks the first over the socket to show its
// window, and ends.  The lock of a bridge that crashed is taken over.
//
// The socket takes a line at a time and knows two questions: "show" (a second start wants the
// window) and "status" (kvbridge --status: answered with one line of JSON, then closed).  It is
// open to the same user only (on Unix the socket file is the user's alone), takes lines of at
// most kMaxLineBytes (a longer one closes the connection) and kMaxConnections at a time (the
// rest are closed at once), so a stray client can neither hold memory nor crowd others out.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    enum class Claim {
        owner,         // this is the directory's bridge
        otherRunning,  // another bridge owns the directory; it was asked to show its window
        unguarded,     // the lock could not be made (unwritable directory): run without the rule
    };

    explicit SingleInstance(const QString& workDir, QObject* parent = nullptr);
    ~SingleInstance() override;

    // Decides; call once, before the window exists.  As the second start it waits at most
    // a few seconds for the first to take the request.
    Claim claim();
    // Why the claim ended as it did, for the log and standard error; for an owner, what it
    // found (a lock left behind, no socket), else empty.
    const QString& detail() const { return m_detail; }

    QString lockPath() const { return m_lock.fileName(); }
    // The local socket's name for a directory: the same for every spelling of its path.
    static QString serverName(const QString& workDir);
    static QString lockFileName() { return QStringLiteral("kvbridge.lock"); }

    static constexpr qint64 kMaxLineBytes = 256;
    static constexpr int kMaxConnections = 8;
    // What "status" is answered with (one JSON object without line breaks); without it the
    // question is answered with {}.
    void setStatusAnswer(std::function<QByteArray()> answer) { m_statusAnswer = std::move(answer); }
    // Connections the owner holds open now.
    int openConnections() const { return m_connections; }

    // kvbridge --status: the answer of the bridge that owns workDir, or nothing when none
    // answers within timeoutMs.
    static std::optional<QByteArray> askStatus(const QString& workDir, int timeoutMs);

signals:
    // A second start in this directory asked for the window.
    void showRequested();

private:
    QString listen();  // empty, or why not
    bool askOwnerToShow();

    QString m_workDir;
    QLockFile m_lock;
    QLocalServer* m_server = nullptr;
    QString m_detail;
    std::function<QByteArray()> m_statusAnswer;
    int m_connections = 0;
};

}  // namespace kv
