#include "single_instance.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QThread>
#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

// The lock and the socket are the system's own: the lock is a flock(), which the kernel lets go
// of when the process ends however it ends, so no lock is ever stale and nothing has to be
// written to the disk and synced to take it; the socket is an abstract Unix socket, which
// needs no networking library loaded at every start.

namespace {

const QByteArray kComeForward = "come forward";

// An abstract socket name, per user: no file is left behind by a run that ends at once.
socklen_t addressOf(const QByteArray& name, sockaddr_un& address)
{
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    const size_t length = std::min(size_t(name.size()), sizeof address.sun_path - 1);
    std::memcpy(address.sun_path + 1, name.constData(), length);
    return socklen_t(offsetof(sockaddr_un, sun_path) + 1 + length);
}

} // namespace

SingleInstance::SingleInstance(const QString& storePath, QObject* parent) : QObject(parent)
{
    const QString absolute = QFileInfo(storePath).absoluteFilePath();
    m_serverName =
        QStringLiteral("kestrune-%1-").arg(getuid()).toLatin1() +
        QCryptographicHash::hash(absolute.toUtf8(), QCryptographicHash::Sha1).toHex().left(16);
    m_lockPath = QFile::encodeName(absolute + QStringLiteral(".lock"));
    // A lock taken on a file that the program before removed on its way out is no lock: the
    // file at the path must still be the one locked.
    for (int attempt = 0; attempt < 3; ++attempt) {
        m_lock = ::open(m_lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        // A folder where no lock can be made is no sign of another program: the store itself
        // will tell the user what is wrong with it.
        if (m_lock < 0) {
            m_primary = true;
            break;
        }
        if (::flock(m_lock, LOCK_EX | LOCK_NB) != 0) {
            m_primary = errno != EWOULDBLOCK;
            ::close(m_lock);
            m_lock = -1;
            break;
        }
        struct stat held, named;
        if (::fstat(m_lock, &held) == 0 && ::stat(m_lockPath.constData(), &named) == 0 &&
            held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
            m_primary = true;
            break;
        }
        ::close(m_lock);
        m_lock = -1;
        m_primary = true; // after three files gone from under it, the store decides
    }
    if (m_primary)
        listen();
}

SingleInstance::~SingleInstance()
{
    if (m_listener >= 0)
        ::close(m_listener);
    if (m_lock >= 0) {
        // Removed while still held, so that no other start takes a lock on a file going away.
        ::unlink(m_lockPath.constData());
        ::close(m_lock);
    }
}

void SingleInstance::listen()
{
    m_listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_listener < 0)
        return;
    sockaddr_un address;
    const socklen_t length = addressOf(m_serverName, address);
    if (::bind(m_listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(m_listener, 8) != 0) {
        ::close(m_listener);
        m_listener = -1;
        return;
    }
}

void SingleInstance::acceptSecondStarts()
{
    if (m_listener < 0 || m_listening)
        return;
    m_listening = true;
    auto* notifier = new QSocketNotifier(m_listener, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &SingleInstance::acceptCallers);
}

void SingleInstance::acceptCallers()
{
    for (;;) {
        const int socket = ::accept4(m_listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (socket < 0)
            return;
        auto* notifier = new QSocketNotifier(socket, QSocketNotifier::Read, this);
        auto received = std::make_shared<QByteArray>();
        connect(notifier, &QSocketNotifier::activated, this, [this, socket, notifier, received] {
            char buffer[256];
            for (;;) {
                const ssize_t n = ::read(socket, buffer, sizeof buffer);
                if (n > 0) {
                    received->append(buffer, n);
                    continue;
                }
                if (n < 0 && (errno == EAGAIN || errno == EINTR))
                    return; // the rest is still on its way
                break;      // the caller is done, or gone
            }
            notifier->setEnabled(false);
            notifier->deleteLater();
            ::close(socket);
            if (received->contains(kComeForward))
                emit secondStart();
        });
    }
}

bool SingleInstance::notifyPrimary(int timeoutMs) const
{
    // The first program may still be starting up: try again until the deadline.
    const QDeadlineTimer deadline(timeoutMs);
    sockaddr_un address;
    const socklen_t length = addressOf(m_serverName, address);
    while (!deadline.hasExpired()) {
        const int socket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (socket < 0)
            return false;
        bool sent = false;
        if (::connect(socket, reinterpret_cast<sockaddr*>(&address), length) == 0) {
            const QByteArray message = kComeForward + '\n';
            sent = ::send(socket, message.constData(), size_t(message.size()), MSG_NOSIGNAL) ==
                   ssize_t(message.size());
        }
        ::close(socket);
        if (sent)
            return true;
        QThread::msleep(100);
    }
    return false;
}
