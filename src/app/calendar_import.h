#pragma once

#include "calendar_file.h"

#include <QList>
#include <QString>
#include <QStringList>

class SettingsStore;
class TaskListsHost;

// What an import needs of the category tree.
class CategoryHost
{
public:
    struct Category
    {
        QStringList path; // names from the top-level category down
        QString key;
    };
    virtual ~CategoryHost() = default;
    // Every category, parents before their children.
    virtual QList<Category> categories() const = 0;
    // The category whose active list takes the tasks of another program's file; empty for none.
    virtual QString selectedCategoryKey() const = 0;
    // How many categories can still be added before the category numbers run out.
    virtual int roomForCategories() const = 0;
    // Adds a category with a new key, as "Add To Do Category" does, without showing it, and
    // returns its key; an empty parent key adds a top-level category.
    virtual QString addCategory(const QString& parentKey, const QString& name) = 0;
    // Stores the tree once all categories are added.
    virtual void storeTree() = 0;
};

// A file read into the store. A file Kestrune wrote rebuilds its categories (matched by path)
// and both lists of each; another program's tasks go to the end of the selected category's
// active list. A UID that is already in the store updates that task where it is.
namespace CalendarImport {

struct Counts
{
    int added = 0;
    int updated = 0;
    int unchanged = 0;
    int skipped = 0; // other components, and repeated UIDs
    int categoriesAdded = 0;
};

// Everything is checked before anything changes: a file that cannot be taken whole (a list
// would pass its largest size, a category name the tree cannot hold, no category to take
// another program's tasks) throws Failure and changes nothing.
Counts run(const CalendarFile& file, SettingsStore& store, TaskListsHost& lists,
           CategoryHost& categories);

// The text of the message that ends an import.
QString summary(const QString& fileName, const Counts& counts);

} // namespace CalendarImport
