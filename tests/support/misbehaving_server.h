#pragma once

// An HTTP server that answers every request one chosen way, for the failure cases a real
// server rarely shows on demand: a refusal by status, XML that is no XML, a body that never
// ends, silence, a hang-up, a redirect. It runs on a thread of its own, so a client that
// blocks in its own event loop on the test's thread still gets its answers. Every request's
// head is kept for the tests to look at (which headers were sent where).
#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QPair>
#include <QUrl>
#include <memory>

class QThread;

class MisbehavingServer
{
public:
    struct Answer
    {
        enum class Way
        {
            Whole,       // the head and the body, then the connection is closed
            HeadOnly,    // the head (with the headers as given), then nothing more
            EndlessBody, // a chunked body that trickles on and never ends
            Silence,     // the request is read and never answered
            HangUp,      // the connection is closed as soon as the request is in
        };
        Way way = Way::Whole;
        int status = 200;
        QList<QPair<QByteArray, QByteArray>> headers;
        QByteArray body;
    };

    static Answer status(int code);
    static Answer garbage();
    static Answer endlessBody();
    static Answer silence();
    static Answer hangUp();
    static Answer redirect(const QUrl& to, int code = 301);
    static Answer multistatus(const QByteArray& xml);
    // A head that announces `length` bytes and sends none of them.
    static Answer announcing(qint64 length);

    explicit MisbehavingServer(Answer answer = status(500));
    ~MisbehavingServer();
    MisbehavingServer(const MisbehavingServer&) = delete;
    MisbehavingServer& operator=(const MisbehavingServer&) = delete;

    // Every request from now on gets this answer, but for the paths given their own.
    void setAnswer(const Answer& answer);
    // Requests for `path` (as sent, percent-encoded) get this answer from now on.
    void setAnswer(const QByteArray& path, const Answer& answer);
    // http://127.0.0.1:<port>/
    QUrl url() const;
    // The head of every request so far (request line and headers), oldest first.
    QList<QByteArray> requests() const;

    // The answer for a request whose head is `head`, kept for requests() as it is given.
    Answer answerTo(const QByteArray& head);

private:
    mutable QMutex m_mutex;
    Answer m_answer;
    QHash<QByteArray, Answer> m_byPath;
    QList<QByteArray> m_requests;
    quint16 m_port = 0;
    std::unique_ptr<QThread> m_thread;
};
