#include "single_instance.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <unistd.h>

namespace {
const QByteArray kComeForward = "come forward\n";
}

SingleInstance::SingleInstance(const QString& storePath, QObject* parent) : QObject(parent)
{
    const QString absolute = QFileInfo(storePath).absoluteFilePath();
    // An abstract socket name, per user: no file is left behind by a run that ends at once.
    m_serverName =
        QStringLiteral("kestrune-%1-").arg(getuid()) +
        QString::fromLatin1(
            QCryptographicHash::hash(absolute.toUtf8(), QCryptographicHash::Sha1).toHex().left(16));
    m_lock = std::make_unique<QLockFile>(absolute + QStringLiteral(".lock"));
    // The lock is held for the whole run: only a lock whose process is gone counts as stale.
    m_lock->setStaleLockTime(0);
    m_primary = m_lock->tryLock(0);
    // A folder where no lock can be made is no sign of another program: the store itself
    // will tell the user what is wrong with it.
    if (!m_primary && m_lock->error() != QLockFile::LockFailedError)
        m_primary = true;
    if (!m_primary)
        return;

    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::AbstractNamespaceOption);
    m_server->listen(m_serverName);
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = m_server->nextPendingConnection()) {
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                if (socket->readAll().contains(kComeForward.trimmed()))
                    emit secondStart();
                socket->disconnectFromServer();
            });
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::notifyPrimary(int timeoutMs) const
{
    // The first program may still be starting up: try again until the deadline.
    const QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        QLocalSocket socket;
        socket.setSocketOptions(QLocalSocket::AbstractNamespaceOption);
        socket.connectToServer(m_serverName);
        if (socket.waitForConnected(200)) {
            socket.write(kComeForward);
            const bool sent = socket.waitForBytesWritten(1000);
            socket.disconnectFromServer();
            if (sent)
                return true;
        }
        QThread::msleep(100);
    }
    return false;
}
