#pragma once

#include <QString>

// What the Sync window needs of the window that opens it: the account as stored, the sync itself
// and where the password goes. Changes the host wants shown while the window is open (a new
// status, the password store going silent) it hands to the window's slots.
class SyncWindowHost
{
public:
    struct Account
    {
        QString address;
        QString user;
        // The person agreed to plain http:// for this address's server, which is not this
        // computer.
        bool plainHttpAgreed = false;
        bool operator==(const Account&) const = default;
    };

    virtual ~SyncWindowHost() = default;

    virtual Account syncAccount() const = 0;
    // Stores the address, the user name and the agreement; never a password.
    virtual void setSyncAccount(const Account& account) = 0;
    // A password typed for the stored account: into the desktop's secret store where one
    // answers, and for this run's syncs in any case.
    virtual void setSyncPassword(const QString& password) = 0;
    // A password is known for the stored account, typed in this run or read from the store.
    virtual bool hasSyncPassword() const = 0;
    // False once the desktop's secret store has failed to answer in this run.
    virtual bool passwordStoreAnswers() const = 0;
    virtual void syncNow() = 0;
    // When the last sync ran and how it ended, in words; empty before the first.
    virtual QString syncStatus() const = 0;
};
