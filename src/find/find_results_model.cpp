#include "find_results_model.h"

#include "task_index.h"

#include <QColor>

namespace {

const QStringList kHeadings = {QStringLiteral("Category"), QStringLiteral("List"),
                               QStringLiteral("Task"),     QStringLiteral("Priority"),
                               QStringLiteral("Type"),     QStringLiteral("Due Date"),
                               QStringLiteral("Notes"),    QStringLiteral("Done")};
constexpr int kFirstField = 2;

} // namespace

FindResultsModel::FindResultsModel(const TaskIndex& index, QObject* parent)
    : QAbstractTableModel(parent), m_index(index)
{
}

int FindResultsModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_matches.size());
}

int FindResultsModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(kHeadings.size());
}

QVariant FindResultsModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= int(m_matches.size()))
        return {};
    const int task = m_matches[index.row()];
    const int column = index.column();
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
    case Qt::AccessibleTextRole:
        if (column == 0)
            return m_index.pathOf(task);
        if (column == 1)
            return m_index.isDeleted(task) ? QStringLiteral("Deleted") : QStringLiteral("Active");
        return m_index.task(task).fields[column - kFirstField];
    case Qt::ForegroundRole: {
        if (column != kFirstField + DueDateCol)
            return {};
        // As in the task lists: overdue red, any other date in the list's own text colour, which
        // stays readable on a dark scheme.
        if (m_index.dueColourOf(task) == DueDates::Colour::Overdue)
            return QColor(Qt::red);
        return {};
    }
    default:
        return {};
    }
}

QVariant FindResultsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
        section < kHeadings.size())
        return kHeadings[section];
    return {};
}

void FindResultsModel::setMatches(std::vector<int> matches)
{
    beginResetModel();
    m_matches = std::move(matches);
    endResetModel();
}
