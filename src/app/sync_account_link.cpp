#include "sync_account_link.h"

#include "password_vault.h"
#include "prompts.h"
#include "sync_controller.h"
#include "sync_dialog.h"

#include <QTimer>
#include <QWidget>

namespace {

constexpr int kOffersAfterSyncs = 3;

} // namespace

SyncAccountLink::SyncAccountLink(SyncController& sync, QWidget* window)
    : QObject(window), m_sync(sync), m_window(window), m_vault(new PasswordVault(this))
{
    connect(m_vault, &PasswordVault::readFinished, this,
            [this](const QString& address, const QString& user, PasswordVault::Outcome outcome,
                   const QString& password) {
                m_reading = false;
                const SyncController::Account account = m_sync.account();
                if (address != account.address || user != account.user)
                    return;
                if (outcome == PasswordVault::Outcome::Done && !m_sync.hasPassword())
                    m_sync.setPassword(password);
                if (m_syncWanted) {
                    m_syncWanted = false;
                    m_sync.syncNow();
                }
            });
    connect(m_vault, &PasswordVault::writeFinished, this,
            [this](const QString& address, const QString& user, PasswordVault::Outcome outcome) {
                if (outcome == PasswordVault::Outcome::Done && m_unstored &&
                    m_unstored->address == address && m_unstored->user == user)
                    m_unstored.reset();
            });
    // A store that did not answer may answer later in the run (a keyring unlocked, a desktop
    // service started late): the password is offered again after a sync, so the next start need
    // not ask. A few times only: a store that refuses it would otherwise ask its owner each time.
    connect(&m_sync, &SyncController::finished, this, [this] {
        const SyncController::Account account = m_sync.account();
        if (m_unstored && m_unstored->address == account.address &&
            m_unstored->user == account.user && m_unstored->offers++ < kOffersAfterSyncs)
            m_vault->write(m_unstored->address, m_unstored->user, m_unstored->password);
    });
    connect(m_vault, &PasswordVault::availabilityChanged, this, [this](bool answers) {
        if (m_dialog)
            m_dialog->showPasswordStore(answers);
    });
    connect(&m_sync, &SyncController::statusChanged, this, [this](const QString& text) {
        if (m_dialog)
            m_dialog->showStatus(text);
    });
    connect(&m_sync, &SyncController::passwordNeeded, this, [this] {
        if (m_reading)
            m_syncWanted = true; // the stored password is on its way
        else
            askForPassword();
    });
    readPassword();
}

SyncAccountLink::~SyncAccountLink() = default;

void SyncAccountLink::readPassword()
{
    if (!m_sync.isSetUp() || m_sync.hasPassword())
        return;
    const SyncController::Account account = m_sync.account();
    m_reading = true;
    m_vault->read(account.address, account.user);
}

// Once a run, and only while the window is on screen: a start in the tray asks nothing, and
// the status line says what is missing.
void SyncAccountLink::askForPassword()
{
    if (m_asked || m_dialog || !m_window->isVisible())
        return;
    m_asked = true;
    QTimer::singleShot(0, this, &SyncAccountLink::open);
}

void SyncAccountLink::open()
{
    if (m_dialog)
        return;
    SyncDialog dialog(*this, m_window);
    m_dialog = &dialog;
    Prompts::current().exec(dialog);
    m_dialog = nullptr;
}

SyncWindowHost::Account SyncAccountLink::syncAccount() const
{
    const SyncController::Account account = m_sync.account();
    return {account.address, account.user, account.plainHttpAgreed};
}

void SyncAccountLink::setSyncAccount(const Account& account)
{
    const SyncController::Account before = m_sync.account();
    m_sync.setAccount({account.address, account.user, account.plainHttpAgreed});
    // Another server or user: the password known for the one before is not this one's.
    if (before.address != account.address || before.user != account.user)
        readPassword();
}

void SyncAccountLink::setSyncPassword(const QString& password)
{
    const SyncController::Account account = m_sync.account();
    m_sync.setPassword(password);
    m_unstored = Unstored{account.address, account.user, password, 0};
    m_vault->write(account.address, account.user, password);
}

bool SyncAccountLink::hasSyncPassword() const
{
    return m_sync.hasPassword();
}

bool SyncAccountLink::passwordStoreAnswers() const
{
    return m_vault->isAvailable();
}

void SyncAccountLink::syncNow()
{
    m_sync.syncNow();
}

QString SyncAccountLink::syncStatus() const
{
    return m_sync.statusText();
}
