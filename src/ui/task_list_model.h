#pragma once

#include "due_dates.h"
#include "task_list_codec.h"

#include <QAbstractTableModel>
#include <QList>
#include <QUuid>

// One row of a task list: the six stored texts, the due date's colour, which is not stored,
// and the task's UID, which is stored beside the list (TaskUids). A row that comes into a list
// without a UID is a new task and gets one there; every other row brings its own along.
struct TaskRow
{
    TaskListCodec::Fields fields;
    DueDates::Colour dueColour = DueDates::Colour::Untouched;
    QUuid uid = {};

    // Recomputes the due date's colour; a text that is no date keeps the colour it had.
    void applyDueDateRule();
    bool operator==(const TaskRow& other) const = default;
};

enum TaskColumn
{
    TaskCol = 0,
    PriorityCol,
    TypeCol,
    DueDateCol,
    NotesCol,
    DoneCol,
};

// A task list on screen. Rows are kept in list order; once sorted by a column, the list keeps
// every row in that order, new ones included, until the program ends.
class TaskListModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    struct SortState
    {
        int column = 0;
        Qt::SortOrder order = Qt::AscendingOrder;
        bool sorted = false;
    };

    explicit TaskListModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    // Answered without the base class's round of virtual calls: the view asks both of every
    // row each time it lays out a list, 32767 rows at the largest.
    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    const TaskRow& at(int row) const { return m_rows.at(row); }
    const QList<TaskRow>& rows() const { return m_rows; }

    void clear();
    void setRows(QList<TaskRow> rows);
    // Appends at the end, or at the row's sorted place; returns where it went.
    int append(TaskRow row);
    int insert(int position, TaskRow row);
    // Puts a removed row back at its old position; a sorted list keeps it there only where that
    // is still in order, else at its sorted place. Returns where it went.
    int putBack(int position, TaskRow row);
    // Rewrites a row; in a sorted list it moves to its sorted place. Returns where it is.
    // A row without a UID keeps the one of the row it replaces.
    int replace(int position, TaskRow row);
    void remove(int position);
    // Moves a row to another position (as one step, for the move commands).
    void move(int from, int to);
    // Throws Failure when the list is full.
    void ensureRoomFor(int extraRows) const;
    // Stored entries past the largest list, as stored: not shown, saved back after the rows.
    void setStoredBeyondLimit(QString entries)
    {
        m_beyondLimit = std::move(entries);
        ++m_revision;
    }
    const QString& storedBeyondLimit() const { return m_beyondLimit; }

    const SortState& sortState() const { return m_sort; }
    // Changes with every change of the rows or of what is stored past them: the same number,
    // the same list.
    quint64 revision() const { return m_revision; }
    // A click on a column header: the same column reverses the order, another sorts ascending.
    void headerClicked(int column);
    // Keeps the column and order but lets rows stay where they are put.
    void stopSorting();

signals:
    void sortStateChanged();

private:
    bool lessThan(const TaskRow& a, const TaskRow& b) const;
    int sortedPosition(const TaskRow& row) const;
    void sortRows();

    QList<TaskRow> m_rows;
    SortState m_sort;
    QString m_beyondLimit;
    quint64 m_revision = 0;
};
