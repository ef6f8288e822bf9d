#pragma once

#include "find_query.h"
#include "task_list_model.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <compare>
#include <optional>
#include <vector>

// One category as the search sees it.
struct FindCategory
{
    QString key;
    // The names from the top of the tree down to this category, joined by " › ".
    QString path;
    // The active and the deleted list as on screen, for the category shown: its unsaved moves
    // and removals are what the user sees, so they are what is searched. The others are read
    // as stored.
    std::optional<QList<TaskRow>> onScreen[2];
};

// Where a task stands in the order of the results: category, then list, then row.
struct FindPlace
{
    int category = -1;
    int list = 0; // 0 the active list, 1 the deleted list
    int row = -1;

    auto operator<=>(const FindPlace& other) const = default;
};

// A match, with what the main window needs to go to it.
struct FindHit
{
    QString categoryKey;
    FindPlace place;
    // The row is a position on screen; otherwise it is the position in the stored list.
    bool onScreen = false;
    TaskListCodec::Fields fields;
    // Rows with the same six fields above it in its list. A list shown sorted keeps equal rows
    // in their stored order, so this finds the row again whatever the sorting.
    int sameBefore = 0;
};

// Every task of every category, laid out so that a search as the user types is one pass over
// one text. The tasks are kept in the order of the results.
class TaskIndex
{
public:
    static inline const QString kPathSeparator = QStringLiteral(" \u203A ");

    TaskIndex() = default;
    // `stored` holds the store's values by key, as SettingsStore::readSection() gives them.
    TaskIndex(const QList<FindCategory>& categories, const QHash<QString, QString>& stored);

    // The tasks whose task text, type or notes contain the query's text, in the order of the
    // categories given, the active list before the deleted one, each in list order. `within`,
    // when given, holds an earlier result that this one can only narrow.
    std::vector<int> find(const FindQuery& query, const std::vector<int>* within = nullptr) const;

    int size() const { return int(m_tasks.size()); }
    const TaskRow& task(int i) const { return m_tasks[i].row; }
    const QString& pathOf(int i) const { return m_paths[m_lists[m_tasks[i].list].category]; }
    bool isDeleted(int i) const { return m_lists[m_tasks[i].list].list == 1; }
    // The due date's colour by the rule of the task lists: as on screen for the shown category.
    DueDates::Colour dueColourOf(int i) const;
    FindPlace placeOf(int i) const;
    FindHit hit(int i) const;

    // The match after `from` in result order, or before it going back; past the last one it
    // wraps round to the first, and the other way. -1 when there are no matches.
    int stepFrom(const std::vector<int>& matches, const FindPlace& from, bool forward) const;

    // One line for every stored list that could not be read and so was not searched.
    const QStringList& skippedLists() const { return m_skipped; }

private:
    struct List
    {
        int category;
        int list;
        bool onScreen;
        int firstTask;
    };
    struct Task
    {
        TaskRow row;
        int list;
        int position;
    };

    void addList(int category, int list, bool onScreen, QList<TaskRow> rows);
    std::optional<QList<TaskRow>> readStored(int category, int list, const QString& value);

    std::vector<QString> m_keys;
    std::vector<QString> m_paths;
    std::vector<List> m_lists;
    std::vector<Task> m_tasks;
    // Task text, type and notes of every task, each followed by a NUL, which a typed text
    // never holds: a match never runs from one field into the next. m_start[i] is where task
    // i begins; m_start[size()] is the end.
    QString m_text;
    QString m_folded;
    std::vector<qsizetype> m_start;
    // Case folding keeps the length of nearly every text; when it did not, the folded copy
    // cannot share the offsets and the search folds as it goes.
    bool m_foldedAligned = true;
    QStringList m_skipped;
};
