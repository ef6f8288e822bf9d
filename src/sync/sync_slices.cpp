#include "sync_slices.h"

#include "sync_run.h"

#include <algorithm>

namespace {

QString uidText(const QUuid& uid)
{
    return uid.toString(QUuid::WithoutBraces);
}

template <class T> void appendAll(std::vector<T>& to, std::vector<T>&& more)
{
    std::move(more.begin(), more.end(), std::back_inserter(to));
}

} // namespace

SyncSlices::SyncSlices(SyncBatch batch, qsizetype tasksPerSlice)
    : m_settled(std::move(batch.settledCategories))
{
    tasksPerSlice = std::max<qsizetype>(tasksPerSlice, 1);
    // Each category's changes, the categories in the order their first change comes.
    QStringList keys;
    QHash<QString, QList<SyncBatch::TaskChange>> changes;
    for (SyncBatch::TaskChange& change : batch.tasks) {
        auto found = changes.find(change.categoryKey);
        if (found == changes.end()) {
            keys.append(change.categoryKey);
            found = changes.insert(change.categoryKey, {});
        }
        found->append(std::move(change));
    }
    QStringList orderedOnly;
    for (auto order = batch.activeOrder.cbegin(); order != batch.activeOrder.cend(); ++order)
        if (!changes.contains(order.key()))
            orderedOnly.append(order.key());
    orderedOnly.sort();
    keys += orderedOnly;
    const QSet<QString> ofCategories(keys.cbegin(), keys.cend());

    // The sync state by the task or the category it goes with; what goes with neither goes first.
    QSet<QString> changed;
    for (const auto& list : std::as_const(changes))
        for (const SyncBatch::TaskChange& change : list)
            changed.insert(uidText(change.uid));
    QHash<QString, std::vector<SettingsStore::SyncTask>> rows;
    QHash<QString, std::vector<QString>> gone;
    QHash<QString, std::vector<SettingsStore::SyncCalendar>> calendars;
    SettingsStore::Changes& state = batch.state;
    SyncBatch first;
    first.newCategories = std::move(batch.newCategories);
    first.renamed = std::move(batch.renamed);
    first.siblingOrder = std::move(batch.siblingOrder);
    first.state.values = std::move(state.values);
    first.state.utf8Values = std::move(state.utf8Values);
    first.state.listUids = std::move(state.listUids);
    first.state.keptVTodos = std::move(state.keptVTodos);
    first.state.syncForgetAll = state.syncForgetAll;
    first.state.syncAccount = std::move(state.syncAccount);
    first.state.syncCalendarsGone = std::move(state.syncCalendarsGone);
    for (SettingsStore::SyncTask& row : state.syncTasks) {
        if (changed.contains(row.uid))
            rows[row.uid].push_back(std::move(row));
        else
            first.state.syncTasks.push_back(std::move(row));
    }
    for (QString& uid : state.syncTasksGone) {
        if (changed.contains(uid))
            gone[uid].push_back(std::move(uid));
        else
            first.state.syncTasksGone.push_back(std::move(uid));
    }
    for (SettingsStore::SyncCalendar& c : state.syncCalendars) {
        if (ofCategories.contains(c.categoryKey))
            calendars[c.categoryKey].push_back(std::move(c));
        else
            first.state.syncCalendars.push_back(std::move(c));
    }
    m_slices.append(std::move(first));

    bool firstTaken = false;
    for (const QString& key : std::as_const(keys)) {
        QList<SyncBatch::TaskChange>& list = changes[key];
        const std::vector<SettingsStore::SyncCalendar> linked = calendars.take(key);
        qsizetype from = 0;
        do {
            // The first slice takes the first changes too: a small sync is one slice.
            if (firstTaken)
                m_slices.append(SyncBatch());
            firstTaken = true;
            SyncBatch& slice = m_slices.last();
            const qsizetype to = std::min(list.size(), from + tasksPerSlice);
            for (qsizetype i = from; i < to; ++i) {
                const QString uid = uidText(list[i].uid);
                appendAll(slice.state.syncTasks, rows.take(uid));
                appendAll(slice.state.syncTasksGone, gone.take(uid));
                slice.tasks.append(std::move(list[i]));
            }
            from = to;
            // Named here so that what the host takes out of it shows (see applied()).
            slice.settledCategories.append(key);
            // The tasks here so far in the agreed order after every slice: a run cut off before
            // the last would otherwise leave an order the next sync takes for one made here.
            const auto order = batch.activeOrder.constFind(key);
            if (order != batch.activeOrder.cend())
                slice.activeOrder.insert(key, *order);
            if (from < list.size()) {
                for (SettingsStore::SyncCalendar c : linked) {
                    c.syncToken.clear();
                    c.ctag.clear();
                    c.localDigest = 0;
                    slice.state.syncCalendars.push_back(std::move(c));
                }
                continue;
            }
            slice.state.syncCalendars.insert(slice.state.syncCalendars.end(), linked.begin(),
                                             linked.end());
        } while (from < list.size());
    }
}

SyncBatch SyncSlices::next(const QHash<QString, QString>& made)
{
    SyncBatch slice = std::move(m_slices[m_next++]);
    if (!made.isEmpty())
        SyncRun::renameCategories(slice, made);
    for (const QString& key : std::as_const(m_held))
        if (slice.settledCategories.contains(key))
            SyncRun::holdCategory(slice, key);
    for (const QString& key : std::as_const(m_unsettled))
        if (slice.settledCategories.contains(key))
            SyncRun::unsettleCategory(slice, key);
    m_named = slice.settledCategories;
    return slice;
}

void SyncSlices::applied(const SyncBatch& slice)
{
    for (const QString& key : std::as_const(slice.held))
        m_held.insert(key);
    for (const QString& key : std::as_const(m_named))
        if (!slice.settledCategories.contains(key))
            m_unsettled.insert(key);
}

QStringList SyncSlices::settled(const QHash<QString, QString>& made) const
{
    QStringList keys;
    for (const QString& key : m_settled) {
        const QString here = made.value(key, key);
        if (!m_held.contains(here) && !m_unsettled.contains(here))
            keys.append(here);
    }
    return keys;
}
