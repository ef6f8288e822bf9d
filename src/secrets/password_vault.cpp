#include "password_vault.h"

#include "program_module.h"

#include <QEventLoop>
#include <QPointer>
#include <QTimer>
#include <memory>

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

// Loaded once, at the first call; nullptr when it cannot be, which leaves no store to ask.
KeychainModule::Start keychain()
{
    static const KeychainModule::Start start = [] {
        const ProgramModule::Entry module =
            ProgramModule::find(KeychainModule::kFile, KeychainModule::kStart);
        if (!module.address)
            qWarning("The secret store cannot be reached: %s", qPrintable(module.problem));
        return reinterpret_cast<KeychainModule::Start>(module.address);
    }();
    return start;
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
        const bool started = startJob(call, [](KeychainModule::Answer, const QString&) {
            if (--g_handedOver == 0 && g_waiting)
                g_waiting->quit();
        });
        if (started)
            ++g_handedOver;
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

bool PasswordVault::startJob(const Call& call, KeychainModule::Done done)
{
    const KeychainModule::Start start = keychain();
    if (!start)
        return false;
    start({call.kind, kService, entryKey(call.address, call.user), call.password}, std::move(done));
    return true;
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
        if (m_stalled || !start(call))
            answer(call, Outcome::Unavailable);
    }
}

bool PasswordVault::start(const Call& call)
{
    auto timedOut = std::make_shared<bool>(false);
    auto* timer = new QTimer(this);
    timer->setSingleShot(true);
    const Call asked{call.kind, call.address, call.user, {}};

    // A job outlives its vault; what it answers then is for nobody.
    const QPointer<PasswordVault> self(this);
    const bool started = startJob(call, [self, asked, timedOut, timer](
                                            KeychainModule::Answer answered, const QString& found) {
        if (!self)
            return;
        const bool storeAnswered = answered != KeychainModule::Answer::Failed;
        if (*timedOut) {
            // Its caller has had its answer; what is left is that the store takes calls again.
            self->m_stalled = false;
            if (storeAnswered)
                self->setAvailable(true);
            return;
        }
        timer->stop();
        timer->deleteLater();
        const Outcome outcome = answered == KeychainModule::Answer::Done ? Outcome::Done
                                : answered == KeychainModule::Answer::NotFound
                                    ? Outcome::NotFound
                                    : Outcome::Unavailable;
        self->m_busy = false;
        self->answer(asked, outcome, asked.kind == Kind::Read ? found : QString());
        self->startNext();
    });
    if (!started) {
        delete timer;
        return false;
    }
    // The keychain starts its jobs from the event loop: the answer comes after this returns.
    m_busy = true;
    connect(timer, &QTimer::timeout, this, [this, asked, timedOut, timer] {
        *timedOut = true;
        m_stalled = true;
        m_busy = false;
        timer->deleteLater();
        answer(asked, Outcome::Unavailable);
        startNext();
    });
    timer->start(m_timeoutMs);
    return true;
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
