#include "first_list_prefetch.h"

#include "category_tree_codec.h"
#include "huge_pages.h"
#include "settings_store.h"
#include "task_uids.h"

#include <future>

namespace FirstListPrefetch {

namespace {

struct Pending
{
    QString key;
    List list;
};

std::future<std::optional<Pending>> g_pending;

// The category the window shows first: the default tree's first, or the first stored
// top-level one. A wrong guess costs nothing but the read.
QString firstKey(const SettingsStore& store)
{
    const QString tree = store.read(CategoryTreeCodec::kKey, CategoryTreeCodec::kDefaultText);
    if (tree == CategoryTreeCodec::kDefaultText)
        return CategoryTreeCodec::rootKey(1);
    for (const QStringList& fields : CategoryTreeCodec::splitEntries(tree))
        if (fields.size() >= 3 && fields[2].isEmpty())
            return fields[1];
    return {};
}

// The fill's loop for a list that needs none of its checks, done here, off the window's thread,
// straight from the stored bytes as they are read, a piece at a time: the rows are made as the
// entries are found, with no list of entries, no copy of the whole value and no UTF-16 copy of
// it, which are megabytes of fresh memory to fill. Nothing when an entry lacks a field, the list
// is longer than a list shows, or the bytes are not plain UTF-8.
std::optional<QList<TaskRow>> rowsOf(const SettingsStore& store, const QString& key,
                                     TaskUids::ListDigest& digest)
{
    QList<TaskRow> rows;
    DueDates::ListColours colourFor;
    TaskListCodec::ShownEntriesInPieces entries([&](TaskListCodec::Entry& entry) {
        if (entry.fieldCount < TaskListCodec::kFieldCount)
            return false;
        TaskRow& row = rows.emplace_back();
        row.fields = std::move(entry.fields);
        row.dueColour = colourFor(row.fields[DueDateCol]);
        return true;
    });
    const bool whole = store.readUtf8InPieces(key, [&](QByteArrayView piece, qsizetype size) {
        // No entry of six fields is shorter than its six separators; reserved room is not
        // touched.
        constexpr qsizetype kShortestEntry = TaskListCodec::kFieldCount * 15;
        if (rows.capacity() == 0) {
            rows = HugePages::emptyListWithRoomFor<TaskRow>(
                std::min<qsizetype>(TaskListCodec::kMaxTasks, size / kShortestEntry + 1));
            entries.expectBytes(size);
        }
        digest.add(piece);
        return entries.add(piece);
    }) && entries.finish();
    return whole ? std::optional(std::move(rows)) : std::nullopt;
}

} // namespace

void start(const SettingsStore& store)
{
    discard();
    if (!SettingsStore::readsFromAnyThread())
        return;
    g_pending = std::async(std::launch::async, [&store]() -> std::optional<Pending> {
        try {
            Pending pending;
            pending.key = firstKey(store);
            if (pending.key.isEmpty())
                return std::nullopt;
            List& list = pending.list;
            TaskUids::ListDigest whole;
            if (!(list.rows = rowsOf(store, pending.key, whole))) {
                store.readUtf8(pending.key, [&list](QByteArrayView utf8) {
                    if (auto entries = TaskListCodec::decodeShownEntriesFromUtf8(utf8)) {
                        list.entries = std::move(*entries);
                    } else {
                        list.value = QString::fromUtf8(utf8);
                        list.entries = TaskListCodec::decodeEntries(list.value);
                    }
                });
            }
            if (list.rows) {
                const QByteArray stored = store.readListUids(pending.key);
                list.listDigest = whole.value();
                if (auto uids =
                        TaskUids::ofUnchangedList(stored, *list.listDigest, list.rows->size())) {
                    list.uids = std::move(*uids);
                } else {
                    list.digests.reserve(list.rows->size());
                    for (const TaskRow& row : std::as_const(*list.rows))
                        list.digests.append(TaskUids::digest(row.fields));
                    list.uids = TaskUids::match(stored, list.digests, &list.uidsChanged);
                }
            }
            return pending;
        } catch (...) {
            return std::nullopt; // the fill reads again and reports what fails
        }
    });
}

std::optional<List> take(const QString& key)
{
    if (!g_pending.valid())
        return std::nullopt;
    std::optional<Pending> pending = g_pending.get();
    if (!pending || pending->key != key)
        return std::nullopt;
    return std::move(pending->list);
}

void discard()
{
    if (g_pending.valid())
        g_pending.get();
}

} // namespace FirstListPrefetch
