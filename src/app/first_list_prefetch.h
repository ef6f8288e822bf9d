#pragma once

#include "task_list_codec.h"
#include "task_list_model.h"

#include <QString>
#include <optional>

class SettingsStore;

// At start the first category's stored list is read and split on a second thread while the
// window builds its controls; the first list fill takes it when it is the list it wants. Only
// the program's start uses it: a window made without it reads its lists itself.
namespace FirstListPrefetch {

struct List
{
    // As stored, when the entries' `stored` texts point into it; empty when the entries were
    // split from the stored bytes, which they are only for a list that fits on screen.
    QString value;
    QList<TaskListCodec::Entry> entries;
    // The rows the fill would make, due-date colours included, when no entry gives it anything
    // to report: every one has its six fields, and they fit in a list. There are no entries
    // then.
    std::optional<QList<TaskRow>> rows;
    // With the rows, their UIDs as matched to the stored ones (TaskUids::match), and whether
    // that gave any new ones, which the window then stores.
    QList<QUuid> uids;
    QList<quint64> digests;
    bool uidsChanged = false;
    // The digest of the list's whole stored text, when the rows were read from it.
    std::optional<quint64> listDigest;
};

// The store must stay open until discard() has returned.
void start(const SettingsStore& store);
// The list under `key` if that is the one read ahead; it is handed out once.
std::optional<List> take(const QString& key);
// Waits for a read still under way and forgets it.
void discard();

} // namespace FirstListPrefetch
