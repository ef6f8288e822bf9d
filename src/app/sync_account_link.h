#pragma once

#include "sync_window_host.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <optional>

class PasswordVault;
class SyncController;
class SyncDialog;
class QWidget;

// The Sync window's way to the account: the address and the user name go into the store
// through the sync, the password into the desktop's secret store and, for this run, into the
// sync's memory. The stored password is read once at start; where no secret store answers,
// the window is opened once per run to ask for it, and the password it was given is written
// again after each sync until a store takes it.
class SyncAccountLink : public QObject, public SyncWindowHost
{
    Q_OBJECT

public:
    SyncAccountLink(SyncController& sync, QWidget* window);
    ~SyncAccountLink() override;

    // Opens the Sync window and returns when it closes.
    void open();

    Account syncAccount() const override;
    void setSyncAccount(const Account& account) override;
    void setSyncPassword(const QString& password) override;
    bool hasSyncPassword() const override;
    bool passwordStoreAnswers() const override;
    void syncNow() override;
    QString syncStatus() const override;

private:
    void readPassword();
    void askForPassword();

    SyncController& m_sync;
    QWidget* m_window;
    PasswordVault* m_vault;
    QPointer<SyncDialog> m_dialog;
    bool m_reading = false;
    bool m_syncWanted = false;
    bool m_asked = false;
    // The password the secret store has not taken yet, for the account it was given for.
    struct Unstored
    {
        QString address;
        QString user;
        QString password;
        int offers = 0; // written again after a sync so many times
    };
    std::optional<Unstored> m_unstored;
};
