// Start-up, the stored tree and task lists, the view actions and closing.
#include "app_folder.h"
#include "category_tree.h"
#include "category_tree_codec.h"
#include "cursor_file.h"
#include "csystray.h"
#include "error_report.h"
#include "failure.h"
#include "form1.h"
#include "numbers.h"
#include "settings_store.h"
#include "task_list_view.h"
#include "task_tabs.h"
#include "window_colours.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

using namespace CategoryTreeCodec;

namespace {

const QList<double> kStartupColumnTwips = {2200, 1200, 1200, 1200, 1, 1};
const QColor kHeadingColour(255, 255, 192);

const QString& field(const QStringList& fields, int i, const QStringList& entry)
{
    if (i >= fields.size())
        throw Failure(QStringLiteral("Subscript out of range: the stored task \"%1\" has no "
                                     "field %2.")
                          .arg(entry.value(0), QString::number(i + 1)));
    return fields[i];
}

} // namespace

void Form1::Form_Load()
{
    Steps step(QStringLiteral("Form1.Form_Load"), this);
    step(100, [&] { m_isLoading = true; });
    step(102, [&] { applySkin(); });
    const QString pointerFile = AppFolder::path() + QStringLiteral("/HAND-M.CUR");
    if (step.test(104, [&] { return AppFolder::fileExists(pointerFile); }))
        step(106, [&] { m_handPointer = loadCursorFile(pointerFile); });
    step(128, [&] {
        setWindowTitle(QStringLiteral("Tolvendra Software"));
        setWindowIcon(QApplication::windowIcon());
        // The title of boxes without their own comes from applicationTitle(); it is not set as
        // Qt's display name, which would be appended to every window caption.
    });
    for (int column = 0; column < 6; ++column) {
        step(142 + 2 * column, [&] { ListView1->setColumnTwips(column, kStartupColumnTwips[column]); });
        step(166 + 2 * column, [&] { ListView2->setColumnTwips(column, kStartupColumnTwips[column]); });
    }
    step(178, [&] { m_nextCategoryNumber = 1; });
    step(180, [&] { listRoot(); });
    step(182, [&] { Label1->setText(QStringLiteral("Tasks for [Work]")); });
    for (auto [line, heading] : {std::pair{184, Label1}, std::pair{186, Label3}})
        step(line, [&] {
            QPalette palette = heading->palette();
            palette.setColor(QPalette::Window, kHeadingColour);
            heading->setPalette(palette);
        });
    step(188, [&] {
        const int tab = Numbers::toInt32(m_store.read(QStringLiteral("TabSel"), QStringLiteral("0")),
                                         QStringLiteral("the selected tab"));
        if (tab < 0 || tab > 1)
            throw Failure(QStringLiteral("Invalid property value: there is no tab %1.").arg(tab));
        QSignalBlocker quiet(TabControl1);
        TabControl1->setCurrentIndex(tab);
    });
    const int tab = TabControl1->currentIndex();
    if (step.test(190, [&] { return tab == 0; })) {
        step(192, [&] { PushButton9->setText(QStringLiteral("Delete Selected Task")); });
        step(194, [&] { PushButton7->setText(QStringLiteral("Delete All Tasks")); });
    } else if (step.test(196, [&] { return tab == 1; })) {
        step(198, [&] { PushButton9->setText(QStringLiteral("Restore Selected Task")); });
        step(200, [&] { PushButton7->setText(QStringLiteral("Restore All Tasks")); });
    }
    step(202, [&] {
        const int state = Numbers::toInt32(
            m_store.read(QStringLiteral("WindowState"), QStringLiteral("0")),
            QStringLiteral("the window state"));
        switch (state) {
        case 0:
            setWindowState(Qt::WindowNoState);
            break;
        case 1:
            setWindowState(Qt::WindowMinimized);
            break;
        case 2:
            setWindowState(Qt::WindowMaximized);
            break;
        default:
            throw Failure(QStringLiteral("Invalid property value: %1 is no window state.").arg(state));
        }
        m_stateFromStartup = state;
    });
    step(204, [&] { m_isLoading = false; });
    installPointerRules();
    updateCommandStates();
}

void Form1::applySkin()
{
    const QString skinFile = AppFolder::path() + QStringLiteral("/x/o.cjs");
    if (!AppFolder::fileExists(skinFile))
        return;
    applySharedWindowColours(this);
    QFile skin(skinFile);
    if (!skin.open(QIODevice::ReadOnly))
        throw Failure(QStringLiteral("Cannot read the skin file %1.").arg(skinFile));
    setStyleSheet(QString::fromUtf8(skin.readAll()));
}

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
                    m_nextCategoryNumber = Numbers::toInt16(number, QStringLiteral("a category number"));
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

void Form1::tvFolders_NodeClick(QTreeWidgetItem* node)
{
    // listTask reports its own failures; this only keeps anything else out of the event loop.
    Steps guard(QStringLiteral("Form1.tvFolders_NodeClick"), this);
    guard(100, [&] { showCategory(node); });
}

void Form1::showCategory(QTreeWidgetItem* node)
{
    if (!node)
        throw Failure(QStringLiteral("Object variable not set: no category is selected."));
    Label1->setText(QStringLiteral("Task(s) for [") + node->text(0) + u']');
    listTask();
}

void Form1::listTask()
{
    Steps step(QStringLiteral("Form1.listTask"), this);
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
    step(line(0), [&] {
        if (key.isEmpty())
            throw Failure(QStringLiteral("Object variable not set: no category is selected."));
        value = m_store.read(key, QString());
    });
    QList<QStringList> entries;
    step(line(2), [&] { entries = TaskListCodec::decode(value); });
    step(line(4), [&] { list->tasks()->clear(); });
    QList<TaskRow> rows;
    QString beyond;
    rows.reserve(entries.size());
    for (const QStringList& fields : entries) {
        if (rows.size() >= TaskListCodec::kMaxTasks) {
            // Only another program writes a longer list. The tasks that do not fit stay as
            // stored and are saved back after the others, so that showing them loses none.
            for (qsizetype i = rows.size(); i < entries.size(); ++i)
                beyond +=
                    entries[i].join(TaskListCodec::kFieldSeparator) + TaskListCodec::kTaskSeparator;
            step(line(12), [&] {
                throw Failure(QStringLiteral("The stored list holds %1 tasks, more than the %2 "
                                             "a list can show. The first %2 are shown; the "
                                             "others stay stored.")
                                  .arg(entries.size())
                                  .arg(TaskListCodec::kMaxTasks));
            });
            break;
        }
        TaskRow row;
        step(line(12), [&] { row.fields[0] = fields.value(0); });
        for (int i = 1; i <= 3; ++i)
            step(line(12 + 2 * i), [&] { row.fields[i] = field(fields, i, fields); });
        const DueDates::Colour colour = DueDates::colourFor(row.fields[DueDateCol]);
        if (step.test(line(20), [&] {
                field(fields, DueDateCol, fields);
                return colour != DueDates::Colour::Untouched;
            })) {
            if (step.test(line(22), [&] {
                    field(fields, DueDateCol, fields);
                    return colour == DueDates::Colour::Overdue;
                }))
                step(line(24), [&] { row.dueColour = DueDates::Colour::Overdue; });
            else
                step(line(26), [&] { row.dueColour = DueDates::Colour::OnTime; });
        }
        step(line(28), [&] { row.fields[4] = field(fields, 4, fields); });
        step(line(30), [&] { row.fields[5] = field(fields, 5, fields); });
        rows.append(std::move(row));
    }
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
                    throw Failure(QStringLiteral("Index out of bounds: there is no column %1.")
                                      .arg(i + 1));
                const int twips = Numbers::toInt16(pieces[i], QStringLiteral("a column width"));
                if (twips < 0)
                    throw Failure(QStringLiteral("Invalid property value: a column cannot be "
                                                 "%1 twips wide.")
                                      .arg(twips));
                list->setColumnTwips(i, twips);
            });
    }
}

void Form1::updateCategory()
{
    Steps step(QStringLiteral("Form1.updateCategory"), this);
    QString value;
    for (QTreeWidgetItem* node : tvFolders->nodesInOrder()) {
        // 100 starts each node, 108 goes to the next.
        const Node entry{node->text(0), CategoryTree::keyOf(node), CategoryTree::parentKeyOf(node)};
        if (step.test(102, [&] { return !entry.parentKey.isEmpty(); }))
            step(104, [&] { value += encode({entry}); });
        else
            step(106, [&] { value += encode({entry}); });
    }
    step(110, [&] { m_store.write(kKey, value); });
}

void Form1::saveTaskLists()
{
    QTreeWidgetItem* node = tvFolders->selectedNode();
    if (!node)
        throw Failure(QStringLiteral("Object variable not set: no category is selected, so the "
                                     "tasks on screen cannot be saved."));
    const QString key = CategoryTree::keyOf(node);
    const auto encodeList = [](const TaskListView* list) {
        QString out;
        out.reserve(list->tasks()->rows().size() * 128);
        for (const TaskRow& row : list->tasks()->rows())
            TaskListCodec::appendEntry(out, row.fields);
        return out + list->tasks()->storedBeyondLimit();
    };
    // Both lists in one transaction: a task moved between them is never stored twice or lost.
    m_store.writeAll({{key, encodeList(ListView1)},
                      {TaskListCodec::deletedKey(key), encodeList(ListView2)}});
}

void Form1::TabControl1_SelectedChanged()
{
    const int index = TabControl1->currentIndex();
    Steps report(QStringLiteral("Form1.TabControl1_SelectedChanged"), this);
    report(100, [&] { m_store.write(QStringLiteral("TabSel"), QString::number(index)); });
    if (index == 1) {
        PushButton9->setText(QStringLiteral("Restore Selected Task"));
        PushButton7->setText(QStringLiteral("Restore All Tasks"));
    } else if (index == 0) {
        PushButton9->setText(QStringLiteral("Delete Selected Task"));
        PushButton7->setText(QStringLiteral("Delete All Tasks"));
    }
}

void Form1::ListView_ItemClick(TaskListView* list, int row)
{
    if (row >= 0 && row < list->tasks()->rowCount())
        Text1->setPlainText(list->tasks()->at(row).fields[NotesCol]);
}

void Form1::updateCommandStates()
{
    // Without a category nothing typed or moved could be saved, so nothing may be started.
    const bool hasCategory = tvFolders->selectedNode() != nullptr;
    for (QPushButton* command : {PushButton8, PushButton1, PushButton9, PushButton7, PushButton10,
                                 PushButton3, PushButton4, PushButton5, PushButton6})
        command->setEnabled(hasCategory);
}

QString Form1::columnWidthsText(Steps& step, int firstLine, TaskListView* list)
{
    QString text;
    for (double twips : list->columnTwips())
        step(firstLine + 2, [&] { text += ColumnWidthsCodec::encode({twips}); });
    return text;
}

void Form1::Form_QueryUnload()
{
    Steps step(QStringLiteral("Form1.Form_QueryUnload"), this);
    const QString list1 = columnWidthsText(step, 100, ListView1);
    step(108, [&] { m_store.write(QStringLiteral("List1Cols"), list1); });
    const QString list2 = columnWidthsText(step, 110, ListView2);
    step(118, [&] { m_store.write(QStringLiteral("List2Cols"), list2); });
    step(120, [&] { updateCategory(); });
    step(122, [&] { cSysTray1->setInTray(false); });
    step(124, [&] { QCoreApplication::processEvents(); });
}
