#pragma once

#include "task_list_model.h"

#include <QList>
#include <QTreeView>

// A task list on screen: six columns whose widths are kept in twips, one selected row.
class TaskListView : public QTreeView
{
    Q_OBJECT

public:
    explicit TaskListView(const QString& name, QWidget* parent = nullptr);

    TaskListModel* tasks() const { return m_model; }

    double columnTwips(int column) const { return m_twips.at(column); }
    QList<double> columnTwips() const { return m_twips; }
    void setColumnTwips(int column, double twips);

    // The selected row, or -1.
    int selectedRow() const;
    void selectRow(int row);

signals:
    // A row clicked with the mouse, or reached with the keyboard.
    void itemClicked(int row);
    void itemDoubleClicked(int row);
    void deleteKeyPressed();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void showSortState();

    TaskListModel* m_model;
    QList<double> m_twips;
    bool m_settingWidth = false;
};
