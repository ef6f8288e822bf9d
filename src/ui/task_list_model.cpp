#include "task_list_model.h"

#include "failure.h"
#include "task_uids.h"

#include <QColor>
#include <QWidget>
#include <algorithm>
#include <numeric>

namespace {
const QStringList kHeadings = {QStringLiteral("Task"),  QStringLiteral("Priority"),
                               QStringLiteral("Type"),  QStringLiteral("Due Date"),
                               QStringLiteral("Notes"), QStringLiteral("Done")};

// The list's own text colour: black on a light scheme, and still readable on a dark one, where
// black would vanish into the list's background.
QColor onTimeColour(const QObject* list)
{
    if (const auto* widget = qobject_cast<const QWidget*>(list))
        return widget->palette().color(QPalette::Text);
    return QColor(Qt::black);
}

} // namespace

void TaskRow::applyDueDateRule()
{
    const DueDates::Colour colour = DueDates::colourFor(fields[DueDateCol]);
    if (colour != DueDates::Colour::Untouched)
        dueColour = colour;
}

TaskListModel::TaskListModel(QObject* parent) : QAbstractTableModel(parent)
{
}

int TaskListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int TaskListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : TaskListCodec::kFieldCount;
}

QModelIndex TaskListModel::index(int row, int column, const QModelIndex& parent) const
{
    if (parent.isValid() || row < 0 || row >= m_rows.size() || column < 0 ||
        column >= TaskListCodec::kFieldCount)
        return {};
    return createIndex(row, column);
}

Qt::ItemFlags TaskListModel::flags(const QModelIndex& index) const
{
    if (index.model() != this || index.row() >= m_rows.size() ||
        index.column() >= TaskListCodec::kFieldCount)
        return Qt::NoItemFlags;
    return Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren;
}

QVariant TaskListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    const TaskRow& row = m_rows[index.row()];
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
    case Qt::AccessibleTextRole:
        return row.fields[index.column()];
    case Qt::ForegroundRole:
        if (index.column() == DueDateCol && row.dueColour != DueDates::Colour::Untouched)
            return row.dueColour == DueDates::Colour::Overdue ? QColor(Qt::red)
                                                              : onTimeColour(QObject::parent());
        return {};
    default:
        return {};
    }
}

QVariant TaskListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
        section < kHeadings.size())
        return kHeadings[section];
    return {};
}

void TaskListModel::clear()
{
    setRows({});
}

void TaskListModel::setRows(QList<TaskRow> rows)
{
    beginResetModel();
    ++m_revision;
    m_rows = std::move(rows);
    for (TaskRow& row : m_rows)
        if (row.uid.isNull())
            row.uid = TaskUids::create();
    if (m_sort.sorted)
        std::stable_sort(m_rows.begin(), m_rows.end(),
                         [this](const TaskRow& a, const TaskRow& b) { return lessThan(a, b); });
    endResetModel();
}

void TaskListModel::ensureRoomFor(int extraRows) const
{
    if (m_rows.size() + extraRows > TaskListCodec::kMaxTasks)
        throw Failure(
            QStringLiteral("A task list holds at most %1 tasks.").arg(TaskListCodec::kMaxTasks));
}

int TaskListModel::append(TaskRow row)
{
    const int position = m_sort.sorted ? sortedPosition(row) : int(m_rows.size());
    return insert(position, std::move(row));
}

int TaskListModel::insert(int position, TaskRow row)
{
    ensureRoomFor(1);
    if (row.uid.isNull())
        row.uid = TaskUids::create();
    position = std::clamp(position, 0, int(m_rows.size()));
    beginInsertRows({}, position, position);
    ++m_revision;
    m_rows.insert(position, std::move(row));
    endInsertRows();
    return position;
}

int TaskListModel::putBack(int position, TaskRow row)
{
    position = std::clamp(position, 0, int(m_rows.size()));
    if (m_sort.sorted && ((position > 0 && lessThan(row, m_rows[position - 1])) ||
                          (position < m_rows.size() && lessThan(m_rows[position], row))))
        position = sortedPosition(row);
    return insert(position, std::move(row));
}

int TaskListModel::replace(int position, TaskRow row)
{
    if (row.uid.isNull())
        row.uid = m_rows[position].uid;
    m_rows[position] = std::move(row);
    ++m_revision;
    emit dataChanged(index(position, 0), index(position, TaskListCodec::kFieldCount - 1));
    if (!m_sort.sorted)
        return position;
    TaskRow moved = m_rows[position];
    remove(position);
    const int sorted = sortedPosition(moved);
    return insert(sorted, std::move(moved));
}

void TaskListModel::remove(int position)
{
    beginRemoveRows({}, position, position);
    ++m_revision;
    m_rows.removeAt(position);
    endRemoveRows();
}

void TaskListModel::move(int from, int to)
{
    if (from == to)
        return;
    beginMoveRows({}, from, from, {}, to > from ? to + 1 : to);
    ++m_revision;
    m_rows.move(from, to);
    endMoveRows();
}

void TaskListModel::headerClicked(int column)
{
    const int previous = m_sort.column;
    m_sort.sorted = false;
    m_sort.column = column;
    if (column == previous)
        m_sort.order =
            m_sort.order == Qt::AscendingOrder ? Qt::DescendingOrder : Qt::AscendingOrder;
    else
        m_sort.order = Qt::AscendingOrder;
    m_sort.sorted = true;
    emit layoutAboutToBeChanged();
    sortRows();
    emit layoutChanged();
    emit sortStateChanged();
}

void TaskListModel::stopSorting()
{
    if (!m_sort.sorted)
        return;
    m_sort.sorted = false;
    emit sortStateChanged();
}

bool TaskListModel::lessThan(const TaskRow& a, const TaskRow& b) const
{
    const int c =
        QString::compare(a.fields[m_sort.column], b.fields[m_sort.column], Qt::CaseInsensitive);
    return m_sort.order == Qt::AscendingOrder ? c < 0 : c > 0;
}

int TaskListModel::sortedPosition(const TaskRow& row) const
{
    const auto it =
        std::upper_bound(m_rows.begin(), m_rows.end(), row,
                         [this](const TaskRow& a, const TaskRow& b) { return lessThan(a, b); });
    return int(it - m_rows.begin());
}

void TaskListModel::sortRows()
{
    // Persistent indexes (the selection) follow their rows through the sort.
    const QModelIndexList before = persistentIndexList();
    QList<int> order(m_rows.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [this](int a, int b) { return lessThan(m_rows[a], m_rows[b]); });
    QList<TaskRow> sorted;
    sorted.reserve(m_rows.size());
    QList<int> newPosition(m_rows.size());
    for (int i = 0; i < order.size(); ++i) {
        sorted.append(std::move(m_rows[order[i]]));
        newPosition[order[i]] = i;
    }
    m_rows = std::move(sorted);
    ++m_revision;
    QModelIndexList after;
    for (const QModelIndex& index : before)
        after.append(this->index(newPosition[index.row()], index.column()));
    changePersistentIndexList(before, after);
}
