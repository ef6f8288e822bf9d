#include "due_tasks.h"

#include "due_dates.h"
#include "settings_store.h"
#include "task_uids.h"

#include <QHash>
#include <algorithm>
#include <optional>

namespace {

const QString kDone = QStringLiteral("Done");
constexpr int kTask = 0;
constexpr int kDue = 3;
constexpr int kFinished = 5;

// A list holds the same few due texts many times; each is read once.
class DueDays
{
public:
    explicit DueDays(const QDate& today) : m_today(today) {}

    std::optional<QDate> dueBy(const TaskListCodec::Fields& fields)
    {
        const QString& text = fields[kDue];
        if (text.isEmpty() || fields[kFinished] == kDone)
            return std::nullopt;
        auto known = m_known.constFind(text);
        if (known == m_known.cend())
            known = m_known.insert(text, DueDates::parse(text));
        if (!*known || **known > m_today)
            return std::nullopt;
        return *known;
    }

private:
    QDate m_today;
    QHash<QString, std::optional<QDate>> m_known;
};

DueTask dueTask(const ReminderCategory& category, const TaskListCodec::Fields& fields,
                const QDate& due, const QUuid& uid)
{
    return {uid, category.key, category.path, fields[kTask], fields[kDue], due};
}

// The due tasks of a stored list. Only a list with any due task needs its UIDs: those stored
// for it are taken as they stand where the stored digests still match, else matched (and new
// ones stored) as every reader of the store does.
void findStored(SettingsStore& store, const ReminderCategory& category, DueDays& days,
                QList<DueTask>& out)
{
    struct Found
    {
        qsizetype index;
        TaskListCodec::Fields fields;
        QDate due;
    };
    QList<Found> found;
    qsizetype count = 0;
    const auto take = [&](TaskListCodec::Entry& entry) {
        if (const auto due = days.dueBy(entry.fields))
            found.append({count, entry.fields, *due});
        ++count;
        return true;
    };
    QList<TaskListCodec::Entry> decoded;
    const bool read = store.readUtf8(category.key, [&](QByteArrayView utf8) {
        if (!TaskListCodec::forEachShownEntryInUtf8(utf8, take)) {
            found.clear();
            count = 0;
            decoded = TaskListCodec::decodeEntries(QString::fromUtf8(utf8));
        }
    });
    if (!read)
        return;
    if (!decoded.isEmpty()) {
        // decodeEntries keeps views into its text: the fields are copies, so they outlive it.
        decoded.resize(std::min<qsizetype>(decoded.size(), TaskListCodec::kMaxTasks));
        for (TaskListCodec::Entry& entry : decoded)
            take(entry);
    }
    if (found.isEmpty())
        return;

    const QList<TaskUids::Stored> stored = TaskUids::decode(store.readListUids(category.key));
    bool inStep = stored.size() == count;
    for (const Found& f : found) {
        if (!inStep)
            break;
        inStep = stored[f.index].digest == TaskUids::digest(f.fields);
    }
    if (inStep) {
        for (const Found& f : found)
            out.append(dueTask(category, f.fields, f.due, stored[f.index].uid));
        return;
    }
    // Someone else changed the list: every entry's digest is needed to match.
    QList<quint64> digests;
    digests.reserve(count);
    const auto digestOf = [&](TaskListCodec::Entry& entry) {
        digests.append(TaskUids::digest(entry.fields));
        return true;
    };
    store.readUtf8(category.key, [&](QByteArrayView utf8) {
        if (!TaskListCodec::forEachShownEntryInUtf8(utf8, digestOf)) {
            digests.clear();
            const QString text = QString::fromUtf8(utf8);
            QList<TaskListCodec::Entry> entries = TaskListCodec::decodeEntries(text);
            entries.resize(std::min<qsizetype>(entries.size(), TaskListCodec::kMaxTasks));
            for (const TaskListCodec::Entry& entry : entries)
                digests.append(TaskUids::digest(entry));
        }
    });
    if (digests.size() != count)
        return;
    const QList<QUuid> uids = TaskUids::ofStoredList(store, category.key, digests);
    for (const Found& f : found)
        out.append(dueTask(category, f.fields, f.due, uids[f.index]));
}

} // namespace

QList<DueTask> findDueTasks(SettingsStore& store, const QList<ReminderCategory>& categories,
                            const QDate& today)
{
    QList<DueTask> due;
    DueDays days(today);
    for (const ReminderCategory& category : categories) {
        if (category.onScreen) {
            for (const ReminderCategory::Row& row : *category.onScreen)
                if (const auto date = days.dueBy(row.fields))
                    due.append(dueTask(category, row.fields, *date, row.uid));
            continue;
        }
        findStored(store, category, days, due);
    }
    std::stable_sort(due.begin(), due.end(),
                     [](const DueTask& a, const DueTask& b) { return a.due < b.due; });
    return due;
}
