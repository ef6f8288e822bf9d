// The stored category tree and task lists: reading them into the window and writing them back.
#include "category_tree.h"
#include "category_tree_codec.h"
#include "error_report.h"
#include "failure.h"
#include "first_list_prefetch.h"
#include "form1.h"
#include "numbers.h"
#include "removal_history.h"
#include "settings_store.h"
#include "sync_controller.h"
#include "task_list_view.h"
#include "task_uids.h"

#include <QLabel>
#include <algorithm>

using namespace CategoryTreeCodec;

namespace {

// Each row takes the UID stored for its entry; rows the store knows nothing of get new ones.
void giveUids(SettingsStore& store, const QString& key, QList<TaskRow>& rows)
{
    QList<quint64> digests;
    digests.reserve(rows.size());
    for (const TaskRow& row : rows)
        digests.append(TaskUids::digest(row.fields));
    QList<QUuid> uids;
    try {
        uids = TaskUids::ofStoredList(store, key, digests);
    } catch (const StoreFailure&) {
        // The list itself was read: it is shown, its rows as new tasks.
    }
    for (qsizetype i = 0; i < rows.size(); ++i)
        rows[i].uid = i < uids.size() ? uids[i] : TaskUids::create();
}

} // namespace

void Form1::increaseCategoryNumber()
{
    if (m_nextCategoryNumber >= 32767)
        throw Failure(QStringLiteral("Overflow: the next category number cannot pass 32767."));
    ++m_nextCategoryNumber;
}

void Form1::listRoot()
{
    Steps step(QStringLiteral("Form1.listRoot"), this);
    QString value;
    step(100, [&] { value = m_store.read(kKey, kDefaultText); });
    if (step.test(102, [&] { return value == kDefaultText; })) {
        const int lines[3][2] = {{104, 108}, {110, 112}, {114, 116}};
        for (int i = 0; i < 3; ++i) {
            QTreeWidgetItem* node = nullptr;
            step(lines[i][0], [&] {
                node = tvFolders->addNode({}, rootKey(m_nextCategoryNumber), kDefaultNames[i]);
            });
            // Lists stored by an earlier run that never saved its tree are shown, not
            // overwritten by the next save.
            if (i == 0)
                step(106, [&] {
                    tvFolders->selectNode(node);
                    showCategory(node);
                });
            step(lines[i][1], [&] { increaseCategoryNumber(); });
        }
        return;
    }
    if (step.test(118, [&] { return value.isEmpty(); }))
        return;

    QList<QStringList> entries;
    step(120, [&] { entries = splitEntries(value); });
    step(122, [&] { m_nextCategoryNumber = 1; });
    for (const QStringList& fields : entries) {
        // 124 starts each entry; 126 skips empty ones, which splitEntries already dropped.
        QTreeWidgetItem* node = nullptr;
        QStringList keyPieces;
        const auto raiseNumber = [&](int splitLine, int compareLine, int raiseLine) {
            step(splitLine, [&] {
                keyPieces = fields.value(1).split(u'_');
                if (keyPieces.size() < 3)
                    throw Failure(QStringLiteral("Subscript out of range: the category key "
                                                 "\"%1\" has no number.")
                                      .arg(fields.value(1)));
            });
            const QString number = keyPieces.value(2);
            if (step.test(compareLine, [&] {
                    return Numbers::toInt32(number, QStringLiteral("a category number")) >
                           m_nextCategoryNumber;
                }))
                step(raiseLine, [&] {
                    m_nextCategoryNumber =
                        Numbers::toInt16(number, QStringLiteral("a category number"));
                });
        };
        if (step.test(130, [&] {
                if (fields.size() < 3)
                    throw Failure(QStringLiteral("Subscript out of range: the stored category "
                                                 "\"%1\" has no parent field.")
                                      .arg(fields.value(0)));
                return fields[2].isEmpty();
            })) {
            step(132, [&] {
                if (fields.size() < 2)
                    throw Failure(QStringLiteral("Subscript out of range: the stored category "
                                                 "\"%1\" has no key.")
                                      .arg(fields.value(0)));
                tvFolders->addNode({}, fields[1], fields[0]);
            });
            raiseNumber(134, 136, 138);
        } else {
            step(140, [&] { node = tvFolders->addNode(fields[2], fields[1], fields[0]); });
            raiseNumber(142, 144, 146);
            step(148, [&] {
                for (QTreeWidgetItem* up = node ? node->parent() : nullptr; up; up = up->parent())
                    up->setExpanded(true);
            });
        }
        // 150: next entry
    }
    step(152, [&] { increaseCategoryNumber(); });
    if (step.test(154, [&] { return tvFolders->nodeCount() > 0; })) {
        QTreeWidgetItem* first = tvFolders->nodesInOrder().value(0);
        step(156, [&] { tvFolders->selectNode(first); });
        step(158, [&] { showCategory(first); });
    }
}

void Form1::listTask()
{
    Steps step(QStringLiteral("Form1.listTask"), this);
    m_removals->forgetRows();
    QTreeWidgetItem* node = tvFolders->selectedNode();
    const QString key = node ? CategoryTree::keyOf(node) : QString();
    fillList(step, 100, ListView1, key);
    fillList(step, 134, ListView2, key.isEmpty() ? key : TaskListCodec::deletedKey(key));
    applyColumnWidths(step, 168, ListView1, QStringLiteral("List1Cols"));
    applyColumnWidths(step, 180, ListView2, QStringLiteral("List2Cols"));
    updateCommandStates();
}

void Form1::fillList(Steps& step, int firstLine, TaskListView* list, const QString& key)
{
    const auto line = [firstLine](int n) { return firstLine + n; };
    QString value;
    std::optional<FirstListPrefetch::List> readAhead;
    step(line(0), [&] {
        if (key.isEmpty())
            throw Failure(QStringLiteral("Object variable not set: no category is selected."));
        readAhead = FirstListPrefetch::take(key);
        value = readAhead ? std::move(readAhead->value) : m_store.read(key, QString());
    });
    QList<TaskListCodec::Entry> entries;
    step(line(2), [&] {
        // The entries read ahead point into `value`, which took over their text.
        entries = readAhead ? std::move(readAhead->entries) : TaskListCodec::decodeEntries(value);
    });
    step(line(4), [&] { list->tasks()->clear(); });
    if (readAhead && readAhead->rows) {
        QList<TaskRow>& rows = *readAhead->rows;
        if (readAhead->uids.size() == rows.size()) {
            for (qsizetype i = 0; i < rows.size(); ++i)
                rows[i].uid = readAhead->uids[i];
            if (readAhead->uidsChanged)
                TaskUids::storeMatched(m_store, key, readAhead->uids, readAhead->digests,
                                       readAhead->listDigest);
        } else {
            giveUids(m_store, key, rows);
        }
        list->tasks()->setRows(std::move(*readAhead->rows));
        list->tasks()->setStoredBeyondLimit({});
        return;
    }
    QList<TaskRow> rows;
    QString beyond;
    rows.reserve(std::min<qsizetype>(entries.size(), TaskListCodec::kMaxTasks));
    DueDates::ListColours colourFor;
    for (TaskListCodec::Entry& entry : entries) {
        if (rows.size() >= TaskListCodec::kMaxTasks) {
            // Only another program writes a longer list. The tasks that do not fit stay as
            // stored and are saved back after the others, so that showing them loses none.
            for (qsizetype i = rows.size(); i < entries.size(); ++i) {
                beyond += entries[i].stored;
                beyond += TaskListCodec::kTaskSeparator;
            }
            step(line(12), [&] {
                throw Failure(QStringLiteral("The stored list holds %1 tasks, more than the %2 "
                                             "a list can show. The first %2 are shown; the "
                                             "others stay stored.")
                                  .arg(entries.size())
                                  .arg(TaskListCodec::kMaxTasks));
            });
            break;
        }
        TaskRow& row = rows.emplace_back();
        row.fields[0] = std::move(entry.fields[0]);
        const auto take = [&](int i) {
            if (i >= entry.fieldCount)
                throw Failure(QStringLiteral("Subscript out of range: the stored task \"%1\" has "
                                             "no field %2.")
                                  .arg(row.fields[0], QString::number(i + 1)));
            row.fields[i] = std::move(entry.fields[i]);
        };
        for (int i = 1; i <= 3; ++i)
            step(line(12 + 2 * i), [&] { take(i); });
        const DueDates::Colour colour = colourFor(row.fields[DueDateCol]);
        const auto hasDueDate = [&] {
            if (DueDateCol >= entry.fieldCount)
                take(DueDateCol);
        };
        if (step.test(line(20), [&] {
                hasDueDate();
                return colour != DueDates::Colour::Untouched;
            })) {
            if (step.test(line(22), [&] {
                    hasDueDate();
                    return colour == DueDates::Colour::Overdue;
                }))
                step(line(24), [&] { row.dueColour = DueDates::Colour::Overdue; });
            else
                step(line(26), [&] { row.dueColour = DueDates::Colour::OnTime; });
        }
        step(line(28), [&] { take(4); });
        step(line(30), [&] { take(5); });
    }
    giveUids(m_store, key, rows);
    list->tasks()->setRows(std::move(rows));
    list->tasks()->setStoredBeyondLimit(std::move(beyond));
}

void Form1::applyColumnWidths(Steps& step, int firstLine, TaskListView* list, const QString& key)
{
    QString value;
    step(firstLine, [&] { value = m_store.read(key, QString()); });
    QStringList pieces;
    step(firstLine + 2, [&] { pieces = ColumnWidthsCodec::split(value); });
    for (int i = 0; i < pieces.size(); ++i) {
        if (step.test(firstLine + 6, [&] { return !pieces[i].isEmpty(); }))
            step(firstLine + 8, [&] {
                if (i >= TaskListCodec::kFieldCount)
                    throw Failure(
                        QStringLiteral("Index out of bounds: there is no column %1.").arg(i + 1));
                const int twips = Numbers::toInt16(pieces[i], QStringLiteral("a column width"));
                if (twips < 0)
                    throw Failure(QStringLiteral("Invalid property value: a column cannot be "
                                                 "%1 twips wide.")
                                      .arg(twips));
                list->setColumnTwips(i, twips);
            });
    }
}

QString Form1::treeValue(Steps& step) const
{
    QString value;
    for (QTreeWidgetItem* node : tvFolders->nodesInOrder()) {
        // 100 starts each node, 108 goes to the next.
        const Node entry{node->text(0), CategoryTree::keyOf(node), CategoryTree::parentKeyOf(node)};
        if (step.test(102, [&] { return !entry.parentKey.isEmpty(); }))
            step(104, [&] { value += encode({entry}); });
        else
            step(106, [&] { value += encode({entry}); });
    }
    return value;
}

void Form1::updateCategory()
{
    Steps step(QStringLiteral("Form1.updateCategory"), this);
    const QString value = treeValue(step);
    step(110, [&] { m_store.write(kKey, value); });
    // A category made, renamed or removed gets its calendar with the next sync.
    if (SyncController* sync = syncController())
        sync->syncSoon();
}

void Form1::updateCategoryInto(SettingsStore::Changes& changes)
{
    Steps step(QStringLiteral("Form1.updateCategory"), this);
    changes.values.emplace_back(kKey, treeValue(step));
}

SettingsStore::Changes Form1::shownTasksChanges() const
{
    QTreeWidgetItem* node = tvFolders->selectedNode();
    if (!node)
        throw Failure(QStringLiteral("Object variable not set: no category is selected, so the "
                                     "tasks on screen cannot be saved."));
    const QString key = CategoryTree::keyOf(node);
    // Both lists and their UIDs in one transaction: a task moved between them is never stored
    // twice or lost, and its UID goes with it.
    SettingsStore::Changes changes;
    const QString deletedKey = TaskListCodec::deletedKey(key);
    for (const auto& [list, encoder, listKey] :
         {std::tuple(ListView1, &m_storedActive, key),
          std::tuple(ListView2, &m_storedDeleted, deletedKey)}) {
        encoder->encode(list->tasks()->rows(), list->tasks()->storedBeyondLimit());
        changes.utf8Values.emplace_back(listKey, encoder->utf8());
        changes.listUids.emplace_back(listKey, encoder->uids());
    }
    return changes;
}

void Form1::saveTaskLists()
{
    snapshotBeforeFirstChangeOfDay();
    m_store.apply(shownTasksChanges());
    syncAfterSave();
}
