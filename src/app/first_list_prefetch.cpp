#include "first_list_prefetch.h"

#include "category_tree_codec.h"
#include "settings_store.h"

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

// The fill's loop for entries that need none of its checks, done here, off the window's thread.
std::optional<QList<TaskRow>> rowsOf(QList<TaskListCodec::Entry>& entries)
{
    if (entries.size() > TaskListCodec::kMaxTasks)
        return std::nullopt;
    for (const TaskListCodec::Entry& entry : entries)
        if (entry.fieldCount < TaskListCodec::kFieldCount)
            return std::nullopt;
    QList<TaskRow> rows;
    rows.reserve(entries.size());
    DueDates::ListColours colourFor;
    for (TaskListCodec::Entry& entry : entries) {
        TaskRow& row = rows.emplace_back();
        row.fields = std::move(entry.fields);
        row.dueColour = colourFor(row.fields[DueDateCol]);
    }
    entries = {};
    return rows;
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
            store.readUtf8(pending.key, [&list](QByteArrayView utf8) {
                // Split straight from the stored bytes: no UTF-16 copy of the whole list, which
                // is megabytes of fresh memory to fill.
                if (auto entries = TaskListCodec::decodeShownEntriesFromUtf8(utf8)) {
                    list.entries = std::move(*entries);
                } else {
                    list.value = QString::fromUtf8(utf8);
                    list.entries = TaskListCodec::decodeEntries(list.value);
                }
            });
            pending.list.rows = rowsOf(pending.list.entries);
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
