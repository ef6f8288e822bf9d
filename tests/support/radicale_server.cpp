#include "radicale_server.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

namespace {

quint16 freePort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

} // namespace

RadicaleServer::RadicaleServer(QList<User> users) : m_users(std::move(users))
{
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary folder: ") + m_dir.errorString();
        return;
    }
    QFile htpasswd(m_dir.filePath(QStringLiteral("users")));
    if (!htpasswd.open(QIODevice::WriteOnly)) {
        m_error = htpasswd.errorString();
        return;
    }
    for (const User& user : m_users)
        htpasswd.write((user.name + u':' + user.password + u'\n').toUtf8());
    htpasswd.close();
    // Another program may take the port between the probe and Radicale's bind: try again then.
    for (int attempt = 0; attempt < 3 && !isRunning(); ++attempt) {
        m_port = freePort();
        writeConfig();
        startOnce();
    }
}

RadicaleServer::~RadicaleServer()
{
    stop();
}

void RadicaleServer::writeConfig()
{
    QFile config(m_dir.filePath(QStringLiteral("config")));
    if (!config.open(QIODevice::WriteOnly))
        return;
    const QString text = QStringLiteral("[server]\nhosts = 127.0.0.1:%1\n"
                                        "[auth]\ntype = htpasswd\nhtpasswd_filename = %2\n"
                                        "htpasswd_encryption = plain\ndelay = 0\n"
                                        "[storage]\nfilesystem_folder = %3\n"
                                        "[web]\ntype = none\n"
                                        "[logging]\nlevel = error\n")
                             .arg(m_port)
                             .arg(m_dir.filePath(QStringLiteral("users")), storagePath());
    config.write(text.toUtf8());
}

bool RadicaleServer::isRunning() const
{
    return m_process && m_process->state() == QProcess::Running && m_error.isEmpty();
}

QUrl RadicaleServer::url() const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(m_port));
}

QString RadicaleServer::storagePath() const
{
    return m_dir.filePath(QStringLiteral("collections"));
}

bool RadicaleServer::start()
{
    if (isRunning())
        return true;
    return startOnce();
}

bool RadicaleServer::startOnce()
{
    m_error.clear();
    m_process = std::make_unique<QProcess>();
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    m_process->start(QStringLiteral("radicale"),
                     {QStringLiteral("-C"), m_dir.filePath(QStringLiteral("config"))});
    if (!m_process->waitForStarted(5000)) {
        m_error = QStringLiteral("radicale did not start: ") + m_process->errorString();
        return false;
    }
    const QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired()) {
        if (m_process->state() != QProcess::Running) {
            m_error = QStringLiteral("radicale ended: ") +
                      QString::fromUtf8(m_process->readAll()).trimmed();
            return false;
        }
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, m_port);
        if (probe.waitForConnected(200))
            return true;
        m_process->waitForReadyRead(50);
    }
    m_error = QStringLiteral("radicale did not answer within 10 seconds: ") +
              QString::fromUtf8(m_process->readAll()).trimmed();
    stop();
    return false;
}

void RadicaleServer::stop()
{
    if (!m_process)
        return;
    if (m_process->state() != QProcess::NotRunning) {
        m_process->terminate();
        if (!m_process->waitForFinished(3000)) {
            m_process->kill();
            m_process->waitForFinished(3000);
        }
    }
    m_process.reset();
}
