#include "run/SingleInstance.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <QTimer>

#include "run/LocalSocketName.h"
#include "run/LockFile.h"
#include "run/Logging.h"

namespace kv {

namespace {

constexpr QByteArrayView kShowRequest = "show\n";
constexpr QByteArrayView kStatusRequest = "status\n";
// How long a second start tries to reach the first: the first listens right after it locks,
// so this only covers a first start that is still coming up or a machine under load.
constexpr int kReachMs = 5000;

// The directory's own name for the temporary directory: the same for every spelling of its
// path (links resolved and, where names ignore case, the case as stored).
QString directoryKey(const QString& workDir) {
    QString path = QFileInfo(workDir).canonicalFilePath();
    if (path.isEmpty()) path = QDir(workDir).absolutePath();
    const QByteArray hash = QCryptographicHash::hash(path.toUtf8(), QCryptographicHash::Sha256);
    return QStringLiteral("kvbridge-") + QString::fromLatin1(hash.toHex().left(24));
}

int remaining(const QDeadlineTimer& deadline) {
    return int(std::max<qint64>(deadline.remainingTime(), 1));
}

}  // namespace

SingleInstance::SingleInstance(const QString& workDir, QObject* parent)
    : QObject(parent), m_workDir(workDir) {
    m_complaintTimer.setSingleShot(true);
    connect(&m_complaintTimer, &QTimer::timeout, this, &SingleInstance::sayUnsaidComplaints);
}

SingleInstance::~SingleInstance() {
    if (m_server) m_server->close();
}

QStringList SingleInstance::serverNames(const QString& workDir) {
    QString path = QFileInfo(workDir).canonicalFilePath();
    if (path.isEmpty()) path = QDir(workDir).absolutePath();
    QStringList names{localSocketName(path, directoryKey(workDir)), directoryKey(workDir)};
    names.removeDuplicates();
    return names;
}

QString SingleInstance::fallbackLockPath(const QString& workDir) {
    return QDir::temp().filePath(directoryKey(workDir) + QStringLiteral(".lock"));
}

SingleInstance::Claim SingleInstance::claim() {
    const QString own = QDir(m_workDir).filePath(lockFileName());
    const Claim claim = claimLock(own);
    if (claim != Claim::unguarded) return claim;
    // A directory the bridge may not write in: the temporary directory holds the lock instead,
    // so a second start and --status find the bridge all the same.
    const QString cannotHere = m_detail;
    const Claim elsewhere = claimLock(fallbackLockPath(m_workDir));
    if (elsewhere == Claim::unguarded)
        m_detail = cannotHere;
    else if (elsewhere == Claim::owner)
        m_detail =
            QStringLiteral("cannot create %1; the lock is kept in %2 instead")
                .arg(QDir::toNativeSeparators(own), QDir::toNativeSeparators(m_lock->fileName())) +
            (m_detail.isEmpty() ? QString() : QStringLiteral("; ") + m_detail);
    return elsewhere;
}

SingleInstance::Claim SingleInstance::claimLock(const QString& path) {
    m_detail.clear();
    m_lock = std::make_unique<QLockFile>(path);
    // Only a lock whose process is gone is stale, however old it is: a bridge runs for months.
    m_lock->setStaleLockTime(0);
    // A lock file that is there but can be taken was left by a bridge that did not end cleanly.
    qint64 leftBy = 0;
    QString host, app;
    const bool leftOver = m_lock->getLockInfo(&leftBy, &host, &app);
    if (leftOver) removeUnheldLock(path);
    if (m_lock->tryLock(0)) {
        if (leftOver)
            m_detail = QStringLiteral(
                           "took over the lock of a bridge (process %1) that ended "
                           "without its clean end")
                           .arg(leftBy);
        // The directory is ours even so; only a second start's request cannot reach us.
        if (const QString failed = listen(); !failed.isEmpty())
            m_detail = QStringLiteral("cannot listen for a second start: ") + failed;
        return Claim::owner;
    }
    if (m_lock->error() != QLockFile::LockFailedError) {
        m_detail = QStringLiteral(
                       "cannot create %1; a second bridge in this directory will not "
                       "be noticed")
                       .arg(QDir::toNativeSeparators(path));
        return Claim::unguarded;
    }
    qint64 pid = 0;
    m_lock->getLockInfo(&pid, &host, &app);
    const QString owner = QStringLiteral("a bridge (process %1) already runs in %2")
                              .arg(pid)
                              .arg(QDir::toNativeSeparators(m_workDir));
    m_detail = askOwnerToShow() ? owner + QStringLiteral("; its window was asked to show")
                                : owner + QStringLiteral(
                                              "; it did not answer the request to show "
                                              "its window");
    return Claim::otherRunning;
}

QString SingleInstance::listen() {
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    QString failed;
    for (const QString& name : serverNames(m_workDir)) {
        // We hold the lock, so a socket of that name is left over from a bridge that crashed.
        QLocalServer::removeServer(name);
        if (m_server->listen(name)) {
            failed.clear();
            break;
        }
        if (failed.isEmpty()) failed = m_server->errorString();
    }
    if (!failed.isEmpty()) return failed;
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = m_server->nextPendingConnection()) accept(socket);
    });
    return {};
}

void SingleInstance::accept(QLocalSocket* socket) {
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    // The oldest connection has had the longest to ask: it makes room for the new one.
    if (m_open.size() >= kMaxConnections)
        close(m_open.constFirst(), "too many connections at once; the oldest closed");
    m_open.append(socket);
    connect(socket, &QObject::destroyed, this, [this, socket] { m_open.removeOne(socket); });
    QTimer::singleShot(kConnectionMs, socket, [this, socket] {
        if (socket->state() == QLocalSocket::ConnectedState)
            close(socket, "a connection that asked nothing within 2 s closed");
    });
    // The buffer holds at most one line: what does not fit is not a question of ours.
    socket->setReadBufferSize(kMaxLineBytes);
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] { take(socket); });
    take(socket);
}

void SingleInstance::take(QLocalSocket* socket) {
    while (socket->state() == QLocalSocket::ConnectedState) {
        if (!socket->canReadLine()) {
            if (socket->bytesAvailable() >= kMaxLineBytes)
                close(socket, "a line too long; connection closed");
            return;
        }
        const QByteArray line = socket->readLine(kMaxLineBytes + 1);
        if (line == kShowRequest) {
            qCInfo(lcRun) << "a second start in this directory asked for the window";
            emit showRequested();
        } else if (line == kStatusRequest) {
            socket->write((m_statusAnswer ? m_statusAnswer() : QByteArray("{}")) + '\n');
            socket->disconnectFromServer();
        } else {
            close(socket, "an unknown request; connection closed");
            return;
        }
    }
}

void SingleInstance::close(QLocalSocket* socket, const char* why) {
    m_open.removeOne(socket);
    complain(why);
    socket->abort();
    socket->deleteLater();
}

void SingleInstance::complain(const char* why) {
    if (m_complaintTimer.isActive()) {
        ++m_unsaidComplaints;
        return;
    }
    qCWarning(lcRun).noquote() << QStringLiteral("local socket: ") + QLatin1String(why);
    m_complaintTimer.start(m_complaintIntervalMs);
}

void SingleInstance::sayUnsaidComplaints() {
    if (m_unsaidComplaints == 0) return;
    qCWarning(lcRun).noquote()
        << QStringLiteral(
               "local socket: %1 more connections closed in the last %2 s (too many at once, "
               "idle, a line too long or an unknown request)")
               .arg(m_unsaidComplaints)
               .arg(m_complaintIntervalMs / 1000.0);
    m_unsaidComplaints = 0;
    m_complaintTimer.start(m_complaintIntervalMs);
}

SingleInstance::StatusQuery SingleInstance::queryStatus(const QString& workDir, int timeoutMs) {
    // The asking process runs no bridge and has nothing else to do before it prints the answer
    // and exits, and no event loop runs yet: it waits on the socket, up to the deadline.
    const QDeadlineTimer deadline(timeoutMs);
    bool denied = false;
    for (const QString& name : serverNames(workDir)) {
        QLocalSocket socket;
        socket.connectToServer(name);
        if (!socket.waitForConnected(remaining(deadline))) {
            denied = denied || socket.error() == QLocalSocket::SocketAccessError;
            continue;
        }
        socket.write(kStatusRequest.data(), kStatusRequest.size());
        QByteArray answer;
        while (!answer.endsWith('\n') && !deadline.hasExpired()) {
            if (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(remaining(deadline)))
                break;
            answer += socket.readAll();
        }
        answer += socket.readAll();
        if (answer.endsWith('\n')) return {StatusQuery::answered, answer.trimmed()};
    }
    if (denied) return {StatusQuery::accessDenied, {}};
    // Silent, or not listening at all: the lock tells whether a bridge runs.
    for (const QString& lock :
         {QDir(workDir).filePath(lockFileName()), fallbackLockPath(workDir)}) {
        const LockHolder holder = lockHolder(lock);
        if (holder == LockHolder::someone) return {StatusQuery::notAnswering, {}};
        denied = denied || holder == LockHolder::unknown;
    }
    return {denied ? StatusQuery::accessDenied : StatusQuery::none, {}};
}

bool SingleInstance::askOwnerToShow() {
    const QStringList names = serverNames(m_workDir);
    QDeadlineTimer deadline(kReachMs);
    QLocalSocket socket;
    for (int attempt = 0;; ++attempt) {
        socket.connectToServer(names[attempt % names.size()]);
        if (socket.waitForConnected(int(std::max<qint64>(deadline.remainingTime(), 0)) /
                                    int(names.size())))
            break;
        if (deadline.hasExpired()) return false;
        socket.abort();
        QThread::msleep(50);  // the owner is not listening yet
    }
    const bool queued =
        socket.write(kShowRequest.data(), kShowRequest.size()) == qint64(kShowRequest.size());
    // The socket closes once what was written has gone: this process has nothing else to do
    // meanwhile, so it waits for that, never for the write itself.
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState)
        socket.waitForDisconnected(remaining(deadline));
    return queued && socket.state() == QLocalSocket::UnconnectedState && socket.bytesToWrite() == 0;
}

}  // namespace kv
