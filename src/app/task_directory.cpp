#include "task_directory.h"

#include "failure.h"
#include "settings_store.h"
#include "task_list_model.h"
#include "task_uids.h"

using TaskListCodec::Fields;

struct TaskDirectory::List
{
    struct Item
    {
        TaskRow row;
        // The entry as stored (in the list's `value`), for a task of a category not on screen
        // that nothing changed: it is written back exactly so.
        QStringView stored;
        // Of the entry as stored (TaskUids::digest), beside `stored`.
        quint64 digest = 0;
    };
    QString categoryKey;
    bool deleted = false;
    bool onScreen = false;
    QString value;
    QList<Item> items;
    // Entries past the largest list, as stored, kept after the others (as the window does).
    QString beyond;
    // UIDs given here that the store does not have yet, with the digests they go with.
    bool newUids = false;
    QList<quint64> digests;
};

namespace {

QString listKey(const QString& categoryKey, bool deleted)
{
    return deleted ? TaskListCodec::deletedKey(categoryKey) : categoryKey;
}

} // namespace

TaskDirectory::TaskDirectory(SettingsStore& store, TaskListsHost& host,
                             const QStringList& categoryKeys)
    : m_store(store), m_host(host), m_shownKey(host.shownCategoryKey())
{
    for (const QString& key : categoryKeys) {
        if (key == m_shownKey)
            loadShown();
        else
            load(key);
    }
    m_stamp = ShownListsStamp::of(m_store, m_host);
}

TaskDirectory::~TaskDirectory() = default;

void TaskDirectory::loadShown()
{
    for (const bool deleted : {false, true}) {
        auto list = std::make_shared<List>();
        list->categoryKey = m_shownKey;
        list->deleted = deleted;
        list->onScreen = true;
        const TaskListModel* tasks = m_host.shownTasks(deleted);
        list->items.reserve(tasks->rows().size());
        m_rows.reserve(m_rows.size() + tasks->rows().size());
        for (const TaskRow& row : tasks->rows()) {
            m_rows.insert(row.uid, {list.get(), list->items.size()});
            list->items.append({row, {}});
        }
        m_lists.insert(listKey(m_shownKey, deleted), list);
    }
}

void TaskDirectory::load(const QString& categoryKey)
{
    for (const bool deleted : {false, true}) {
        const QString key = listKey(categoryKey, deleted);
        auto list = std::make_shared<List>();
        list->categoryKey = categoryKey;
        list->deleted = deleted;
        list->value = m_store.read(key, QString());
        const QList<TaskListCodec::Entry> entries = TaskListCodec::decodeEntries(list->value);
        QList<quint64> digests;
        const qsizetype shown = std::min<qsizetype>(entries.size(), TaskListCodec::kMaxTasks);
        digests.reserve(shown);
        list->items.reserve(shown);
        for (qsizetype i = 0; i < entries.size(); ++i) {
            const TaskListCodec::Entry& entry = entries[i];
            if (i >= shown) {
                list->beyond += entry.stored;
                list->beyond += TaskListCodec::kTaskSeparator;
                continue;
            }
            TaskRow row;
            row.fields = entry.fields;
            digests.append(TaskUids::digest(entry));
            list->items.append({std::move(row), entry.stored, digests.last()});
        }
        // Matched without storing: nothing is written before save().
        const QList<QUuid> uids =
            TaskUids::match(m_store.readListUids(key), digests, &list->newUids);
        list->digests = std::move(digests);
        m_rows.reserve(m_rows.size() + list->items.size());
        for (qsizetype i = 0; i < list->items.size(); ++i) {
            list->items[i].row.uid = uids[i];
            m_rows.insert(uids[i], {list.get(), i});
        }
        m_lists.insert(key, list);
    }
}

SettingsStore::Changes TaskDirectory::givenUids() const
{
    SettingsStore::Changes changes;
    for (const auto& list : std::as_const(m_lists)) {
        if (!list->newUids || m_changed.contains(list->categoryKey))
            continue;
        QList<TaskUids::Stored> uids;
        for (qsizetype i = 0; i < list->items.size(); ++i)
            uids.append({list->items[i].row.uid, list->digests[i]});
        changes.listUids.emplace_back(listKey(list->categoryKey, list->deleted),
                                      TaskUids::encode(uids));
    }
    return changes;
}

void TaskDirectory::addCategory(const QString& categoryKey)
{
    for (const bool deleted : {false, true}) {
        auto list = std::make_shared<List>();
        list->categoryKey = categoryKey;
        list->deleted = deleted;
        m_lists.insert(listKey(categoryKey, deleted), list);
    }
}

TaskDirectory::List& TaskDirectory::list(const QString& categoryKey, bool deleted)
{
    const auto found = m_lists.constFind(listKey(categoryKey, deleted));
    if (found == m_lists.cend())
        throw Failure(QStringLiteral("There is no category with the key \"%1\".").arg(categoryKey));
    return **found;
}

std::optional<TaskDirectory::Row> TaskDirectory::rowOf(const QUuid& uid) const
{
    const auto found = m_rows.constFind(uid);
    if (found == m_rows.cend())
        return std::nullopt;
    return *found;
}

std::optional<TaskDirectory::Place> TaskDirectory::find(const QUuid& uid) const
{
    const std::optional<Row> row = rowOf(uid);
    if (!row)
        return std::nullopt;
    return Place{row->list->categoryKey, row->list->deleted};
}

std::optional<Fields> TaskDirectory::fields(const QUuid& uid) const
{
    const std::optional<Row> row = rowOf(uid);
    if (!row)
        return std::nullopt;
    return row->list->items[row->index].row.fields;
}

int TaskDirectory::rowCount(const QString& categoryKey, bool deleted) const
{
    const auto found = m_lists.constFind(listKey(categoryKey, deleted));
    return found == m_lists.cend() ? 0 : int((*found)->items.size());
}

bool TaskDirectory::update(const QUuid& uid, const Fields& fields)
{
    const std::optional<Row> row = rowOf(uid);
    if (!row)
        return false;
    List& list = *row->list;
    List::Item& item = list.items[row->index];
    if (item.row.fields == fields)
        return false;
    item.row.fields = fields;
    // As the editor does: a due date is coloured anew, any other text keeps the colour.
    item.row.applyDueDateRule();
    item.stored = {};
    if (!m_changed.contains(list.categoryKey))
        m_changed.append(list.categoryKey);
    return true;
}

void TaskDirectory::append(const QString& categoryKey, bool deleted, const Fields& fields,
                           const QUuid& uid)
{
    List& target = list(categoryKey, deleted);
    if (target.items.size() >= TaskListCodec::kMaxTasks)
        throw Failure(
            QStringLiteral("A task list holds at most %1 tasks.").arg(TaskListCodec::kMaxTasks));
    TaskRow row;
    row.fields = fields;
    row.uid = uid.isNull() ? TaskUids::create() : uid;
    row.applyDueDateRule();
    m_rows.insert(row.uid, {&target, target.items.size()});
    target.items.append({std::move(row), {}});
    if (!m_changed.contains(categoryKey))
        m_changed.append(categoryKey);
}

void TaskDirectory::reserve(const QString& categoryKey, bool deleted, qsizetype rows)
{
    List& target = list(categoryKey, deleted);
    target.items.reserve(target.items.size() + rows);
}

QList<TaskRow> TaskDirectory::rows(const QString& categoryKey, bool deleted) const
{
    QList<TaskRow> rows;
    const auto found = m_lists.constFind(listKey(categoryKey, deleted));
    if (found == m_lists.cend())
        return rows;
    rows.reserve((*found)->items.size());
    for (const List::Item& item : (*found)->items)
        rows.append(item.row);
    return rows;
}

void TaskDirectory::changed(const QString& categoryKey)
{
    if (!m_changed.contains(categoryKey))
        m_changed.append(categoryKey);
}

void TaskDirectory::reindex(List& list)
{
    for (qsizetype i = 0; i < list.items.size(); ++i)
        m_rows.insert(list.items[i].row.uid, {&list, i});
}

bool TaskDirectory::move(const QUuid& uid, const QString& categoryKey, bool deleted)
{
    const std::optional<Row> row = rowOf(uid);
    if (!row)
        return false;
    List& from = *row->list;
    List& to = list(categoryKey, deleted);
    if (&from == &to)
        return false;
    if (to.items.size() >= TaskListCodec::kMaxTasks)
        throw Failure(
            QStringLiteral("A task list holds at most %1 tasks.").arg(TaskListCodec::kMaxTasks));
    List::Item item = from.items.takeAt(row->index);
    item.row.applyDueDateRule();
    // A row on screen keeps no stored text: the list it came from may be written anew, and its
    // text with it, while the row stays here.
    if (to.onScreen)
        item.stored = {};
    to.items.append(std::move(item));
    reindex(from);
    reindex(to);
    changed(from.categoryKey);
    changed(categoryKey);
    return true;
}

bool TaskDirectory::remove(const QUuid& uid)
{
    const std::optional<Row> row = rowOf(uid);
    if (!row)
        return false;
    List& from = *row->list;
    from.items.removeAt(row->index);
    m_rows.remove(uid);
    reindex(from);
    changed(from.categoryKey);
    return true;
}

bool TaskDirectory::arrange(const QString& categoryKey, bool deleted, const QList<QUuid>& order)
{
    List& target = list(categoryKey, deleted);
    // Most often the list is in that order already (a sync brings its agreed order each time):
    // found out without copying it.
    qsizetype inPlace = 0;
    bool moves = false;
    for (const QUuid& uid : order) {
        const std::optional<Row> row = rowOf(uid);
        if (!row || row->list != &target || row->index < inPlace)
            continue;
        if (row->index != inPlace) {
            moves = true;
            break;
        }
        ++inPlace;
    }
    if (!moves)
        return false;
    QList<List::Item> arranged;
    arranged.reserve(target.items.size());
    QList<bool> taken(target.items.size(), false);
    for (const QUuid& uid : order) {
        const std::optional<Row> row = rowOf(uid);
        if (!row || row->list != &target || taken[row->index])
            continue;
        taken[row->index] = true;
        arranged.append(target.items[row->index]);
    }
    for (qsizetype i = 0; i < target.items.size(); ++i)
        if (!taken[i])
            arranged.append(target.items[i]);
    target.items = std::move(arranged);
    reindex(target);
    changed(categoryKey);
    return true;
}

QStringList TaskDirectory::save(SettingsStore::Changes more)
{
    SettingsStore::Changes changes = std::move(more);
    const auto add = [&changes](SettingsStore::Changes&& part) {
        std::move(part.values.begin(), part.values.end(), std::back_inserter(changes.values));
        std::move(part.utf8Values.begin(), part.utf8Values.end(),
                  std::back_inserter(changes.utf8Values));
        std::move(part.listUids.begin(), part.listUids.end(), std::back_inserter(changes.listUids));
    };
    // The stored lists written, with where each entry went and its digest: once they are
    // stored, the directory holds them as if it had just read them.
    struct Written
    {
        List* list;
        QString value;
        QList<TaskUids::Stored> uids;
        QList<qsizetype> ends;
    };
    std::vector<Written> written;
    for (const QString& categoryKey : std::as_const(m_changed)) {
        if (categoryKey == m_shownKey) {
            // The shown category's lists on screen take the rows and are stored as its saving
            // command stores them.
            for (const bool deleted : {false, true}) {
                QList<TaskRow> rows;
                const List& shown = list(categoryKey, deleted);
                rows.reserve(shown.items.size());
                for (const List::Item& item : shown.items)
                    rows.append(item.row);
                TaskListModel* tasks = m_host.shownTasks(deleted);
                if (rows != tasks->rows())
                    tasks->setRows(std::move(rows));
                // A sorted list put its rows in another order than the directory's.
                m_reusable = m_reusable && !tasks->sortState().sorted;
            }
            add(m_host.shownTasksChanges());
            continue;
        }
        for (const bool deleted : {false, true}) {
            Written& out = written.emplace_back();
            out.list = &list(categoryKey, deleted);
            const List& stored = *out.list;
            qsizetype size = stored.beyond.size();
            for (const List::Item& item : stored.items)
                size += item.stored.isNull()
                            ? TaskListCodec::entrySize(item.row.fields)
                            : item.stored.size() + TaskListCodec::kTaskSeparator.size();
            out.value = QString(size, Qt::Uninitialized);
            QChar* const start = out.value.data();
            QChar* at = start;
            out.uids.reserve(stored.items.size());
            out.ends.reserve(stored.items.size());
            for (const List::Item& item : stored.items) {
                QChar* const entry = at;
                quint64 digest = 0;
                if (item.stored.isNull()) {
                    at = TaskListCodec::writeEntry(at, item.row.fields);
                    digest = TaskUids::digestOfEntry(entry, at - entry);
                } else {
                    // Written back as it was stored, with the digest it was read with.
                    at = std::copy(item.stored.cbegin(), item.stored.cend(), entry);
                    const QString& end = TaskListCodec::kTaskSeparator;
                    at = std::copy(end.cbegin(), end.cend(), at);
                    digest = item.digest;
                }
                out.uids.append({item.row.uid, digest});
                out.ends.append(at - start);
            }
            at = std::copy(stored.beyond.cbegin(), stored.beyond.cend(), at);
            const QString key = listKey(categoryKey, deleted);
            changes.values.emplace_back(key, out.value);
            changes.listUids.emplace_back(key, TaskUids::encode(out.uids));
        }
    }
    // Lists nothing changed keep the UIDs they were given here, as every reader of the store
    // gives them (TaskUids::ofStoredList).
    add(givenUids());
    // A batch that changed nothing stores nothing: the store's listeners hear of no commit.
    if (!changes.values.empty() || !changes.utf8Values.empty() || !changes.listUids.empty() ||
        !changes.keptVTodos.empty() || changes.syncForgetAll || !changes.syncAccount.empty() ||
        !changes.syncCalendars.empty() || !changes.syncCalendarsGone.empty() ||
        !changes.syncTasks.empty() || !changes.syncTasksGone.empty()) {
        try {
            m_store.apply(changes);
        } catch (...) {
            m_reusable = false;
            throw;
        }
    }
    for (Written& out : written) {
        List& stored = *out.list;
        stored.value = std::move(out.value);
        const qsizetype separator = TaskListCodec::kTaskSeparator.size();
        qsizetype begin = 0;
        for (qsizetype i = 0; i < stored.items.size(); ++i) {
            List::Item& item = stored.items[i];
            item.stored = QStringView(stored.value).sliced(begin, out.ends[i] - separator - begin);
            item.digest = out.uids[i].digest;
            begin = out.ends[i];
        }
        stored.digests.clear();
    }
    for (const auto& stored : std::as_const(m_lists))
        stored->newUids = false;
    m_stamp = ShownListsStamp::of(m_store, m_host);
    return std::exchange(m_changed, {});
}

ShownListsStamp ShownListsStamp::of(const SettingsStore& store, const TaskListsHost& host)
{
    ShownListsStamp stamp{host.shownCategoryKey(), {}, store.commits()};
    if (!stamp.categoryKey.isEmpty())
        stamp.revisions = {host.shownTasks(false)->revision(), host.shownTasks(true)->revision()};
    return stamp;
}

bool TaskDirectory::current() const
{
    return m_reusable && ShownListsStamp::of(m_store, m_host) == m_stamp;
}
