#include "task_list_view.h"

#include "twips.h"

#include <QHeaderView>
#include <QKeyEvent>

TaskListView::TaskListView(const QString& name, QWidget* parent)
    : QTreeView(parent), m_model(new TaskListModel(this)), m_twips(TaskListCodec::kFieldCount, 0.0)
{
    setObjectName(name);
    setModel(m_model);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true); // keeps 32767 rows cheap to lay out
    setAllColumnsShowFocus(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setTextElideMode(Qt::ElideRight);

    QHeaderView* head = header();
    head->setStretchLastSection(false);
    head->setSectionsMovable(false);
    head->setSectionsClickable(true);
    head->setMinimumSectionSize(0); // a 1-twip column is hidden until the user widens it
    head->setSectionResizeMode(QHeaderView::Interactive);

    connect(head, &QHeaderView::sectionResized, this, [this](int column, int, int pixels) {
        if (!m_settingWidth && column < m_twips.size() &&
            pixels != Twips::toPixels(m_twips[column]))
            m_twips[column] = pixels * Twips::kPerPixel;
    });
    connect(head, &QHeaderView::sectionClicked, m_model, &TaskListModel::headerClicked);
    connect(m_model, &TaskListModel::sortStateChanged, this, &TaskListView::showSortState);
    // The header flips its own indicator on a click; the model's sort state is the one truth.
    connect(head, &QHeaderView::sortIndicatorChanged, this,
            [this](int column, Qt::SortOrder order) {
                const TaskListModel::SortState& sort = m_model->sortState();
                if (column != sort.column || order != sort.order)
                    showSortState();
            });
    connect(this, &QAbstractItemView::clicked, this,
            [this](const QModelIndex& index) { emit itemClicked(index.row()); });
    connect(this, &QAbstractItemView::doubleClicked, this,
            [this](const QModelIndex& index) { emit itemDoubleClicked(index.row()); });
    showSortState();
}

void TaskListView::setColumnTwips(int column, double twips)
{
    m_twips[column] = twips;
    m_settingWidth = true;
    header()->resizeSection(column, Twips::toPixels(twips));
    m_settingWidth = false;
}

int TaskListView::selectedRow() const
{
    const QModelIndexList rows = selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void TaskListView::selectRow(int row)
{
    const QModelIndex index = m_model->index(row, 0);
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect |
                                                 QItemSelectionModel::Rows);
    scrollTo(index);
}

void TaskListView::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Delete) {
        emit deleteKeyPressed();
        return;
    }
    const int before = currentIndex().row();
    QTreeView::keyPressEvent(event);
    const int after = currentIndex().row();
    if (after != before && after >= 0 && selectedRow() == after)
        emit itemClicked(after);
}

void TaskListView::showSortState()
{
    const TaskListModel::SortState& sort = m_model->sortState();
    header()->setSortIndicatorShown(sort.sorted);
    header()->setSortIndicator(sort.column, sort.order);
}
