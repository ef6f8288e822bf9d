#pragma once

#include "settings_store.h"
#include "task_list_codec.h"
#include "task_list_model.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUuid>
#include <array>
#include <memory>
#include <optional>

// What the directory needs of the main window: the category on screen, whose lists there are
// the working copy of its stored ones, and what its saving command stores.
class TaskListsHost
{
public:
    virtual ~TaskListsHost() = default;
    // The key of the category shown, or an empty text when none is.
    virtual QString shownCategoryKey() const = 0;
    virtual TaskListModel* shownTasks(bool deleted) const = 0;
    // Both lists on screen as the saving command stores them. Throws Failure without a category.
    virtual SettingsStore::Changes shownTasksChanges() const = 0;
};

// The category on screen, its lists' revisions and the store's commits at one moment: while
// the same, nothing changed the lists on screen or stored anything.
struct ShownListsStamp
{
    QString categoryKey;
    std::array<quint64, 2> revisions{}; // of the active and the deleted list
    quint64 storeCommits = 0;
    static ShownListsStamp of(const SettingsStore& store, const TaskListsHost& host);
    bool operator==(const ShownListsStamp&) const = default;
};

// The one way to reach and change a task by its UID, wherever it lives: through the lists on
// screen for the category shown (changed there, and stored as its saving command stores them),
// through the store for every other category of the tree. Changes gather until save(), which
// stores every changed category, both of its lists with their UIDs, in one transaction: a batch
// of changes is stored whole or not at all. A directory serves one batch, and the next while it
// is current().
class TaskDirectory
{
public:
    struct Place
    {
        QString categoryKey;
        bool deleted = false;
    };

    // `categoryKeys`: every category of the tree. Lists of categories no longer in the tree
    // are left alone.
    TaskDirectory(SettingsStore& store, TaskListsHost& host, const QStringList& categoryKeys);
    ~TaskDirectory();
    TaskDirectory(const TaskDirectory&) = delete;
    TaskDirectory& operator=(const TaskDirectory&) = delete;

    std::optional<Place> find(const QUuid& uid) const;
    // The task's six texts as they stand in the directory.
    std::optional<TaskListCodec::Fields> fields(const QUuid& uid) const;
    int rowCount(const QString& categoryKey, bool deleted) const;
    // The UIDs given here to tasks of stored lists that had none, for the lists nothing changed,
    // as save() stores them.
    SettingsStore::Changes givenUids() const;
    // A category made after the directory was (it has no stored lists).
    void addCategory(const QString& categoryKey);

    // Rewrites the task's six texts where it is; false when it is not found or unchanged.
    bool update(const QUuid& uid, const TaskListCodec::Fields& fields);
    // Appends a new task; the caller makes sure there is room (TaskListCodec::kMaxTasks).
    void append(const QString& categoryKey, bool deleted, const TaskListCodec::Fields& fields,
                const QUuid& uid);
    // Room for `rows` more tasks in that list, made at once.
    void reserve(const QString& categoryKey, bool deleted, qsizetype rows);
    // The tasks of a list as they stand, in order.
    QList<TaskRow> rows(const QString& categoryKey, bool deleted) const;
    // Moves the task to the end of that list; false when it is not found or already there.
    bool move(const QUuid& uid, const QString& categoryKey, bool deleted);
    // Takes the task out of both lists for good; false when it is not found.
    bool remove(const QUuid& uid);
    // Puts the tasks of `order` first in that list, in that order; the others follow as they
    // were. False when nothing moved.
    bool arrange(const QString& categoryKey, bool deleted, const QList<QUuid>& order);

    // Stores every changed category, with `more` in the same transaction; returns their keys,
    // in the order they were changed.
    QStringList save(SettingsStore::Changes more = {});
    // Whether the directory still holds its lists as they are: nothing stored them since it
    // read or saved them, and the lists on screen did not change. A directory that is may serve
    // the next batch.
    bool current() const;

private:
    struct List;
    struct Row
    {
        List* list = nullptr;
        qsizetype index = 0;
    };
    List& list(const QString& categoryKey, bool deleted);
    void load(const QString& categoryKey);
    void loadShown();
    std::optional<Row> rowOf(const QUuid& uid) const;
    void changed(const QString& categoryKey);
    void reindex(List& list);

    SettingsStore& m_store;
    TaskListsHost& m_host;
    QString m_shownKey;
    // Both lists of every category of the tree, by list key: the shown category's as on
    // screen, every other as stored.
    QHash<QString, std::shared_ptr<List>> m_lists;
    QHash<QUuid, Row> m_rows;
    QStringList m_changed;
    // The lists on screen and the store as the directory last knew them.
    ShownListsStamp m_stamp;
    bool m_reusable = true;
};
