#include "misbehaving_server.h"

#include <QEventLoop>
#include <QHostAddress>
#include <QMutexLocker>
#include <QSemaphore>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

namespace {

QByteArray reasonOf(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 207:
        return "Multi-Status";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 307:
        return "Temporary Redirect";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 412:
        return "Precondition Failed";
    case 500:
        return "Internal Server Error";
    default:
        return "Status";
    }
}

bool hasHeader(const MisbehavingServer::Answer& answer, const QByteArray& name)
{
    for (const auto& header : answer.headers)
        if (header.first.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

// One connection: reads a whole request (head and Content-Length body), then answers.
void serve(QTcpSocket* socket, MisbehavingServer* owner)
{
    auto buffer = std::make_shared<QByteArray>();
    auto answered = std::make_shared<bool>(false);
    QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    QObject::connect(socket, &QTcpSocket::readyRead, socket, [=] {
        buffer->append(socket->readAll());
        if (*answered)
            return;
        const qsizetype headEnd = buffer->indexOf("\r\n\r\n");
        if (headEnd < 0)
            return;
        const QByteArray head = buffer->left(headEnd);
        qint64 length = 0;
        for (const QByteArray& line : head.split('\n'))
            if (line.toLower().startsWith("content-length:"))
                length = line.mid(15).trimmed().toLongLong();
        if (buffer->size() < headEnd + 4 + length)
            return;
        *answered = true;
        const MisbehavingServer::Answer answer = owner->answerTo(head);
        using Way = MisbehavingServer::Answer::Way;
        if (answer.way == Way::Silence)
            return;
        if (answer.way == Way::HangUp) {
            socket->abort();
            socket->deleteLater();
            return;
        }
        QByteArray out = "HTTP/1.1 " + QByteArray::number(answer.status) + ' ' +
                         reasonOf(answer.status) + "\r\nConnection: close\r\n";
        for (const auto& header : answer.headers)
            out += header.first + ": " + header.second + "\r\n";
        if (answer.way == Way::EndlessBody) {
            out += "Transfer-Encoding: chunked\r\n\r\n";
            socket->write(out);
            auto* trickle = new QTimer(socket);
            QObject::connect(trickle, &QTimer::timeout, socket, [socket] {
                socket->write("400\r\n" + QByteArray(0x400, 'x') + "\r\n");
            });
            trickle->start(20);
            return;
        }
        if (answer.way == Way::Whole && !hasHeader(answer, "Content-Length"))
            out += "Content-Length: " + QByteArray::number(answer.body.size()) + "\r\n";
        out += "\r\n" + answer.body;
        socket->write(out);
        if (answer.way == Way::Whole)
            socket->disconnectFromHost();
    });
}

} // namespace

MisbehavingServer::Answer MisbehavingServer::status(int code)
{
    Answer answer;
    answer.status = code;
    answer.headers = {{"Content-Type", "text/plain"}};
    answer.body = "status " + QByteArray::number(code) + '\n';
    return answer;
}

MisbehavingServer::Answer MisbehavingServer::garbage()
{
    return multistatus("<?xml version=\"1.0\"?><multistatus xmlns=\"DAV:\"><response><href>/"
                       "</hre><<<\x01 not xml at all");
}

MisbehavingServer::Answer MisbehavingServer::endlessBody()
{
    Answer answer;
    answer.way = Answer::Way::EndlessBody;
    answer.status = 207;
    answer.headers = {{"Content-Type", "application/xml"}};
    return answer;
}

MisbehavingServer::Answer MisbehavingServer::silence()
{
    Answer answer;
    answer.way = Answer::Way::Silence;
    return answer;
}

MisbehavingServer::Answer MisbehavingServer::hangUp()
{
    Answer answer;
    answer.way = Answer::Way::HangUp;
    return answer;
}

MisbehavingServer::Answer MisbehavingServer::redirect(const QUrl& to, int code)
{
    Answer answer = status(code);
    answer.headers.append({"Location", to.toEncoded()});
    return answer;
}

MisbehavingServer::Answer MisbehavingServer::multistatus(const QByteArray& xml)
{
    Answer answer;
    answer.status = 207;
    answer.headers = {{"Content-Type", "application/xml; charset=utf-8"}};
    answer.body = xml;
    return answer;
}

MisbehavingServer::Answer MisbehavingServer::announcing(qint64 length)
{
    Answer answer;
    answer.way = Answer::Way::HeadOnly;
    answer.status = 207;
    answer.headers = {{"Content-Type", "application/xml"},
                      {"Content-Length", QByteArray::number(length)}};
    return answer;
}

MisbehavingServer::MisbehavingServer(Answer answer) : m_answer(std::move(answer))
{
    QSemaphore listening;
    m_thread.reset(QThread::create([this, &listening] {
        QTcpServer server;
        if (server.listen(QHostAddress::LocalHost, 0))
            m_port = server.serverPort();
        QObject::connect(&server, &QTcpServer::newConnection, &server, [this, &server] {
            while (QTcpSocket* socket = server.nextPendingConnection())
                serve(socket, this);
        });
        listening.release();
        QEventLoop loop; // quit() of the thread ends it
        loop.exec();
        // Sockets still open (silence, endless bodies) go with the server's children.
    }));
    m_thread->start();
    listening.acquire();
}

MisbehavingServer::~MisbehavingServer()
{
    m_thread->quit();
    m_thread->wait();
}

void MisbehavingServer::setAnswer(const Answer& answer)
{
    QMutexLocker lock(&m_mutex);
    m_answer = answer;
}

void MisbehavingServer::setAnswer(const QByteArray& path, const Answer& answer)
{
    QMutexLocker lock(&m_mutex);
    m_byPath.insert(path, answer);
}

MisbehavingServer::Answer MisbehavingServer::answerTo(const QByteArray& head)
{
    QMutexLocker lock(&m_mutex);
    m_requests.append(head);
    // "PROPFIND /path HTTP/1.1"
    const QByteArray path = head.left(head.indexOf('\r')).split(' ').value(1);
    return m_byPath.value(path, m_answer);
}

QUrl MisbehavingServer::url() const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(m_port));
}

QList<QByteArray> MisbehavingServer::requests() const
{
    QMutexLocker lock(&m_mutex);
    return m_requests;
}
