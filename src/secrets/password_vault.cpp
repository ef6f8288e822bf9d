#include "password_vault.h"

#include <QEventLoop>
#include <QTimer>
#include <memory>
#include <qt6keychain/keychain.h>

namespace {

const QString kService = QStringLiteral("Kestrune");

// The keychain jobs of vaults already gone, and the loop that waits for them at the end.
int g_handedOver = 0;
QEventLoop* g_waiting = nullptr;

// The entry's name as a keyring manager lists it: "anna@https://cloud.example/remote.php/dav".
QString entryKey(const QString& address, const QString& user)
{
    return user + QLatin1Char('@') + address;
}

} // namespace

PasswordVault::PasswordVault(QObject* parent) : QObject(parent)
{
}

// A password typed just before the window closed must still reach the store, or the next start
// asks for it again: writes and removals not yet begun are handed to the keychain, which runs
// them after the call in flight for as long as the event loop goes on. Reads have nobody left to
// answer.
PasswordVault::~PasswordVault()
{
    for (const Call& call : m_calls) {
        if (call.kind == Kind::Read)
            continue;
        QKeychain::Job* job = newJob(call);
        job->setAutoDelete(true);
        ++g_handedOver;
        QObject::connect(job, &QKeychain::Job::finished, [] {
            if (--g_handedOver == 0 && g_waiting)
                g_waiting->quit();
        });
        job->start();
    }
}

void PasswordVault::finishHandedOver(int ms)
{
    if (g_handedOver == 0)
        return;
    QEventLoop loop;
    g_waiting = &loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
    g_waiting = nullptr;
}

QKeychain::Job* PasswordVault::newJob(const Call& call)
{
    QKeychain::Job* job = nullptr;
    switch (call.kind) {
    case Kind::Read:
        job = new QKeychain::ReadPasswordJob(kService);
        break;
    case Kind::Write: {
        auto* write = new QKeychain::WritePasswordJob(kService);
        write->setTextData(call.password);
        job = write;
        break;
    }
    case Kind::Remove:
        job = new QKeychain::DeletePasswordJob(kService);
        break;
    }
    job->setInsecureFallback(false);
    job->setKey(entryKey(call.address, call.user));
    return job;
}

void PasswordVault::read(const QString& address, const QString& user)
{
    enqueue({Kind::Read, address, user, {}});
}

void PasswordVault::write(const QString& address, const QString& user, const QString& password)
{
    enqueue({Kind::Write, address, user, password});
}

void PasswordVault::remove(const QString& address, const QString& user)
{
    enqueue({Kind::Remove, address, user, {}});
}

void PasswordVault::enqueue(Call call)
{
    m_calls.push_back(std::move(call));
    startNext();
}

void PasswordVault::startNext()
{
    while (!m_busy && !m_calls.empty()) {
        const Call call = std::move(m_calls.front());
        m_calls.pop_front();
        if (m_stalled) {
            answer(call, Outcome::Unavailable);
            continue;
        }
        start(newJob(call), call);
    }
}

void PasswordVault::start(QKeychain::Job* job, const Call& call)
{
    m_busy = true;
    // The job has no parent and deletes itself when it ends: the keychain's backends hold on to
    // it until their answer comes, which may be after this vault has gone.
    job->setAutoDelete(true);
    auto timedOut = std::make_shared<bool>(false);
    auto* timer = new QTimer(this);
    timer->setSingleShot(true);
    const Call asked{call.kind, call.address, call.user, {}};

    connect(
        job, &QKeychain::Job::finished, this, [this, asked, timedOut, timer](QKeychain::Job* done) {
            const QKeychain::Error error = done->error();
            const bool answered = error == QKeychain::NoError || error == QKeychain::EntryNotFound;
            if (*timedOut) {
                // Its caller has had its answer; what is left is that the store takes calls
                // again.
                m_stalled = false;
                if (answered)
                    setAvailable(true);
                return;
            }
            timer->stop();
            timer->deleteLater();
            Outcome outcome = Outcome::Unavailable;
            if (error == QKeychain::NoError)
                outcome = Outcome::Done;
            else if (error == QKeychain::EntryNotFound)
                outcome = Outcome::NotFound;
            QString password;
            if (asked.kind == Kind::Read && outcome == Outcome::Done)
                password = static_cast<QKeychain::ReadPasswordJob*>(done)->textData();
            m_busy = false;
            answer(asked, outcome, password);
            startNext();
        });
    connect(timer, &QTimer::timeout, this, [this, asked, timedOut, timer] {
        *timedOut = true;
        m_stalled = true;
        m_busy = false;
        timer->deleteLater();
        answer(asked, Outcome::Unavailable);
        startNext();
    });
    timer->start(m_timeoutMs);
    job->start();
}

void PasswordVault::answer(const Call& call, Outcome outcome, const QString& password)
{
    // Answers always come after the call has returned, even those known at once, so that a
    // caller sees one order whatever the store does.
    QMetaObject::invokeMethod(
        this,
        [this, kind = call.kind, address = call.address, user = call.user, outcome, password] {
            setAvailable(outcome != Outcome::Unavailable);
            switch (kind) {
            case Kind::Read:
                emit readFinished(address, user, outcome, password);
                break;
            case Kind::Write:
                emit writeFinished(address, user, outcome);
                break;
            case Kind::Remove:
                emit removeFinished(address, user, outcome);
                break;
            }
        },
        Qt::QueuedConnection);
}

void PasswordVault::setAvailable(bool available)
{
    if (available == m_available)
        return;
    m_available = available;
    emit availabilityChanged(available);
}
