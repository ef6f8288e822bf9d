#pragma once

#include "dav_client.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>

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
    // Gathered for a moment so that a burst of commands makes one sync.
    void syncSoon();
    // The same after a saving command. Unless something asked for a whole sync meanwhile, that
    // sync asks no calendar for its tag: it syncs the categories changed here, and calendars
    // changed only there wait for the next whole sync (at start, every few minutes, on F5).
    void syncAfterSaving();
    bool isRunning() const;
    // When the last sync ended and how, in words a person understands; empty before the first.
    QString statusText() const;

    // Ends the sync under way, waiting at most `waitMs`: what was not sent goes next time.
    void stop(int waitMs = 1000);

    // A category removed here: its calendar is deleted on the server with the next sync when
    // `deleteThere`, else left there and no longer synced. Stored at once.
    void categoryRemoved(const QString& categoryKey, bool deleteThere);
    // Whether the category has a calendar on the server.
    bool isLinked(const QString& categoryKey) const;
    // After the category on screen was saved or left: what waited for it is merged now.
    void shownCategorySettled();
    // A sync every `ms` while the program runs.
    void setInterval(int ms);
    // How long and how much a server may take, from the next sync on.
    void setLimits(const Dav::Limits& limits);
    // How many of the task changes a sync brings are applied in one turn of the event loop at
    // most (SyncSlices::kTasksPerSlice).
    void setTasksPerSlice(qsizetype tasks);

signals:
    void statusChanged(const QString& text);
    // A sync wanted to run but there is no password in this run.
    void passwordNeeded();
    // A sync ended and its changes (if any) are applied.
    void finished();

private:
    struct Run;
    // A sync now, or one more right after the one under way.
    void request(bool changedOnly);
    void start(bool changedOnly);
    void digestLists(const std::shared_ptr<Run>& run);
    void listsDigested(const std::shared_ptr<Run>& run);
    void readLists(const std::shared_ptr<Run>& run);
    void listsRead(const std::shared_ptr<Run>& run, const QString& key);
    void onThread(const std::shared_ptr<Run>& run, std::function<void()> work, QString Run::*failed,
                  const QString& unexpected, std::function<void(SyncController&)> then);
    void finish(const std::shared_ptr<Run>& run);
    void applySlice(const std::shared_ptr<Run>& run);
    void storeSlice(const std::shared_ptr<Run>& run);
    void nextTurn(std::function<void()> step);
    void done(const std::shared_ptr<Run>& run, const QString& status);
    void setStatus(const QString& text);

    // What syncs did, added up over those that run straight after each other (a sync that made
    // categories or asked a question runs one more), so that the status tells the whole.
    struct Tally
    {
        int uploaded = 0;
        int downloaded = 0;
        int removedThere = 0;
        int movedToDeleted = 0; // deleted on another device
        int conflicts = 0;
        QStringList problems;
    };
    static QString statusOf(const Tally& tally);

    SettingsStore& m_store;
    SyncTasksHost& m_host;
    QString m_password;
    QString m_status;
    std::shared_ptr<Run> m_run;
    bool m_again = false;
    std::optional<Tally> m_carried; // of the syncs before the one due straight after them
    bool m_soonChangedOnly = false; // the sync gathered is one of syncAfterSaving()
    bool m_waiting = false;         // something waited for the category on screen
    QTimer m_soon;
    QElapsedTimer m_gathering; // since the first saving command m_soon gathers
    QTimer m_interval;
    Dav::Limits m_limits;
    qsizetype m_tasksPerSlice;
};
