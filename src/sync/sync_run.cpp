#include "sync_run.h"

#include "calendar_file.h"
#include "category_tree_codec.h"
#include "sync_digests.h"
#include "task_uids.h"

#include <QUrl>
#include <algorithm>

using Dav::DavFailure;
using TaskListCodec::Fields;

namespace {

// Room between two tasks' sort orders, so that a task moved between two others needs no other
// task renumbered.
constexpr qint64 kOrderGap = 1024;

QString uidText(const QUuid& uid)
{
    return uid.toString(QUuid::WithoutBraces);
}

QString quoted(const QString& text)
{
    return QStringLiteral("\"%1\"").arg(text.left(80));
}

// A category name the tree can store, from a calendar's display name.
QString storableName(QString name)
{
    name.replace(QLatin1Char(';'), QLatin1Char(' ')).replace(QLatin1Char('^'), QLatin1Char(' '));
    name = name.simplified();
    if (!CategoryTreeCodec::unstorableNameReason(name).isEmpty())
        name.clear();
    return name.isEmpty() ? QStringLiteral("Calendar") : name;
}

struct Remote
{
    QString href;
    QByteArray etag;
    QByteArray vtodo;
    Fields fields;
    std::optional<qint64> order;
};

// What one task ends as after the sync.
struct Plan
{
    QUuid uid;
    QString text; // for messages
    // This side: the fields as they stand here (none for a task gone for good).
    std::optional<Fields> local;
    bool localDeleted = false;
    std::optional<quint64> localDigest;
    const SettingsStore::SyncTask* row = nullptr;
    const Remote* remote = nullptr;
    bool removedThere = false;

    // The outcome.
    Fields fields;
    bool haveFields = false;
    enum class Where
    {
        Active,
        Deleted,
        Gone
    } where = Where::Active;
    bool changeHere = false; // a TaskChange is sent
    bool put = false;
    bool del = false;
    QByteArray kept;    // the server's VTODO the upload is patched from
    QByteArray ifMatch; // empty: a new resource
    QString href;
    std::optional<qint64> serverOrder;
    qint64 order = 0;
    std::optional<Fields> conflictCopy;
    bool forget = false;      // its sync row goes
    bool failed = false;      // the server refused its upload or deletion
    bool removalHere = false; // moves to the deleted list because it was deleted there
};

class CategorySync
{
public:
    CategorySync(Dav::Client& client, const SettingsStore& store, SyncOutcome& out,
                 const QString& key, const SettingsStore::SyncCalendar& calendar,
                 const Dav::Collection* collection, const SyncLists* lists, bool storedRows)
        : m_client(client), m_out(out), m_key(key), m_calendar(calendar), m_collection(collection),
          m_lists(lists)
    {
        if (storedRows)
            m_rows = store.readSyncTasks(key);
        for (const SettingsStore::SyncTask& row : std::as_const(m_rows)) {
            m_rowByUid.insert(row.uid, &row);
            if (!row.href.isEmpty())
                m_uidByHref.insert(row.href, row.uid);
        }
    }

    void run()
    {
        pull();
        planTasks();
        planOrder();
        push();
        finish();
    }

private:
    bool remoteChanged() const
    {
        if (!m_collection)
            return false; // made in this sync: nothing there yet
        // Without a tag, only asking the calendar tells.
        return m_collection->ctag.isEmpty() || m_collection->ctag != m_calendar.ctag;
    }

    void pull()
    {
        m_newToken = m_collection ? m_calendar.syncToken : QString();
        m_newCtag = m_collection ? m_collection->ctag : QString();
        if (!remoteChanged())
            return;
        QList<Dav::Resource> listed;
        QStringList removed;
        bool full = true;
        if (m_collection->offersSyncCollection) {
            std::optional<Dav::SyncReport> report =
                m_client.syncCollection(m_calendar.href, m_calendar.syncToken);
            full = m_calendar.syncToken.isEmpty();
            if (!report) {
                report = m_client.syncCollection(m_calendar.href, QString());
                full = true;
            }
            if (!report)
                throw DavFailure(DavFailure::Kind::BadResponse, 0,
                                 QStringLiteral("The server refused to list a calendar."));
            listed = report->changed;
            removed = report->removed;
            m_newToken = report->newToken;
        } else {
            listed = m_client.listResources(m_calendar.href);
        }
        QSet<QString> present;
        QStringList fetch;
        for (const Dav::Resource& resource : std::as_const(listed)) {
            present.insert(resource.href);
            const QString uid = m_uidByHref.value(resource.href);
            const SettingsStore::SyncTask* row = m_rowByUid.value(uid);
            if (!row || !row->onServer || row->etag != resource.etag)
                fetch.append(resource.href);
        }
        if (full)
            for (const SettingsStore::SyncTask& row : std::as_const(m_rows))
                if (row.onServer && !present.contains(row.href))
                    removed.append(row.href);
        for (const QString& href : std::as_const(removed))
            if (const QString uid = m_uidByHref.value(href); !uid.isEmpty())
                m_removedThere.insert(uid);
        if (fetch.isEmpty())
            return;
        int refused = 0;
        const QList<Dav::Resource> bodies = m_client.multiget(m_calendar.href, fetch, &refused);
        if (refused)
            problem(QStringLiteral("%1 tasks in %2 on the server are too large to read.")
                        .arg(refused)
                        .arg(quoted(m_collection->displayName)));
        for (const Dav::Resource& resource : bodies) {
            try {
                const CalendarFile file = IcsFile::parse(resource.body, resource.href);
                if (file.tasks.isEmpty())
                    continue; // an event or a journal: not a task
                const CalendarTask& task = file.tasks.front();
                Remote remote;
                remote.href = resource.href;
                remote.etag = resource.etag;
                remote.fields = task.fields;
                remote.order = task.sortOrder;
                remote.vtodo = task.vtodo.isEmpty() ? VTodoMapping::write(task) : task.vtodo;
                const QString uid = uidText(TaskUids::fromCalendarUid(task.uid));
                // A resource that moved to another name under the same UID is the same task.
                m_removedThere.remove(uid);
                if (!m_remote.contains(uid))
                    m_remoteOrder.append(uid);
                m_remote.insert(uid, std::move(remote));
            } catch (const Failure& failure) {
                problem(QStringLiteral("A task on the server was skipped: %1")
                            .arg(failure.description()));
            }
        }
    }

    void planTasks()
    {
        QList<QString> order; // every UID once: this side's lists first, in their order
        QSet<QString> seen;
        const auto note = [&](const QString& uid) {
            if (!seen.contains(uid)) {
                seen.insert(uid);
                order.append(uid);
            }
        };
        if (m_lists) {
            for (const bool deleted : {false, true})
                for (const SyncTaskItem& item : deleted ? m_lists->deleted : m_lists->active) {
                    const QString uid = uidText(item.uid);
                    Plan& plan = m_plans[uid];
                    plan.local = item.fields;
                    plan.localDeleted = deleted;
                    plan.localDigest = SyncDigests::ofFields(item.fields);
                    note(uid);
                }
        } else {
            // Nothing changed here since the last sync: the lists are what was synced.
            QList<const SettingsStore::SyncTask*> rows;
            for (const SettingsStore::SyncTask& row : std::as_const(m_rows))
                rows.append(&row);
            std::stable_sort(rows.begin(), rows.end(), [](auto* a, auto* b) {
                return a->onServer != b->onServer ? a->onServer : a->sortOrder < b->sortOrder;
            });
            for (const SettingsStore::SyncTask* row : std::as_const(rows)) {
                Plan& plan = m_plans[row->uid];
                plan.localDeleted = !row->onServer;
                plan.localDigest = row->digest;
                note(row->uid);
            }
        }
        for (const SettingsStore::SyncTask& row : std::as_const(m_rows))
            note(row.uid);
        for (const QString& uid : std::as_const(m_remoteOrder))
            note(uid);
        m_order = order;
        for (const QString& uid : std::as_const(order)) {
            Plan& plan = m_plans[uid];
            plan.uid = QUuid(uid);
            plan.row = m_rowByUid.value(uid);
            const auto remote = m_remote.constFind(uid);
            plan.remote = remote == m_remote.cend() ? nullptr : &*remote;
            plan.removedThere = m_removedThere.contains(uid);
            decide(plan);
        }
    }

    void decide(Plan& p)
    {
        const SettingsStore::SyncTask* row = p.row;
        const bool here = p.localDigest.has_value();
        const bool editedHere = here && row && *p.localDigest != row->digest;
        p.href = row && !row->href.isEmpty()
                     ? row->href
                     : m_calendar.href + uidText(p.uid) + QStringLiteral(".ics");
        p.serverOrder = row && row->onServer ? std::optional(row->sortOrder) : std::nullopt;
        if (p.local) {
            p.fields = *p.local;
            p.haveFields = true;
            p.text = (*p.local)[0];
        }
        p.where = !here ? Plan::Where::Gone
                        : (p.localDeleted ? Plan::Where::Deleted : Plan::Where::Active);
        p.kept = row ? row->vtodo : QByteArray();

        if (p.remote) {
            const Remote& r = *p.remote;
            p.href = r.href;
            p.kept = r.vtodo;
            p.serverOrder = r.order;
            p.ifMatch = r.etag;
            if (p.text.isEmpty())
                p.text = r.fields[0];
            ++m_out.downloaded;
            if (!here) {
                // New there, or changed there after it ended here for good: nothing is lost.
                p.fields = r.fields;
                p.haveFields = true;
                p.where = Plan::Where::Active;
                p.changeHere = true;
                return;
            }
            if (!row && p.local) {
                // The same task on both sides without a common copy (a sync cut off after its
                // upload, or the same file imported on both): equal, or both kept.
                if (*p.local != r.fields) {
                    p.conflictCopy = *p.local;
                    ++m_out.conflicts;
                }
                p.fields = r.fields;
                p.where = Plan::Where::Active;
                p.changeHere = true;
                return;
            }
            if (!editedHere) {
                p.fields = r.fields;
                p.haveFields = true;
                p.changeHere = true;
                if (p.where == Plan::Where::Deleted) {
                    if (row && !row->onServer)
                        p.where = Plan::Where::Active; // it is on the server again
                    else
                        p.del = true; // deleted here: the change there is kept here
                }
                return;
            }
            // Both changed: field by field against the copy both started from.
            Fields base = r.fields;
            try {
                base = VTodoMapping::read(row->vtodo).fields;
            } catch (const Failure&) {
            }
            const FieldMerge merged = mergeFields(base, *p.local, r.fields);
            p.fields = merged.fields;
            p.changeHere = p.fields != *p.local;
            if (merged.conflict) {
                p.conflictCopy = *p.local;
                ++m_out.conflicts;
            }
            if (p.where == Plan::Where::Deleted)
                p.del = true;
            else
                p.put = p.fields != r.fields;
            return;
        }

        if (p.removedThere) {
            if (!here) {
                p.forget = true;
                return;
            }
            if (p.where == Plan::Where::Active) {
                if (editedHere) {
                    p.put = true; // changed here since: it goes back
                    p.ifMatch.clear();
                    p.kept = row->vtodo;
                } else {
                    p.where = Plan::Where::Deleted;
                    p.changeHere = true;
                    p.removalHere = true;
                    ++m_removedHere;
                }
            }
            p.serverOrder.reset();
            return;
        }

        // Nothing came from the server for this task.
        if (!here) {
            if (row && row->onServer) {
                p.del = true;
                p.ifMatch = row->etag;
            } else {
                p.forget = true;
            }
            return;
        }
        if (p.where == Plan::Where::Active) {
            if (!row || !row->onServer) {
                p.put = true; // new here, or brought back from the deleted list
                p.ifMatch.clear();
            } else if (editedHere) {
                p.put = true;
                p.ifMatch = row->etag;
            }
        } else if (row && row->onServer) {
            p.del = true;
            p.ifMatch = row->etag;
        }
    }

    void planOrder()
    {
        QList<Plan*> active;
        for (const QString& uid : std::as_const(m_order)) {
            Plan& p = m_plans[uid];
            if (p.where == Plan::Where::Active)
                active.append(&p);
        }
        // Reordered here when the synced tasks no longer follow their synced order.
        bool reorderedHere = false;
        if (m_lists) {
            std::optional<qint64> previous;
            for (const Plan* p : std::as_const(active)) {
                if (!p->row || !p->row->onServer || !p->local || p->localDeleted)
                    continue;
                if (previous && p->row->sortOrder < *previous)
                    reorderedHere = true;
                previous = p->row->sortOrder;
            }
        }
        if (!reorderedHere) {
            // The server's order, tasks new here staying after the one before them.
            QList<std::pair<qint64, Plan*>> keyed;
            qint64 before = std::numeric_limits<qint64>::min();
            qint64 largest = std::numeric_limits<qint64>::min();
            for (Plan* p : std::as_const(active))
                if (p->serverOrder && (!p->local || p->remote))
                    largest = std::max(largest, *p->serverOrder);
            for (Plan* p : std::as_const(active)) {
                if (p->serverOrder)
                    before = *p->serverOrder;
                else if (!p->local && largest != std::numeric_limits<qint64>::min())
                    before = largest; // without an order of its own: at the end
                keyed.append({before, p});
            }
            std::stable_sort(keyed.begin(), keyed.end(),
                             [](const auto& a, const auto& b) { return a.first < b.first; });
            active.clear();
            for (const auto& [key, p] : keyed)
                active.append(p);
        }
        qint64 previous = 0;
        for (qsizetype i = 0; i < active.size(); ++i) {
            Plan& p = *active[i];
            if (p.serverOrder && *p.serverOrder > previous) {
                p.order = *p.serverOrder;
            } else {
                const std::optional<qint64> next =
                    i + 1 < active.size() ? active[i + 1]->serverOrder : std::nullopt;
                p.order = next && *next > previous + 1 ? previous + (*next - previous) / 2
                                                       : previous + kOrderGap;
                if (!p.put && !p.del && p.where == Plan::Where::Active) {
                    p.put = true;
                    if (p.ifMatch.isEmpty() && p.row && p.row->onServer)
                        p.ifMatch = p.row->etag;
                }
            }
            previous = p.order;
        }
        // The list here follows when its order is not the one agreed.
        QList<QUuid> agreed;
        QList<QUuid> current;
        for (const Plan* p : std::as_const(active))
            agreed.append(p->uid);
        if (m_lists) {
            for (const SyncTaskItem& item : m_lists->active)
                current.append(item.uid);
        } else {
            for (const QString& uid : std::as_const(m_order)) {
                const Plan& p = m_plans[uid];
                if (p.localDigest && !p.localDeleted)
                    current.append(p.uid);
            }
        }
        if (agreed != current)
            m_out.batch.activeOrder.insert(m_key, agreed);
    }

    void push()
    {
        QList<Dav::Put> puts;
        QList<Plan*> putPlans;
        QList<Dav::Delete> deletes;
        QList<Plan*> deletePlans;
        for (const QString& uid : std::as_const(m_order)) {
            Plan& p = m_plans[uid];
            if (p.put) {
                CalendarTask task;
                task.fields = p.fields;
                task.sortOrder = p.order;
                task.uid = uidText(p.uid);
                try {
                    const QByteArray vtodo = VTodoMapping::write(task, p.kept);
                    p.kept = vtodo;
                    puts.append({p.href, SyncRun::resourceBody(vtodo),
                                 p.remote ? p.remote->etag : p.ifMatch});
                    putPlans.append(&p);
                } catch (const Failure& failure) {
                    p.put = false;
                    m_incomplete = true;
                    problem(QStringLiteral("The task %1 could not be written: %2")
                                .arg(quoted(p.text), failure.description()));
                }
            }
            if (p.del) {
                deletes.append({p.href, p.remote ? p.remote->etag : p.ifMatch});
                deletePlans.append(&p);
            }
        }
        const QList<Dav::Outcome> putOutcomes =
            puts.isEmpty() ? QList<Dav::Outcome>() : m_client.putMany(puts);
        for (qsizetype i = 0; i < putPlans.size(); ++i) {
            Plan& p = *putPlans[i];
            const Dav::Outcome& outcome = putOutcomes.value(i);
            if (!outcome.failure && outcome.httpStatus >= 200 && outcome.httpStatus < 300) {
                p.ifMatch = outcome.etag;
                ++m_out.uploaded;
                continue;
            }
            p.put = false;
            p.failed = true;
            m_incomplete = true;
            if (outcome.failure && outcome.failure->kind() == DavFailure::Kind::Precondition) {
                m_out.retrySoon = true; // changed there meanwhile: merged next time
                continue;
            }
            problem(QStringLiteral("The server refused the task %1: %2")
                        .arg(quoted(p.text), outcome.failure ? outcome.failure->description()
                                                             : QStringLiteral("no answer.")));
        }
        const QList<Dav::Outcome> deleteOutcomes =
            deletes.isEmpty() ? QList<Dav::Outcome>() : m_client.deleteMany(deletes);
        for (qsizetype i = 0; i < deletePlans.size(); ++i) {
            Plan& p = *deletePlans[i];
            const Dav::Outcome& outcome = deleteOutcomes.value(i);
            const bool gone =
                (!outcome.failure && outcome.httpStatus >= 200 && outcome.httpStatus < 300) ||
                outcome.httpStatus == 404 || outcome.httpStatus == 410;
            if (gone) {
                ++m_out.removedThere;
                continue;
            }
            p.del = false;
            p.failed = true;
            m_incomplete = true;
            if (outcome.failure && outcome.failure->kind() == DavFailure::Kind::Precondition) {
                m_out.retrySoon = true;
                continue;
            }
            problem(QStringLiteral("The server did not delete the task %1: %2")
                        .arg(quoted(p.text), outcome.failure ? outcome.failure->description()
                                                             : QStringLiteral("no answer.")));
        }
    }

    void finish()
    {
        SyncBatch& batch = m_out.batch;
        SettingsStore::Changes& state = batch.state;
        int activeHere = 0;
        for (const QString& uid : std::as_const(m_order)) {
            const Plan& p = m_plans[uid];
            if (p.localDigest && !p.localDeleted)
                ++activeHere;
        }
        for (const QString& uid : std::as_const(m_order)) {
            const Plan& p = m_plans[uid];
            if (p.forget || (p.where == Plan::Where::Gone && !p.changeHere)) {
                if (p.row)
                    state.syncTasksGone.push_back(uid);
                continue;
            }
            const bool moved = p.localDigest && (p.where == Plan::Where::Deleted) != p.localDeleted;
            if (p.changeHere || moved) {
                SyncBatch::TaskChange change;
                change.uid = p.uid;
                change.categoryKey = m_key;
                change.deleted = p.where == Plan::Where::Deleted;
                if (p.haveFields && (!p.local || *p.local != p.fields || p.remote))
                    change.fields = p.fields;
                change.seenDigest = p.localDigest;
                change.deletedThere = p.removalHere;
                batch.tasks.append(change);
            }
            if (p.conflictCopy) {
                SyncBatch::TaskChange copy;
                copy.uid = TaskUids::create();
                copy.categoryKey = m_key;
                copy.deleted = true;
                copy.fields = *p.conflictCopy;
                batch.tasks.append(copy);
            }
            SettingsStore::SyncTask row;
            row.uid = uid;
            row.categoryKey = m_key;
            row.href = p.href;
            if (p.failed) {
                if (!p.remote)
                    continue; // as it was: tried again next time
                // What the server holds now is the base; this side's change goes next time.
                row.onServer = true;
                row.etag = p.remote->etag;
                row.vtodo = p.remote->vtodo;
                row.digest = SyncDigests::ofFields(p.remote->fields);
                row.sortOrder = p.remote->order.value_or(0);
            } else {
                row.onServer = p.where == Plan::Where::Active && !p.del &&
                               (p.put || p.remote || (p.row && p.row->onServer && !p.removedThere));
                row.etag = !row.onServer ? QByteArray()
                           : p.put       ? p.ifMatch
                           : p.remote    ? p.remote->etag
                                         : p.row->etag;
                row.vtodo = !p.kept.isEmpty() ? p.kept : (p.row ? p.row->vtodo : QByteArray());
                row.digest =
                    p.haveFields ? SyncDigests::ofFields(p.fields) : (p.row ? p.row->digest : 0);
                row.sortOrder =
                    p.where == Plan::Where::Active ? p.order : (p.row ? p.row->sortOrder : 0);
            }
            if (!p.row || !(row == *p.row))
                state.syncTasks.push_back(std::move(row));
        }
        SettingsStore::SyncCalendar calendar = m_calendar;
        calendar.categoryKey = m_key;
        calendar.syncToken = m_newToken;
        calendar.ctag = m_newCtag;
        // Settled when the store's lists will be what the server holds.
        calendar.localDigest = 0;
        state.syncCalendars.push_back(calendar);
        if (!m_incomplete)
            batch.settledCategories.append(m_key);
        if (m_removedHere > 1 && m_removedHere * 2 > activeHere) {
            SyncBatch::Question question;
            question.categoryKey = m_key;
            question.text =
                QStringLiteral("%1 of the %2 tasks of %3 were deleted on the server. Move them "
                               "to Deleted Tasks here too?")
                    .arg(m_removedHere)
                    .arg(activeHere)
                    .arg(quoted(m_name));
            batch.questions.append(question);
        }
    }

    void problem(const QString& text)
    {
        m_out.problems.append(text);
        m_incomplete = true;
    }

public:
    QString m_name;

private:
    Dav::Client& m_client;
    SyncOutcome& m_out;
    QString m_key;
    SettingsStore::SyncCalendar m_calendar;
    const Dav::Collection* m_collection;
    const SyncLists* m_lists;
    QList<SettingsStore::SyncTask> m_rows;
    QHash<QString, const SettingsStore::SyncTask*> m_rowByUid;
    QHash<QString, QString> m_uidByHref;
    QHash<QString, Remote> m_remote;
    QStringList m_remoteOrder; // as the server listed them
    QSet<QString> m_removedThere;
    QHash<QString, Plan> m_plans;
    QList<QString> m_order;
    QString m_newToken;
    QString m_newCtag;
    int m_removedHere = 0;
    bool m_incomplete = false;
};

// Where the tree here has not changed since the last sync, siblings follow the order their
// calendars carry, so that every home ends with the same tree: parent key -> its children in
// that order, for the parents whose children move. Categories the server does not place keep
// their places; the others are sorted into the rest, ties by their key there, which every home
// reads alike.
QHash<QString, QStringList>
siblingOrderThere(const QList<SyncCategory>& tree, const QList<SyncBatch::NewCategory>& made,
                  const QHash<QString, SettingsStore::SyncCalendar>& linked,
                  const QSet<QString>& goneThere,
                  const QHash<QString, const Dav::Collection*>& byHref)
{
    struct Sibling
    {
        QString key;
        bool placed = false; // by its calendar: its order and key there
        int order = 0;
        QString keyThere;
    };
    QHash<QString, QList<Sibling>> children;
    const auto add = [&](const QString& key, const QString& parentKey) {
        Sibling sibling{key, false, 0, QString()};
        const auto link = linked.constFind(key);
        if (link != linked.cend() && !goneThere.contains(key))
            if (const Dav::Collection* c = byHref.value(link->href); c && c->placement)
                sibling = {key, true, c->placement->order, link->remoteKey};
        children[parentKey].append(sibling);
    };
    for (const SyncCategory& c : tree)
        add(c.key, c.parentKey);
    for (const SyncBatch::NewCategory& c : made)
        add(c.placeholder, c.parentKey);
    QHash<QString, QStringList> orders;
    for (auto parent = children.cbegin(); parent != children.cend(); ++parent) {
        QList<Sibling> placed;
        for (const Sibling& s : *parent)
            if (s.placed)
                placed.append(s);
        std::stable_sort(placed.begin(), placed.end(), [](const Sibling& a, const Sibling& b) {
            return std::tie(a.order, a.keyThere) < std::tie(b.order, b.keyThere);
        });
        QStringList order;
        bool moves = false;
        qsizetype next = 0;
        for (const Sibling& s : *parent) {
            const QString& key = s.placed ? placed[next++].key : s.key;
            moves = moves || key != s.key;
            order.append(key);
        }
        if (moves)
            orders.insert(parent.key(), order);
    }
    return orders;
}

} // namespace

namespace SyncRun {

QByteArray resourceBody(const QByteArray& vtodo)
{
    QByteArray body = QByteArrayLiteral("BEGIN:VCALENDAR\r\nVERSION:2.0\r\n"
                                        "PRODID:-//Tolvendra Software//Kestrune//EN\r\n");
    body += vtodo;
    if (!body.endsWith("\r\n"))
        body += "\r\n";
    // A calendar resource defines every zone it names; servers may refuse one that does not.
    body += VTodoMapping::timeZoneDefinitions(VTodoMapping::timeZoneIds(vtodo));
    body += "END:VCALENDAR\r\n";
    return body;
}

void renameCategories(SyncBatch& batch, const QHash<QString, QString>& keys)
{
    const auto rename = [&keys](QString& key) { key = keys.value(key, key); };
    for (SyncBatch::NewCategory& c : batch.newCategories) {
        rename(c.placeholder);
        rename(c.parentKey);
    }
    QHash<QString, QStringList> siblings;
    for (auto order = batch.siblingOrder.cbegin(); order != batch.siblingOrder.cend(); ++order) {
        QStringList children = *order;
        for (QString& key : children)
            rename(key);
        siblings.insert(keys.value(order.key(), order.key()), children);
    }
    batch.siblingOrder = std::move(siblings);
    for (SyncBatch::TaskChange& change : batch.tasks)
        rename(change.categoryKey);
    QHash<QString, QList<QUuid>> orders;
    for (auto order = batch.activeOrder.cbegin(); order != batch.activeOrder.cend(); ++order)
        orders.insert(keys.value(order.key(), order.key()), *order);
    batch.activeOrder = std::move(orders);
    for (SyncBatch::Question& question : batch.questions)
        rename(question.categoryKey);
    for (QString& key : batch.settledCategories)
        rename(key);
    for (SettingsStore::SyncCalendar& c : batch.state.syncCalendars) {
        rename(c.categoryKey);
        rename(c.remoteKey);
    }
    for (SettingsStore::SyncTask& row : batch.state.syncTasks)
        rename(row.categoryKey);
}

void holdCategory(SyncBatch& batch, const QString& categoryKey)
{
    batch.held.append(categoryKey);
    batch.settledCategories.removeAll(categoryKey);
    batch.activeOrder.remove(categoryKey);
    batch.tasks.removeIf(
        [&](const SyncBatch::TaskChange& change) { return change.categoryKey == categoryKey; });
    auto& rows = batch.state.syncTasks;
    rows.erase(std::remove_if(rows.begin(), rows.end(),
                              [&](const auto& row) { return row.categoryKey == categoryKey; }),
               rows.end());
    // A calendar made by this sync stays linked, with nothing synced: the next sync fills it.
    for (SettingsStore::SyncCalendar& c : batch.state.syncCalendars)
        if (c.categoryKey == categoryKey) {
            c.syncToken.clear();
            c.ctag.clear();
            c.localDigest = 0;
        }
}

void holdTask(SyncBatch& batch, const SyncBatch::TaskChange& change)
{
    const QString uid = uidText(change.uid);
    auto& rows = batch.state.syncTasks;
    rows.erase(
        std::remove_if(rows.begin(), rows.end(), [&](const auto& row) { return row.uid == uid; }),
        rows.end());
    auto& gone = batch.state.syncTasksGone;
    gone.erase(std::remove(gone.begin(), gone.end(), uid), gone.end());
    // Its state as before; the token stays where it was so the server's change comes again.
    unsettleCategory(batch, change.categoryKey);
}

void unsettleCategory(SyncBatch& batch, const QString& categoryKey)
{
    batch.settledCategories.removeAll(categoryKey);
    for (SettingsStore::SyncCalendar& c : batch.state.syncCalendars)
        if (c.categoryKey == categoryKey) {
            c.syncToken.clear();
            c.ctag.clear();
        }
}

SyncOutcome run(Dav::Client& client, const SyncInput& input, const SettingsStore& store)
{
    SyncOutcome out;
    SettingsStore::Changes& state = out.batch.state;
    QString home = input.home;
    QList<Dav::Collection> collections;
    if (home.isEmpty())
        home = client.findCalendarHome().toString();
    try {
        collections = client.listCalendars(QUrl(home), !input.changedOnly);
    } catch (const DavFailure& failure) {
        if (failure.kind() != DavFailure::Kind::NotFound || input.home.isEmpty())
            throw;
        // The home moved: found again as the first time.
        home = client.findCalendarHome().toString();
        collections = client.listCalendars(QUrl(home), !input.changedOnly);
    }
    out.home = home;
    if (home != input.home)
        state.syncAccount.emplace_back(QStringLiteral("home"), home);

    // Calendars of categories removed here with their tasks there.
    QSet<QString> deletedNow;
    for (const QString& href : input.calendarsToDelete) {
        try {
            client.deleteCollection(href);
        } catch (const DavFailure& failure) {
            if (failure.kind() != DavFailure::Kind::NotFound) {
                out.problems.append(
                    QStringLiteral("A calendar could not be deleted on the server: %1")
                        .arg(failure.description()));
                continue;
            }
        }
        deletedNow.insert(href);
        state.syncAccount.emplace_back(QStringLiteral("delete:") + href, QString());
    }

    QHash<QString, const Dav::Collection*> byHref;
    for (const Dav::Collection& c : std::as_const(collections))
        if (c.holdsTodos && !deletedNow.contains(c.href))
            byHref.insert(c.href, &c);
    const QString homePath = QUrl(home).path().endsWith(QLatin1Char('/'))
                                 ? QUrl(home).path()
                                 : QUrl(home).path() + QLatin1Char('/');

    QHash<QString, SyncCategory> tree;
    QHash<QString, int> treeIndex;
    for (const SyncCategory& c : input.tree) {
        treeIndex.insert(c.key, int(treeIndex.size()));
        tree.insert(c.key, c);
    }
    QHash<QString, SettingsStore::SyncCalendar> linked; // by category key
    QSet<QString> linkedHrefs;
    QHash<QString, QString> keyOfRemoteKey;
    QSet<QString> goneThere; // nothing is done for them before the answer, or in this run
    QSet<QString> linkedBefore;
    QSet<QString> hrefsLinkedBefore;
    for (const SettingsStore::SyncCalendar& c : input.calendars)
        hrefsLinkedBefore.insert(c.href);
    const QString kRemoteKey = QStringLiteral("remoteKey:");
    // A calendar another home made again for a category whose calendar went: it carries the
    // key the one before carried, and the same name.
    const auto madeAgain = [&](const QString& remoteKey,
                               const QString& name) -> const Dav::Collection* {
        for (const Dav::Collection& c : std::as_const(collections))
            if (byHref.contains(c.href) && !hrefsLinkedBefore.contains(c.href) &&
                !linkedHrefs.contains(c.href) && !input.calendarsIgnored.contains(c.href) &&
                c.placement && c.placement->key == remoteKey && c.displayName == name)
                return &c;
        return nullptr;
    };
    for (const SettingsStore::SyncCalendar& c : input.calendars) {
        if (!tree.contains(c.categoryKey))
            continue; // its category was removed here and unlinked
        keyOfRemoteKey.insert(c.remoteKey, c.categoryKey);
        if (!byHref.contains(c.href)) {
            if (const Dav::Collection* again =
                    madeAgain(c.remoteKey, tree.value(c.categoryKey).name)) {
                // Linked to it rather than asked about: a second calendar would hold every task
                // twice. Its tasks are compared with the next sync, with no common copy, as a
                // category linked for the first time.
                SettingsStore::SyncCalendar link = c;
                link.href = again->href;
                link.syncToken.clear();
                link.ctag.clear();
                link.localDigest = 0;
                state.syncCalendars.push_back(link);
                for (const SettingsStore::SyncTask& row : store.readSyncTasks(c.categoryKey))
                    state.syncTasksGone.push_back(row.uid);
                linkedHrefs.insert(again->href);
                goneThere.insert(c.categoryKey);
                out.retrySoon = true;
                continue;
            }
            SyncBatch::Question question;
            question.categoryKey = c.categoryKey;
            const QString name = quoted(tree.value(c.categoryKey).name);
            question.text = QStringLiteral("The calendar of %1 is no longer on the server. Make "
                                           "it again there and upload its tasks? No keeps %1 "
                                           "here, no longer synced.")
                                .arg(name);
            question.ifYes.syncCalendarsGone.push_back(c.categoryKey);
            for (const SettingsStore::SyncTask& row : store.readSyncTasks(c.categoryKey))
                question.ifYes.syncTasksGone.push_back(row.uid);
            question.ifNo = question.ifYes;
            // The calendar made again carries the key this one did, so that a home still linked
            // to this one finds it.
            question.ifYes.syncAccount.emplace_back(kRemoteKey + c.categoryKey, c.remoteKey);
            question.ifNo.syncAccount.emplace_back(QStringLiteral("localOnly:") + c.categoryKey,
                                                   QStringLiteral("1"));
            question.noMessage =
                QStringLiteral("The calendar of %1 is gone from the server; %1 stays here and is "
                               "no longer synced.")
                    .arg(name);
            out.batch.questions.append(question);
            goneThere.insert(c.categoryKey);
            continue;
        }
        linked.insert(c.categoryKey, c);
        linkedBefore.insert(c.categoryKey);
        linkedHrefs.insert(c.href);
    }
    QHash<QString, QString> keyOfKeptRemoteKey;
    for (auto kept = input.remoteKeys.cbegin(); kept != input.remoteKeys.cend(); ++kept)
        keyOfKeptRemoteKey.insert(*kept, kept.key());

    // Calendars there that are not linked here: the same category of another Kestrune made
    // from the same start, or new categories.
    QList<const Dav::Collection*> fresh;
    for (const Dav::Collection& c : std::as_const(collections)) {
        if (!byHref.contains(c.href) || linkedHrefs.contains(c.href))
            continue;
        const bool ignored = input.calendarsIgnored.contains(c.href);
        bool same = false;
        // By the key of a category here, or the key its calendar carried before it was removed
        // or lost here.
        for (const QString& key :
             {c.placement ? c.placement->key : QString(),
              c.placement ? keyOfKeptRemoteKey.value(c.placement->key) : QString()}) {
            const auto local = tree.constFind(key);
            if (key.isEmpty() || local == tree.cend() || linked.contains(local->key) ||
                input.localOnly.contains(local->key) || goneThere.contains(local->key) ||
                local->name != c.displayName)
                continue;
            SettingsStore::SyncCalendar link;
            link.categoryKey = local->key;
            link.href = c.href;
            link.remoteKey = c.placement->key;
            linked.insert(local->key, link);
            linkedHrefs.insert(c.href);
            keyOfRemoteKey.insert(link.remoteKey, link.categoryKey);
            if (ignored) // the category unlinked here is back
                state.syncAccount.emplace_back(QStringLiteral("ignore:") + c.href, QString());
            if (input.remoteKeys.contains(local->key))
                state.syncAccount.emplace_back(kRemoteKey + local->key, QString());
            same = true;
            break;
        }
        if (!same && !ignored)
            fresh.append(&c);
    }
    // New categories here, parents before their children.
    QHash<QString, QString> placeholderOfRemoteKey;
    for (const Dav::Collection* c : std::as_const(fresh)) {
        const QString placeholder = SyncBatch::kNewCategoryPrefix + c->href;
        placeholderOfRemoteKey.insert(c->placement ? c->placement->key : placeholder, placeholder);
    }
    const auto parentOf = [&](const Dav::Collection* c) -> QString {
        if (!c->placement || c->placement->parentKey.isEmpty())
            return QString();
        if (const QString key = keyOfRemoteKey.value(c->placement->parentKey); !key.isEmpty())
            return key;
        return placeholderOfRemoteKey.value(c->placement->parentKey);
    };
    std::stable_sort(fresh.begin(), fresh.end(), [](const auto* a, const auto* b) {
        const int orderA = a->placement ? a->placement->order : std::numeric_limits<int>::max();
        const int orderB = b->placement ? b->placement->order : std::numeric_limits<int>::max();
        return orderA < orderB;
    });
    QSet<QString> placed;
    for (bool progress = true; progress;) {
        progress = false;
        for (const Dav::Collection* c : std::as_const(fresh)) {
            const QString placeholder = SyncBatch::kNewCategoryPrefix + c->href;
            const QString parent = parentOf(c);
            if (placed.contains(placeholder) ||
                (parent.startsWith(SyncBatch::kNewCategoryPrefix) && !placed.contains(parent)))
                continue;
            placed.insert(placeholder);
            progress = true;
            out.batch.newCategories.append({placeholder, storableName(c->displayName), parent,
                                            c->placement ? c->placement->order : 0});
            SettingsStore::SyncCalendar link;
            link.categoryKey = placeholder;
            link.href = c->href;
            link.remoteKey = c->placement ? c->placement->key : placeholder;
            linked.insert(placeholder, link);
        }
    }

    if (!input.treeChanged)
        out.batch.siblingOrder =
            siblingOrderThere(input.tree, out.batch.newCategories, linked, goneThere, byHref);

    // Calendars for categories made here, and the tree's shape where it changed here.
    const auto remoteKeyOf = [&](const QString& key) {
        return linked.contains(key) ? linked.value(key).remoteKey : key;
    };
    // The key a calendar carries names its category to every home: two calendars with one key
    // would put one's subcategories under the other.
    QSet<QString> remoteKeysInUse;
    QSet<QString> rekeyed; // linked before, now under another key there
    for (const Dav::Collection& c : std::as_const(collections))
        if (c.placement)
            remoteKeysInUse.insert(c.placement->key);
    for (const SettingsStore::SyncCalendar& c : std::as_const(linked))
        remoteKeysInUse.insert(c.remoteKey);
    for (const SyncCategory& c : input.tree) {
        if (input.localOnly.contains(c.key) || input.leftOut.contains(c.key) ||
            goneThere.contains(c.key))
            continue;
        Dav::Placement placement{remoteKeyOf(c.key), remoteKeyOf(c.parentKey), c.order};
        if (!linked.contains(c.key)) {
            const QString id = QUuid::createUuid().toString(QUuid::WithoutBraces);
            const QString href = homePath + id + QLatin1Char('/');
            placement.key = input.remoteKeys.value(c.key, c.key);
            if (remoteKeysInUse.contains(placement.key))
                placement.key = c.key + QLatin1Char('-') + id;
            remoteKeysInUse.insert(placement.key);
            const Dav::Collection made = client.makeCalendar(href, c.name, placement);
            SettingsStore::SyncCalendar link;
            link.categoryKey = c.key;
            link.href = made.href.isEmpty() ? href : made.href;
            link.remoteKey = placement.key;
            linked.insert(c.key, link);
            if (input.remoteKeys.contains(c.key))
                state.syncAccount.emplace_back(kRemoteKey + c.key, QString());
            continue;
        }
        const Dav::Collection* there = byHref.value(linked.value(c.key).href);
        if (!there)
            continue;
        // Names change only there (another program renames a calendar): the server's name
        // comes here. Where the category sits goes there when the tree changed here.
        const QString name =
            there->displayName.isEmpty() ? c.name : storableName(there->displayName);
        if (name != c.name)
            out.batch.renamed.insert(c.key, name);
        if (!there->placement) {
            // Another program made it, and it gets its place for the other homes to read,
            // under a key no other calendar carries.
            const auto carries = [&](const Dav::Collection& other) {
                return other.placement && other.placement->key == placement.key;
            };
            const auto links = [&](const SettingsStore::SyncCalendar& other) {
                return other.categoryKey != c.key && other.remoteKey == placement.key;
            };
            if (std::any_of(collections.cbegin(), collections.cend(), carries) ||
                std::any_of(linked.cbegin(), linked.cend(), links)) {
                placement.key =
                    c.key + QLatin1Char('-') + QUuid::createUuid().toString(QUuid::WithoutBraces);
                linked[c.key].remoteKey = placement.key;
                rekeyed.insert(c.key);
            }
        }
        if ((input.treeChanged || !there->placement) && there->placement != placement)
            client.updateCalendar(
                there->href, there->displayName.isEmpty() ? c.name : there->displayName, placement);
    }

    // The tasks, category by category.
    for (auto link = linked.cbegin(); link != linked.cend(); ++link) {
        const QString& key = link.key();
        if (input.leftOut.contains(key))
            continue;
        const bool isNew = key.startsWith(SyncBatch::kNewCategoryPrefix);
        const Dav::Collection* there = byHref.value(link->href);
        const auto lists = input.lists.constFind(key);
        const bool localChanged = lists != input.lists.cend();
        // A link made in this run is stored by its category's sync, whatever the mode.
        const bool remoteChanged =
            there && (input.changedOnly && linkedBefore.contains(key)
                          ? localChanged
                          : there->ctag.isEmpty() || there->ctag != link->ctag);
        if (!localChanged && !remoteChanged) {
            if (rekeyed.contains(key))
                state.syncCalendars.push_back(*link);
            continue;
        }
        CategorySync sync(client, store, out, key, *link, there, localChanged ? &*lists : nullptr,
                          !isNew);
        sync.m_name = isNew ? (there ? there->displayName : QString()) : tree.value(key).name;
        sync.run();
    }
    return out;
}

} // namespace SyncRun
