#pragma once

#include "keychain_module.h"

#include <QObject>
#include <QString>
#include <deque>

// The sync account's password in the desktop's secret store (the Secret Service, or KWallet on
// Plasma), one entry per server address and user name. Every call answers later, by its signal,
// exactly once. When no store answers, or it fails, or it is silent for longer than the time-out,
// the answer says so and isAvailable() turns false: the caller then keeps the password in memory
// for this run. Nothing here writes the password anywhere else, nor into a message.
class PasswordVault : public QObject
{
    Q_OBJECT

public:
    enum class Outcome
    {
        Done,
        NotFound,    // a read or removal found no entry: the store itself answered
        Unavailable, // no store answered, it failed, or it took too long
    };
    Q_ENUM(Outcome)

    static constexpr int kDefaultTimeoutMs = 5000;

    explicit PasswordVault(QObject* parent = nullptr);
    ~PasswordVault() override;

    // How long one call may go unanswered before the store counts as absent.
    void setTimeout(int ms) { m_timeoutMs = ms; }

    // False after a call the store did not answer; true again when one is answered.
    bool isAvailable() const { return m_available; }

    // Runs the event loop until the writes and removals that vaults gone before their store
    // answered handed to the keychain have ended, or `ms` have passed: for the end of the
    // program, after its last window.
    static void finishHandedOver(int ms);

    void read(const QString& address, const QString& user);
    void write(const QString& address, const QString& user, const QString& password);
    void remove(const QString& address, const QString& user);

signals:
    // The password is empty unless the outcome is Done.
    void readFinished(const QString& address, const QString& user, PasswordVault::Outcome outcome,
                      const QString& password);
    void writeFinished(const QString& address, const QString& user, PasswordVault::Outcome outcome);
    void removeFinished(const QString& address, const QString& user,
                        PasswordVault::Outcome outcome);
    void availabilityChanged(bool available);

private:
    using Kind = KeychainModule::Kind;
    struct Call
    {
        Kind kind;
        QString address;
        QString user;
        QString password;
    };
    void enqueue(Call call);
    void startNext();
    // False, and `done` is never called, when the secret store's module cannot be loaded.
    static bool startJob(const Call& call, KeychainModule::Done done);
    // False when the call could not be started.
    bool start(const Call& call);
    void answer(const Call& call, Outcome outcome, const QString& password = {});
    void setAvailable(bool available);

    int m_timeoutMs = kDefaultTimeoutMs;
    bool m_available = true;
    // One call at a time goes to the store, as the keychain runs them one at a time anyway: a
    // call's time-out then counts from when the store has it.
    std::deque<Call> m_calls;
    bool m_busy = false;
    // A store that left a call unanswered holds every later one behind it, so until that call
    // ends the rest are answered at once, without it.
    bool m_stalled = false;
};
