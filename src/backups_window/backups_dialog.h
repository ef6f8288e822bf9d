#pragma once

#include "removed_categories.h"
#include "snapshot_files.h"

#include <QDialog>
#include <QList>
#include <atomic>
#include <memory>
#include <thread>

class BackupsHost;
class QLabel;
class QPushButton;
class QTabWidget;
class QTreeWidget;
class QTreeWidgetItem;
class SnapshotReader;
class TaskListView;

// The "Backups" window: every snapshot, newest first, with what it holds; a chosen one shown
// read-only (its tree and the lists of a category); and the categories earlier runs removed.
// From here a snapshot is restored or one of its categories brought back. Each snapshot is
// checked for damage beside the window's work, so the window opens at once on many of them.
class BackupsDialog : public QDialog
{
    Q_OBJECT

public:
    explicit BackupsDialog(BackupsHost& host, QWidget* parent = nullptr);
    ~BackupsDialog() override;

    QTreeWidget* snapshotList;
    QTreeWidget* removedList;
    QTreeWidget* previewTree;
    QTabWidget* previewTabs;
    TaskListView* previewActive;
    TaskListView* previewDeleted;
    QPushButton* restoreButton;
    QPushButton* bringBackButton;
    QPushButton* closeButton;
    // What the last command here did.
    QLabel* statusLabel;

    const QList<SnapshotFile>& snapshots() const { return m_snapshots; }
    // Every snapshot's damage check is done.
    bool checksDone() const { return m_checksLeft == 0; }

    void restoreChosen();
    void bringBackChosen();

private:
    void listSnapshots();
    void listRemoved();
    void markDamaged(int row);
    void startChecks();
    void snapshotChosen();
    void previewCategoryChosen();
    void removedChosen();
    void updateButtons();

    BackupsHost& m_host;
    QList<SnapshotFile> m_snapshots;
    QList<RemovedCategory> m_removed;
    std::unique_ptr<SnapshotReader> m_preview;
    QString m_previewPath;
    int m_checksLeft = 0;
    std::atomic_bool m_stopChecks{false};
    std::thread m_checker;
};
