#pragma once

#include <QList>
#include <QLockFile>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <memory>

class QLocalServer;
class QLocalSocket;

namespace kv {

// One bridge per working directory.  The first start owns a lock file in the directory and
// listens on a local socket named after the directory (see localSocketName); a second
// start in the same directory finds the lock held, asks the first over the socket to show its
// window, and ends.  The lock of a bridge that crashed is taken over.  Where the directory
// cannot hold the lock or the socket (it is read-only), the temporary directory holds them
// under a name made from the directory's path, so the rule and --status still work.
//
// The socket takes a line at a time and knows two questions: "show" (a second start wants the
// window) and "status" (kvbridge --status: answered with one line of JSON, then closed).  It is
// open to the same user only (on Unix the socket file is the user's alone), takes lines of at
// most kMaxLineBytes (a longer one closes the connection), closes a connection that has not
// asked within kConnectionMs, and holds kMaxConnections at a time (a new one closes the oldest),
// so a stray client can neither hold memory nor crowd a real question out.  What it closes is
// logged at once the first time and then as a count at most every complaint interval, so a
// flood of connections cannot rotate the log away.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    enum class Claim {
        owner,         // this is the directory's bridge
        otherRunning,  // another bridge owns the directory; it was asked to show its window
        unguarded,     // no lock could be made (here nor in the temporary directory): no rule
    };

    explicit SingleInstance(const QString& workDir, QObject* parent = nullptr);
    ~SingleInstance() override;

    // Decides; call once, before the window exists.  As the second start it waits at most
    // a few seconds for the first to take the request.
    Claim claim();
    // Why the claim ended as it did, for the log and standard error; for an owner, what it
    // found (a lock left behind, no socket), else empty.
    const QString& detail() const { return m_detail; }

    // The local socket's names for a directory, the same for every spelling of its path: the
    // one in the directory first, then the one in the temporary directory (where they differ).
    static QStringList serverNames(const QString& workDir);
    static QString lockFileName() { return QStringLiteral("kvbridge.lock"); }
    // Where the lock is kept when the directory cannot hold it.
    static QString fallbackLockPath(const QString& workDir);

    static constexpr qint64 kMaxLineBytes = 256;
    static constexpr int kMaxConnections = 8;
    static constexpr int kConnectionMs = 2000;
    static constexpr int kComplaintIntervalMs = 60000;
    void setComplaintInterval(int ms) { m_complaintIntervalMs = ms; }
    // What "status" is answered with (one JSON object without line breaks); without it the
    // question is answered with {}.
    void setStatusAnswer(std::function<QByteArray()> answer) { m_statusAnswer = std::move(answer); }
    // Connections the owner holds open now.
    int openConnections() const { return int(m_open.size()); }

    // kvbridge --status: the answer of the bridge that owns workDir within timeoutMs, or why
    // there is none.  "none" only when nobody holds the directory's lock.
    struct StatusQuery {
        enum Outcome { answered, none, notAnswering, accessDenied };
        Outcome outcome = none;
        QByteArray answer;  // one JSON object when answered
    };
    static StatusQuery queryStatus(const QString& workDir, int timeoutMs);

signals:
    // A second start in this directory asked for the window.
    void showRequested();

private:
    Claim claimLock(const QString& path);
    QString listen();  // empty, or why not
    void accept(QLocalSocket* socket);
    void take(QLocalSocket* socket);
    void close(QLocalSocket* socket, const char* why);
    void complain(const char* why);
    void sayUnsaidComplaints();
    bool askOwnerToShow();

    QString m_workDir;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer* m_server = nullptr;
    QString m_detail;
    std::function<QByteArray()> m_statusAnswer;
    QList<QLocalSocket*> m_open;  // oldest first
    QTimer m_complaintTimer;
    int m_complaintIntervalMs = kComplaintIntervalMs;
    int m_unsaidComplaints = 0;
};

}  // namespace kv
