#pragma once

#include <QAbstractTableModel>
#include <vector>

class TaskIndex;

// The matches as the find window lists them: the category's path, "Active" or "Deleted", and
// the task's six fields with the due date coloured as in the task lists.
class FindResultsModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    explicit FindResultsModel(const TaskIndex& index, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    void setMatches(std::vector<int> matches);
    const std::vector<int>& matches() const { return m_matches; }

private:
    const TaskIndex& m_index;
    std::vector<int> m_matches;
};
