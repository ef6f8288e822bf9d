#pragma once

#include "sync_controller.h"
#include "sync_tasks_host.h"
#include "task_directory.h"

#include <QObject>
#include <QTimer>
#include <memory>
#include <optional>

class Form1;

// The main window as a sync sees it: its tree, its lists (the shown category's from screen) and
// the one way to change a task by its UID, through which what a sync brings is applied. It owns
// the window's SyncController.
class SyncLink : public QObject, public SyncTasksHost
{
    Q_OBJECT

public:
    explicit SyncLink(Form1& window);
    ~SyncLink() override;

    SyncController& controller() { return m_controller; }

    QList<SyncCategory> syncCategories() const override;
    SyncLists syncLists(const QString& categoryKey) const override;
    SyncLists readStoredLists(const QString& categoryKey,
                              SettingsStore::Changes& uidsToStore) const override;
    QString syncShownCategory() const override;
    bool shownListsUnsaved() const override;
    QHash<QString, QString> applySyncBatch(SyncBatch& batch) override;
    bool askSync(const QString& question) override;

private:
    Form1& m_window;
    SyncController m_controller;
    // The lists on screen and the store when those lists were last found stored as they
    // stand: spares encoding a full list on screen for every slice of a big sync.
    mutable std::optional<ShownListsStamp> m_savedShown;
    // The directory the last slice was applied through, and the keys it read: the next slice of
    // the same categories goes on with it while it is current, rather than read megabytes again.
    std::unique_ptr<TaskDirectory> m_sliceTasks;
    QStringList m_sliceKeys;
    QTimer m_sliceTasksKept;
};
