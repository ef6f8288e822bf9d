#include "calendar_import.h"

#include "category_tree_codec.h"
#include "failure.h"
#include "settings_store.h"
#include "task_directory.h"
#include "task_uids.h"

#include <QHash>
#include <QSet>
#include <algorithm>

namespace CalendarImport {

namespace {

QString pathText(const QStringList& path)
{
    return path.join(QStringLiteral(" \u203a "));
}

// The categories of the tree by path; of two with the same path, the one with the file's key
// wins, else the first.
class CategoryPaths
{
public:
    explicit CategoryPaths(const QList<CategoryHost::Category>& tree)
    {
        for (const CategoryHost::Category& c : tree)
            m_keys[c.path].append(c.key);
    }
    QString keyOf(const QStringList& path, const QString& preferredKey) const
    {
        const QStringList keys = m_keys.value(path);
        if (keys.contains(preferredKey))
            return preferredKey;
        return keys.value(0);
    }
    void add(const QStringList& path, const QString& key) { m_keys[path].append(key); }

private:
    QHash<QStringList, QStringList> m_keys;
};

struct Target
{
    QString categoryKey;
    bool deleted = false;
    QStringList path; // for messages and for categories still to be made
    bool operator==(const Target&) const = default;
};

size_t qHash(const Target& t, size_t seed = 0)
{
    return qHashMulti(seed, t.categoryKey, t.deleted, t.path);
}

} // namespace

Counts run(const CalendarFile& file, SettingsStore& store, TaskListsHost& lists,
           CategoryHost& categories)
{
    Counts counts;
    counts.skipped = file.skippedComponents;
    const QList<CategoryHost::Category> tree = categories.categories();
    CategoryPaths paths(tree);

    // The categories the file needs that the tree lacks, parents first.
    QList<QStringList> missing;
    QSet<QStringList> missingSet;
    const auto need = [&](const QStringList& path, const QString& key) {
        for (qsizetype depth = 1; depth <= path.size(); ++depth) {
            const QStringList upTo = path.first(depth);
            if (missingSet.contains(upTo) ||
                !paths.keyOf(upTo, depth == path.size() ? key : QString()).isEmpty())
                continue;
            for (const QString& name : upTo)
                if (const QString reason = CategoryTreeCodec::unstorableNameReason(name);
                    !reason.isEmpty() || name.trimmed().isEmpty())
                    throw Failure(QStringLiteral("The category \"%1\" cannot be added: %2")
                                      .arg(pathText(upTo), reason.isEmpty()
                                                               ? QStringLiteral("it has no name.")
                                                               : reason));
            missing.append(upTo);
            missingSet.insert(upTo);
        }
    };
    if (file.writtenByKestrune) {
        for (const CalendarCategory& c : file.categories)
            need(c.path, c.key);
        const CalendarTask* before = nullptr;
        for (const CalendarTask& t : file.tasks) {
            if (!t.categoryPath.isEmpty() && !(before && before->categoryPath == t.categoryPath &&
                                               before->categoryKey == t.categoryKey))
                need(t.categoryPath, t.categoryKey);
            before = &t;
        }
    }
    if (missing.size() > categories.roomForCategories())
        throw Failure(QStringLiteral("The file needs %1 new categories, more than can still be "
                                     "added.")
                          .arg(missing.size()));
    const QString selected = categories.selectedCategoryKey();

    QStringList existingKeys;
    for (const CategoryHost::Category& c : tree)
        existingKeys.append(c.key);
    TaskDirectory directory(store, lists, existingKeys);

    // Where each task goes, and what it updates; repeated UIDs after the first are skipped.
    // The tasks of one list come one after another in a file: a task's list is looked up only
    // when it is not the one before's.
    struct Planned
    {
        const CalendarTask* task;
        QUuid uid;
        qsizetype target; // into `targets`, or -1 for an update
    };
    QList<Planned> plan;
    plan.reserve(file.tasks.size());
    QList<Target> targets;
    QList<int> additions; // per target
    QHash<Target, qsizetype> targetIndex;
    const CalendarTask* previous = nullptr;
    qsizetype previousTarget = -1;
    QSet<QUuid> seen;
    seen.reserve(file.tasks.size());
    for (const CalendarTask& task : file.tasks) {
        const QUuid uid = TaskUids::fromCalendarUid(task.uid);
        if (seen.contains(uid)) {
            ++counts.skipped;
            continue;
        }
        seen.insert(uid);
        if (directory.find(uid)) {
            plan.append({&task, uid, -1});
            continue;
        }
        const bool placed = file.writtenByKestrune && !task.categoryPath.isEmpty();
        if (previous && previousTarget >= 0 && placed &&
            previous->categoryPath == task.categoryPath &&
            previous->categoryKey == task.categoryKey && previous->deleted == task.deleted) {
            ++additions[previousTarget];
            plan.append({&task, uid, previousTarget});
            previous = &task;
            continue;
        }
        Target target;
        if (placed) {
            target.path = task.categoryPath;
            target.categoryKey = paths.keyOf(task.categoryPath, task.categoryKey);
            target.deleted = task.deleted;
        } else {
            if (selected.isEmpty())
                throw Failure(QStringLiteral("There is no category to take the tasks: please add "
                                             "or select a category first."));
            target.categoryKey = selected;
            for (const CategoryHost::Category& c : tree)
                if (c.key == selected)
                    target.path = c.path;
        }
        qsizetype index = targetIndex.value(target, -1);
        if (index < 0) {
            index = targets.size();
            targetIndex.insert(target, index);
            targets.append(target);
            additions.append(0);
        }
        ++additions[index];
        plan.append({&task, uid, index});
        previous = &task;
        previousTarget = index;
    }
    for (qsizetype i = 0; i < targets.size(); ++i) {
        const Target& t = targets[i];
        const int rows = t.categoryKey.isEmpty() ? 0 : directory.rowCount(t.categoryKey, t.deleted);
        if (rows + additions[i] > TaskListCodec::kMaxTasks)
            throw Failure(QStringLiteral("Nothing was imported: the %1 list of \"%2\" would hold "
                                         "%3 tasks, more than the %4 a list can hold.")
                              .arg(t.deleted ? QStringLiteral("deleted") : QStringLiteral("active"),
                                   pathText(t.path))
                              .arg(rows + additions[i])
                              .arg(TaskListCodec::kMaxTasks));
    }

    // Everything is checked: from here on the file goes in whole.
    for (const QStringList& path : std::as_const(missing)) {
        const QString parentKey =
            path.size() > 1 ? paths.keyOf(path.first(path.size() - 1), QString()) : QString();
        const QString key = categories.addCategory(parentKey, path.last());
        paths.add(path, key);
        directory.addCategory(key);
        ++counts.categoriesAdded;
    }
    if (counts.categoriesAdded)
        categories.storeTree();
    for (qsizetype i = 0; i < targets.size(); ++i) {
        Target& t = targets[i];
        if (t.categoryKey.isEmpty())
            t.categoryKey = paths.keyOf(t.path, QString());
        directory.reserve(t.categoryKey, t.deleted, additions[i]);
    }

    // New tasks in the order their lists give them, where the file says it; file order else.
    QList<Planned> added;
    added.reserve(plan.size());
    std::copy_if(plan.cbegin(), plan.cend(), std::back_inserter(added),
                 [](const Planned& p) { return p.target >= 0; });
    std::stable_sort(added.begin(), added.end(), [](const Planned& a, const Planned& b) {
        const auto order = [](const Planned& p) {
            return p.task->sortOrder.value_or(std::numeric_limits<qint64>::max());
        };
        return order(a) < order(b);
    });
    SettingsStore::Changes kept;
    const auto keep = [&](const Planned& p) {
        // Kestrune's own tasks are written anew from their fields; what another program made
        // keeps its VTODO, also when it comes back through a Kestrune file.
        if (!p.task->vtodo.isEmpty() && (!file.writtenByKestrune || p.task->carriesMore))
            kept.keptVTodos.emplace_back(p.uid.toString(QUuid::WithoutBraces), p.task->vtodo);
    };
    for (const Planned& p : std::as_const(plan)) {
        if (p.target >= 0)
            continue;
        keep(p);
        if (directory.update(p.uid, p.task->fields))
            ++counts.updated;
        else
            ++counts.unchanged;
    }
    for (const Planned& p : std::as_const(added)) {
        keep(p);
        const Target& t = targets[p.target];
        directory.append(t.categoryKey, t.deleted, p.task->fields, p.uid);
        ++counts.added;
    }
    // The tasks, their UIDs and the copies of what other programs wrote, in one transaction.
    directory.save(std::move(kept));
    return counts;
}

QString summary(const QString& fileName, const Counts& counts)
{
    QString text = QStringLiteral("Imported from %1: %2 added, %3 updated, %4 unchanged, %5 "
                                  "skipped.")
                       .arg(fileName)
                       .arg(counts.added)
                       .arg(counts.updated)
                       .arg(counts.unchanged)
                       .arg(counts.skipped);
    if (counts.categoriesAdded)
        text += QStringLiteral(" %1 categories were added.").arg(counts.categoriesAdded);
    return text;
}

} // namespace CalendarImport
