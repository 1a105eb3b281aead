// SPDX-License-Identifier: MIT
#include "platform/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <cerrno>
#include <cstring>

namespace {

QString errnoText() { return QString::fromLocal8Bit(std::strerror(errno)); }

// Why path cannot hold the socket, or empty when it can: a real folder, not a link to one
// (which its owner could point elsewhere), ours, and closed to group and others.
QString distrust(const QString& path) {
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return QStringLiteral("%1: %2").arg(path, errnoText());
    if (S_ISLNK(st.st_mode)) return QStringLiteral("%1 is a symbolic link").arg(path);
    if (!S_ISDIR(st.st_mode)) return QStringLiteral("%1 is not a folder").arg(path);
    if (st.st_uid != ::geteuid())
        return QStringLiteral("%1 belongs to user %2").arg(path).arg(st.st_uid);
    if ((st.st_mode & 077) != 0)
        return QStringLiteral("%1 is open to other users (mode %2)")
            .arg(path)
            .arg(st.st_mode & 0777, 4, 8, QLatin1Char('0'));
    return {};
}

}  // namespace

SingleInstance::SingleInstance(const QString& appTitle, QObject* parent) : QObject(parent) {
    const QString folder = privateFolder(&m_notes);
    if (folder.isEmpty())
        m_notes.append(QStringLiteral("starting without looking for a running terminal"));
    else
        m_name = folder + QLatin1Char('/') + socketFileNameFor(appTitle);
}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::socketFileNameFor(const QString& appTitle) {
    const QByteArray hash =
        QCryptographicHash::hash(appTitle.toUtf8(), QCryptographicHash::Sha1).toHex().left(12);
    return QStringLiteral("norvale-term-%1").arg(QString::fromLatin1(hash));
}

QString SingleInstance::privateFolder(QStringList* notes) {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty()) {
        const QString why = QDir::isAbsolutePath(runtime)
                                ? distrust(QDir::cleanPath(runtime))
                                : QStringLiteral("%1 is not an absolute path").arg(runtime);
        if (why.isEmpty()) return QDir::cleanPath(runtime);
        notes->append(QStringLiteral("not using XDG_RUNTIME_DIR: %1").arg(why));
    }
    // Named by user, not made unique: every start of ours must find the same one. In a sticky
    // temporary folder nobody else can rename or remove it once we have checked it.
    const QString own = QDir::tempPath() + QStringLiteral("/norvale-term-%1").arg(::geteuid());
    if (::mkdir(QFile::encodeName(own).constData(), 0700) != 0 && errno != EEXIST) {
        notes->append(QStringLiteral("cannot create %1: %2").arg(own, errnoText()));
        return {};
    }
    const QString why = distrust(own);
    if (!why.isEmpty()) {
        notes->append(why);
        return {};
    }
    return own;
}

bool SingleInstance::lock() {
    if (m_lock.valid()) return true;
    if (m_name.isEmpty()) return false;
    const QString path = m_name + QStringLiteral(".lock");
    m_lock.reset(::open(QFile::encodeName(path).constData(),
                        O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!m_lock.valid()) {
        m_notes.append(QStringLiteral("cannot open %1: %2").arg(path, errnoText()));
        return false;
    }
    // The holder only looks and listens, which takes milliseconds; one that holds it for seconds
    // is stuck, and then we go on rather than hang with it.
    for (int tries = 0; tries < 250; ++tries) {
        if (::flock(m_lock.get(), LOCK_EX | LOCK_NB) == 0) return true;
        if (errno != EWOULDBLOCK && errno != EINTR) break;
        ::usleep(20'000);
    }
    m_notes.append(QStringLiteral("cannot lock %1: %2").arg(path, errnoText()));
    m_lock.reset();
    return false;
}

bool SingleInstance::notifyRunning(int timeoutMs, const QByteArray& request) {
    if (m_name.isEmpty()) return false;
    lock();
    QLocalSocket socket;
    socket.connectToServer(m_name);
    if (!socket.waitForConnected(timeoutMs)) return false;
    ucred peer{};
    socklen_t size = sizeof peer;
    if (::getsockopt(static_cast<int>(socket.socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &peer,
                     &size) != 0) {
        m_notes.append(
            QStringLiteral("cannot tell who listens on %1: %2").arg(m_name, errnoText()));
        return false;
    }
    if (peer.uid != ::geteuid()) {
        m_notes.append(QStringLiteral("ignoring %1: its listener (process %2) belongs to user %3")
                           .arg(m_name)
                           .arg(peer.pid)
                           .arg(peer.uid));
        return false;
    }
    socket.write(request + '\n');
    socket.waitForBytesWritten(timeoutMs);
    socket.disconnectFromServer();
    return true;
}

bool SingleInstance::listen() {
    if (m_name.isEmpty()) return false;
    lock();
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    // Nobody of ours answered notifyRunning(), so a socket file here is stale or not ours.
    QLocalServer::removeServer(m_name);
    const bool listening = m_server->listen(m_name);
    if (!listening)
        m_notes.append(
            QStringLiteral("cannot listen on %1: %2").arg(m_name, m_server->errorString()));
    // Released, not held for our lifetime: from now on the socket answers for us, and a later
    // start must be able to take the lock to look at it.
    m_lock.reset();
    if (!listening) return false;
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* client = m_server->nextPendingConnection()) {
            connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
            Q_EMIT activationRequested();
            // What the later start asked for besides coming to the front.
            connect(client, &QLocalSocket::readyRead, this, [this, client] {
                while (client->canReadLine()) {
                    const QByteArray line = client->readLine().trimmed();
                    if (line == "raise engineering") Q_EMIT engineeringRequested();
                }
            });
        }
    });
    return true;
}
