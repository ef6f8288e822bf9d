#include "password_vault.h"

#include <QTimer>
#include <memory>
#include <qt6keychain/keychain.h>

namespace {

const QString kService = QStringLiteral("Kestrune");

// The entry's name as a keyring manager lists it: "anna@https://cloud.example/remote.php/dav".
QString entryKey(const QString& address, const QString& user)
{
    return user + QLatin1Char('@') + address;
}

} // namespace

PasswordVault::PasswordVault(QObject* parent) : QObject(parent)
{
}

PasswordVault::~PasswordVault() = default;

void PasswordVault::read(const QString& address, const QString& user)
{
    if (m_stalled) {
        answer(Kind::Read, address, user, Outcome::Unavailable);
        return;
    }
    start(new QKeychain::ReadPasswordJob(kService), Kind::Read, address, user);
}

void PasswordVault::write(const QString& address, const QString& user, const QString& password)
{
    if (m_stalled) {
        answer(Kind::Write, address, user, Outcome::Unavailable);
        return;
    }
    auto* job = new QKeychain::WritePasswordJob(kService);
    job->setTextData(password);
    start(job, Kind::Write, address, user);
}

void PasswordVault::remove(const QString& address, const QString& user)
{
    if (m_stalled) {
        answer(Kind::Remove, address, user, Outcome::Unavailable);
        return;
    }
    start(new QKeychain::DeletePasswordJob(kService), Kind::Remove, address, user);
}

void PasswordVault::start(QKeychain::Job* job, Kind kind, const QString& address,
                          const QString& user)
{
    // The job has no parent and deletes itself when it ends: the keychain's backends hold on to
    // it until their answer comes, which may be after this vault has gone.
    job->setAutoDelete(true);
    job->setInsecureFallback(false);
    job->setKey(entryKey(address, user));
    auto timedOut = std::make_shared<bool>(false);
    auto* timer = new QTimer(this);
    timer->setSingleShot(true);

    connect(job, &QKeychain::Job::finished, this,
            [this, kind, address, user, timedOut, timer](QKeychain::Job* done) {
                const QKeychain::Error error = done->error();
                const bool answered =
                    error == QKeychain::NoError || error == QKeychain::EntryNotFound;
                if (*timedOut) {
                    // Its caller has had its answer; what is left is that the store is free for
                    // the next call again.
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
                if (kind == Kind::Read && outcome == Outcome::Done)
                    password = static_cast<QKeychain::ReadPasswordJob*>(done)->textData();
                answer(kind, address, user, outcome, password);
            });
    connect(timer, &QTimer::timeout, this, [this, kind, address, user, timedOut, timer] {
        *timedOut = true;
        m_stalled = true;
        timer->deleteLater();
        answer(kind, address, user, Outcome::Unavailable);
    });
    timer->start(m_timeoutMs);
    job->start();
}

void PasswordVault::answer(Kind kind, const QString& address, const QString& user, Outcome outcome,
                           const QString& password)
{
    // Answers always come after the call has returned, even those known at once, so that a
    // caller sees one order whatever the store does.
    QMetaObject::invokeMethod(
        this,
        [this, kind, address, user, outcome, password] {
            if (outcome == Outcome::Unavailable)
                setAvailable(false);
            else
                setAvailable(true);
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
