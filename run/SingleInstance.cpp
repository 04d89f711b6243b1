#include "run/SingleInstance.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>

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

}  // namespace

SingleInstance::SingleInstance(const QString& workDir, QObject* parent)
    : QObject(parent), m_workDir(workDir), m_lock(QDir(workDir).filePath(lockFileName())) {
    // Only a lock whose process is gone is stale, however old it is: a bridge runs for months.
    m_lock.setStaleLockTime(0);
}

SingleInstance::~SingleInstance() {
    if (m_server) m_server->close();
}

QString SingleInstance::serverName(const QString& workDir) {
    // Canonical: links resolved and, where names ignore case, the case as stored.
    QString path = QFileInfo(workDir).canonicalFilePath();
    if (path.isEmpty()) path = QDir(workDir).absolutePath();
    const QByteArray hash = QCryptographicHash::hash(path.toUtf8(), QCryptographicHash::Sha256);
    return localSocketName(
        path, QStringLiteral("kvbridge-") + QString::fromLatin1(hash.toHex().left(24)));
}

SingleInstance::Claim SingleInstance::claim() {
    // A lock file that is there but can be taken was left by a bridge that did not end cleanly.
    qint64 leftBy = 0;
    QString host, app;
    const bool leftOver = m_lock.getLockInfo(&leftBy, &host, &app);
    if (leftOver) removeUnheldLock(m_lock.fileName());
    if (m_lock.tryLock(0)) {
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
    if (m_lock.error() != QLockFile::LockFailedError) {
        m_detail = QStringLiteral(
                       "cannot create %1; a second bridge in this directory will not "
                       "be noticed")
                       .arg(QDir::toNativeSeparators(m_lock.fileName()));
        return Claim::unguarded;
    }
    qint64 pid = 0;
    m_lock.getLockInfo(&pid, &host, &app);
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
    const QString name = serverName(m_workDir);
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    // We hold the lock, so a socket of that name is left over from a bridge that crashed.
    QLocalServer::removeServer(name);
    if (!m_server->listen(name)) return m_server->errorString();
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = m_server->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            if (m_connections >= kMaxConnections) {
                qCWarning(lcRun) << "local socket: too many connections at once; one refused";
                socket->abort();
                socket->deleteLater();
                continue;
            }
            ++m_connections;
            connect(socket, &QObject::destroyed, this, [this] { --m_connections; });
            // The buffer holds at most one line: what does not fit is not a question of ours.
            socket->setReadBufferSize(kMaxLineBytes);
            const auto take = [this, socket] {
                while (socket->state() == QLocalSocket::ConnectedState) {
                    if (!socket->canReadLine()) {
                        if (socket->bytesAvailable() < kMaxLineBytes) return;
                        qCWarning(lcRun) << "local socket: a line too long; connection closed";
                        socket->abort();
                        socket->deleteLater();
                        return;
                    }
                    const QByteArray line = socket->readLine(kMaxLineBytes + 1);
                    if (line == kShowRequest) {
                        qCInfo(lcRun) << "a second start in this directory asked for the window";
                        emit showRequested();
                    } else if (line == kStatusRequest) {
                        socket->write((m_statusAnswer ? m_statusAnswer() : QByteArray("{}")) +
                                      '\n');
                        socket->disconnectFromServer();
                    } else {
                        qCWarning(lcRun) << "local socket: an unknown request; connection closed";
                        socket->abort();
                        socket->deleteLater();
                        return;
                    }
                }
            };
            connect(socket, &QLocalSocket::readyRead, this, take);
            take();
        }
    });
    return {};
}

std::optional<QByteArray> SingleInstance::askStatus(const QString& workDir, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    const auto left = [&] { return int(std::max<qint64>(deadline.remainingTime(), 1)); };
    QLocalSocket socket;
    socket.connectToServer(serverName(workDir));
    if (!socket.waitForConnected(left())) return std::nullopt;
    socket.write(kStatusRequest.data(), kStatusRequest.size());
    QByteArray answer;
    while (!answer.endsWith('\n') && !deadline.hasExpired()) {
        if (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(left())) break;
        answer += socket.readAll();
    }
    answer += socket.readAll();
    if (!answer.endsWith('\n')) return std::nullopt;
    return answer.trimmed();
}

bool SingleInstance::askOwnerToShow() {
    const QString name = serverName(m_workDir);
    QDeadlineTimer deadline(kReachMs);
    QLocalSocket socket;
    while (true) {
        socket.connectToServer(name);
        if (socket.waitForConnected(int(std::max<qint64>(deadline.remainingTime(), 0)))) break;
        if (deadline.hasExpired()) return false;
        socket.abort();
        QThread::msleep(50);  // the owner is not listening yet
    }
    socket.write(kShowRequest.data(), kShowRequest.size());
    const bool sent =
        socket.waitForBytesWritten(int(std::max<qint64>(deadline.remainingTime(), 1)));
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState) socket.waitForDisconnected(1000);
    return sent;
}

}  // namespace kv
