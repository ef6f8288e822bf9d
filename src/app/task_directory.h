#pragma once

#include "task_list_codec.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUuid>
#include <memory>
#include <optional>

class SettingsStore;
class TaskListModel;

// What the directory needs of the main window: the category on screen, whose lists there are
// the working copy of its stored ones, and its saving command.
class TaskListsHost
{
public:
    virtual ~TaskListsHost() = default;
    // The key of the category shown, or an empty text when none is.
    virtual QString shownCategoryKey() const = 0;
    virtual TaskListModel* shownTasks(bool deleted) const = 0;
    virtual void saveShownTasks() = 0;
};

// The one way to reach and change a task by its UID, wherever it lives: through the lists on
// screen for the category shown (changed there, and stored by its saving command, as the
// window's own commands do), through the store for every other category of the tree. Changes
// gather until save(), which stores each changed category once: both of its lists and their
// UIDs in one transaction.
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
    std::optional<TaskListCodec::Fields> fields(const QUuid& uid) const;
    int rowCount(const QString& categoryKey, bool deleted) const;
    // A category made after the directory was (it has no stored lists).
    void addCategory(const QString& categoryKey);

    // Rewrites the task's six texts where it is; false when it is not found or unchanged.
    bool update(const QUuid& uid, const TaskListCodec::Fields& fields);
    // Appends a new task; the caller makes sure there is room (TaskListCodec::kMaxTasks).
    void append(const QString& categoryKey, bool deleted, const TaskListCodec::Fields& fields,
                const QUuid& uid);

    // Stores every changed category; returns their keys, in the order they were changed.
    QStringList save();

private:
    struct List;
    struct Row
    {
        QString listKey;
        qsizetype index = 0;
    };
    List& list(const QString& categoryKey, bool deleted);
    void load(const QString& categoryKey);
    void loadShown();
    std::optional<Row> rowOf(const QUuid& uid) const;

    SettingsStore& m_store;
    TaskListsHost& m_host;
    QString m_shownKey;
    // Both lists of every category of the tree, by list key: the shown category's as on
    // screen, every other as stored.
    QHash<QString, std::shared_ptr<List>> m_lists;
    QHash<QUuid, Row> m_rows;
    QStringList m_changed;
};
