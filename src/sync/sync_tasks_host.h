#pragma once

#include "settings_store.h"
#include "task_list_codec.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QUuid>
#include <optional>

// A task as a sync sees it in one of a category's lists.
struct SyncTaskItem
{
    QUuid uid;
    TaskListCodec::Fields fields;
};

struct SyncLists
{
    QList<SyncTaskItem> active;
    QList<SyncTaskItem> deleted;
};

// A category of the tree: where it hangs and where among its siblings.
struct SyncCategory
{
    QString key;
    QString name;
    QString parentKey; // empty at the top level
    int order = 0;     // among its siblings
    bool operator==(const SyncCategory&) const = default;
};

// What a sync brings to this side, applied whole with the sync state it goes with. Categories
// the server brought are named by a placeholder key (kNewCategoryPrefix + the calendar's href)
// until the main window gives them keys of their own.
struct SyncBatch
{
    static constexpr QLatin1StringView kNewCategoryPrefix{"\x01new:"};

    struct NewCategory
    {
        QString placeholder;
        QString name;
        QString parentKey; // a key of the tree, another placeholder, or empty at the top
        int order = 0;
    };
    struct TaskChange
    {
        QUuid uid;
        QString categoryKey;
        bool deleted = false;                        // the list it goes to
        std::optional<TaskListCodec::Fields> fields; // none: as they stand
        // It goes to the deleted list because it was deleted on the server.
        bool deletedThere = false;
        // The digest of the task's fields when the sync read them, or none for a task it did
        // not see here: a task changed since then keeps its change, and this one waits.
        std::optional<quint64> seenDigest;
        // The task leaves both lists for good.
        bool remove = false;
    };

    QList<NewCategory> newCategories;
    // Siblings put in the order the server gives them, once the new categories are made: parent
    // key (empty at the top level) -> its children, in order.
    QHash<QString, QStringList> siblingOrder;
    // Categories whose calendar another program renamed: key -> the new name.
    QHash<QString, QString> renamed;
    QList<TaskChange> tasks;
    // The active list of a category in the order the server and this side agreed on.
    QHash<QString, QList<QUuid>> activeOrder;
    // Asked before anything of the category changes here. With a no, the tasks deleted on the
    // server stay here (and go there again with the next sync).
    struct Question
    {
        QString categoryKey;
        QString text;
        SettingsStore::Changes ifYes; // sync state stored with the answer
        SettingsStore::Changes ifNo;
        QString noMessage; // said after a no, when there is something to say
    };
    QList<Question> questions;
    // The sync state to store with the changes above, in the same transaction.
    SettingsStore::Changes state;
    // Categories whose lists, once stored, are what the server holds: their digest is kept.
    QStringList settledCategories;
    // Categories whose changes wait (see SyncRun::holdCategory).
    QStringList held;

    bool changesTasks() const
    {
        return !newCategories.isEmpty() || !tasks.isEmpty() || !activeOrder.isEmpty();
    }
};

// What a sync needs of the main window. Called on the GUI thread only, but for
// readStoredLists().
class SyncTasksHost
{
public:
    virtual ~SyncTasksHost() = default;
    // Every category, parents before their children.
    virtual QList<SyncCategory> syncCategories() const = 0;
    // Both lists of a category as they stand: the shown category's from screen.
    virtual SyncLists syncLists(const QString& categoryKey) const = 0;
    // Both lists of a category as stored, read on any thread: it reads the store only. The UIDs
    // given to tasks stored without them go to `uidsToStore`, to be stored on the GUI thread
    // before the lists are used, so that the next read gives the same ones.
    virtual SyncLists readStoredLists(const QString& categoryKey,
                                      SettingsStore::Changes& uidsToStore) const = 0;
    // The key of the category on screen, empty when none is.
    virtual QString syncShownCategory() const = 0;
    // Whether the lists on screen hold a change no saving command has stored yet.
    virtual bool shownListsUnsaved() const = 0;
    // Applies `batch` (its task changes and its state, in one transaction). Returns the keys of
    // the categories made for the placeholders, by placeholder. Throws Failure. A big batch
    // comes in slices (see SyncSlices), each whole in itself.
    // What cannot be applied now is taken out of `batch` with SyncRun::holdCategory/holdTask.
    virtual QHash<QString, QString> applySyncBatch(SyncBatch& batch) = 0;
    // A yes/no question through the program's prompts.
    virtual bool askSync(const QString& question) = 0;
};
