#pragma once

#include "sync_tasks_host.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

// What a sync brought, cut into slices that the main window applies one a turn of the event
// loop, so that a calendar of tens of thousands of tasks never holds the window for long. Each
// slice is whole in itself: its task changes with their part of the sync state, stored in one
// transaction. A run cut off between two slices leaves nothing the next sync cannot finish:
// - the first slice makes the new categories and stores the state that belongs to no task;
// - then each category's task changes go in order, at most `tasksPerSlice` a slice, each with
//   the synced rows of its tasks and the agreed order of the list;
// - a category's calendar goes with its last slice; until then it is stored with no sync token,
//   so that a sync cut off before that lists the whole calendar again and finds every task
//   already here by its synced row.
class SyncSlices
{
public:
    // A slice rewrites the lists of its category whole: few enough slices that a full list is
    // not written over and over, small enough that each stays short.
    static constexpr qsizetype kTasksPerSlice = 3000;

    // `batch` as the questions left it.
    explicit SyncSlices(SyncBatch batch, qsizetype tasksPerSlice = kTasksPerSlice);

    bool atEnd() const { return m_next >= m_slices.size(); }
    // The next slice, the categories the earlier ones made named by their keys (`made`, by
    // placeholder), and what waits since an earlier slice taken out of it.
    SyncBatch next(const QHash<QString, QString>& made);
    // After the host applied `slice`: what it held back waits in the slices still to come too.
    void applied(const SyncBatch& slice);

    // The categories whose lists are what the server holds once every slice is applied.
    QStringList settled(const QHash<QString, QString>& made) const;
    // Whether the changes of some category wait (see SyncRun::holdCategory).
    bool anyHeld() const { return !m_held.isEmpty(); }

private:
    QList<SyncBatch> m_slices;
    qsizetype m_next = 0;
    QStringList m_settled;
    // By their keys here (the placeholders replaced).
    QSet<QString> m_held;
    QSet<QString> m_unsettled; // a task of theirs waits
    QStringList m_named;       // the categories of the slice last handed out
};
