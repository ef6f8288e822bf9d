#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>

class SettingsStore;
class SyncTasksHost;

// Two-way sync of the whole tree with one CalDAV account. The network work runs on a thread of
// its own; this object lives on the GUI thread, and what a sync brings is handed to the main
// window through SyncTasksHost. It knows no password store: the window that asks for the
// password gives it here, and it is kept in memory only.
class SyncController : public QObject
{
    Q_OBJECT

public:
    struct Account
    {
        QString address;
        QString user;
        bool plainHttpAgreed = false; // http:// to a host that is not loopback
        bool operator==(const Account&) const = default;
    };

    SyncController(SettingsStore& store, SyncTasksHost& host, QObject* parent = nullptr);
    ~SyncController() override;

    Account account() const;
    // Stores the address and user name (never the password) and forgets what was synced with
    // another account.
    void setAccount(const Account& account);
    void setPassword(const QString& password);
    bool hasPassword() const;
    // An address and a user name are stored.
    bool isSetUp() const;

    // Starts a sync now, or one more right after the one under way.
    void syncNow();
    // After a saving command: gathered for a moment so that a burst of commands makes one sync.
    void syncSoon();
    bool isRunning() const;
    // When the last sync ended and how, in words a person understands; empty before the first.
    QString statusText() const;

    // Ends the sync under way, waiting at most `waitMs`: what was not sent goes next time.
    void stop(int waitMs = 1000);

signals:
    void statusChanged(const QString& text);
    // A sync wanted to run but there is no password in this run.
    void passwordNeeded();
};
