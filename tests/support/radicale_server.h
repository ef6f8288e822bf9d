#pragma once

// A real CalDAV server for the tests: Radicale on 127.0.0.1, on a free port, with htpasswd
// accounts and its collections in a temporary folder of its own. It is started by the
// constructor and killed by the destructor; stop() and start() take it away and bring it back
// on the same port with the same collections, for the tests of a server that has gone.
#include <QList>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <QUrl>
#include <memory>

class RadicaleServer
{
public:
    struct User
    {
        QString name;
        QString password;
    };

    // The first user is the one user() and password() name.
    explicit RadicaleServer(QList<User> users = {
                                {QStringLiteral("alice"), QStringLiteral("secret")}});
    ~RadicaleServer();
    RadicaleServer(const RadicaleServer&) = delete;
    RadicaleServer& operator=(const RadicaleServer&) = delete;

    // True once it answers; otherwise errorString() says why it did not start.
    bool isRunning() const;
    QString errorString() const { return m_error; }

    // http://127.0.0.1:<port>/
    QUrl url() const;
    quint16 port() const { return m_port; }
    QString user() const { return m_users.value(0).name; }
    QString password() const { return m_users.value(0).password; }
    // Where Radicale keeps the collections (collection-root/<user>/...).
    QString storagePath() const;

    // Ends the server (the port then refuses connections); start() brings it back as it was.
    void stop();
    bool start();

private:
    bool startOnce();
    void writeConfig();

    QList<User> m_users;
    QTemporaryDir m_dir;
    quint16 m_port = 0;
    std::unique_ptr<QProcess> m_process;
    QString m_error;
};
