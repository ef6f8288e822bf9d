#pragma once

#include "settings_store.h"
#include "task_list_codec.h"

#include <QList>
#include <QString>
#include <array>
#include <optional>

struct SyncCategory;

namespace SyncDigests {

// A digest of a category's two stored lists with their UIDs, read in place: equal digests mean
// the lists are as they were. Without `withUids`, of the lists' texts alone.
quint64 ofStoredLists(const SettingsStore& store, const QString& categoryKey, bool withUids = true);
// The same for the lists as a saving command would store them.
quint64 ofChanges(const SettingsStore::Changes& changes, const QString& categoryKey,
                  bool withUids = true);
// Of a task's six fields.
quint64 ofFields(const TaskListCodec::Fields& fields);
// Of the tree's names, nesting and order.
quint64 ofTree(const QList<SyncCategory>& tree);

} // namespace SyncDigests

// The six fields merged against the copy both sides started from: a field changed on one side
// takes that side's value; one changed on both to different values takes the server's.
struct FieldMerge
{
    TaskListCodec::Fields fields;
    bool conflict = false; // some field was changed differently on both sides
};
FieldMerge mergeFields(const TaskListCodec::Fields& base, const TaskListCodec::Fields& local,
                       const TaskListCodec::Fields& server);
