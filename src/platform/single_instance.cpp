#include "platform/single_instance.h"

#include <QCryptographicHash>
#include <QLocalServer>
#include <QLocalSocket>

#include <unistd.h>

SingleInstance::SingleInstance(const QString& appTitle, QObject* parent)
    : QObject(parent), m_name(serverNameFor(appTitle)) {}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::serverNameFor(const QString& appTitle) {
    const QByteArray hash =
        QCryptographicHash::hash(appTitle.toUtf8(), QCryptographicHash::Sha1).toHex().left(12);
    return QStringLiteral("norvale-term-%1-%2").arg(getuid()).arg(QString::fromLatin1(hash));
}

bool SingleInstance::notifyRunning(int timeoutMs) {
    QLocalSocket socket;
    socket.connectToServer(m_name);
    if (!socket.waitForConnected(timeoutMs)) return false;
    socket.write("raise\n");
    socket.waitForBytesWritten(timeoutMs);
    socket.disconnectFromServer();
    return true;
}

bool SingleInstance::listen() {
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(m_name)) {
        // Nobody answered notifyRunning(), so a socket file here is stale.
        QLocalServer::removeServer(m_name);
        if (!m_server->listen(m_name)) return false;
    }
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* client = m_server->nextPendingConnection()) {
            connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
            Q_EMIT activationRequested();
        }
    });
    return true;
}
