// Tasks in and out as iCalendar files: the import command, the window's side of the task
// directory, and the category tree as the import sees it.
#include "form1.h"

#include "calendar_file.h"
#include "category_tree.h"
#include "category_tree_codec.h"
#include "error_report.h"
#include "failure.h"
#include "prompts.h"
#include "settings_store.h"
#include "task_list_view.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMenu>

namespace {

const QString kCalendarFilter = QStringLiteral("iCalendar files (*.ics *.ical *.ifb *.icalendar);;"
                                               "All files (*)");

// A busy pointer while a file is read or written.
class BusyPointer
{
public:
    BusyPointer() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyPointer() { QApplication::restoreOverrideCursor(); }
    BusyPointer(const BusyPointer&) = delete;
    BusyPointer& operator=(const BusyPointer&) = delete;
};

} // namespace

void Form1::importTasks()
{
    const QString path =
        Prompts::current().fileName(this, Prompts::FileMode::Open, QStringLiteral("Import Tasks"),
                                    QDir::homePath(), kCalendarFilter);
    if (!path.isEmpty())
        importTasksFrom(path);
}

void Form1::importTasksFrom(const QString& path)
{
    const QString name = QFileInfo(path).fileName();
    QString outcome;
    Prompts::Icon icon = Prompts::Icon::None;
    try {
        BusyPointer busy;
        const CalendarFile file = IcsFile::read(path);
        snapshotBefore(SnapshotReason::Import);
        outcome = CalendarImport::summary(name, CalendarImport::run(file, m_store, *this, *this));
    } catch (const Failure& failure) {
        outcome = failure.description();
        icon = Prompts::Icon::Exclamation;
    }
    updateCommandStates();
    Prompts::current().message(this, outcome, applicationTitle(), icon);
}

QString Form1::shownCategoryKey() const
{
    const QTreeWidgetItem* node = tvFolders->selectedNode();
    return node ? CategoryTree::keyOf(node) : QString();
}

TaskListModel* Form1::shownTasks(bool deleted) const
{
    return (deleted ? ListView2 : ListView1)->tasks();
}

QList<CategoryHost::Category> Form1::categories() const
{
    QList<Category> all;
    QHash<QString, QStringList> paths;
    for (const QTreeWidgetItem* node : tvFolders->nodesInOrder()) {
        QStringList path = paths.value(CategoryTree::parentKeyOf(node));
        path.append(node->text(0));
        paths.insert(CategoryTree::keyOf(node), path);
        all.append({path, CategoryTree::keyOf(node)});
    }
    return all;
}

QString Form1::selectedCategoryKey() const
{
    return shownCategoryKey();
}

int Form1::roomForCategories() const
{
    return 32767 - m_nextCategoryNumber;
}

QString Form1::addCategory(const QString& parentKey, const QString& name)
{
    QTreeWidgetItem* parent = parentKey.isEmpty() ? nullptr : tvFolders->nodeByKey(parentKey);
    const int depth = parent ? CategoryTreeCodec::depthOf(parentKey) + 1 : 1;
    const auto keyFor = [parent, depth](int number) {
        return parent ? CategoryTreeCodec::subKey(depth, number)
                      : CategoryTreeCodec::rootKey(number);
    };
    const QString key = keyFor(claimCategoryNumber(keyFor));
    tvFolders->addNode(parentKey, key, name);
    increaseCategoryNumber();
    return key;
}

void Form1::storeTree()
{
    updateCategory();
}
