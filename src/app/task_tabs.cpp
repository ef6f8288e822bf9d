#include "task_tabs.h"

#include <QTabBar>

TaskTabs::TaskTabs(QWidget* parent) : QFrame(parent), m_bar(new QTabBar(this))
{
    setObjectName(QStringLiteral("TabControl1"));
    setFrameShape(QFrame::StyledPanel);
    m_bar->setObjectName(QStringLiteral("TabControl1Tabs"));
    m_bar->setDrawBase(false);
    m_bar->setExpanding(false);
    m_bar->addTab(QStringLiteral("Active Tasks"));
    m_bar->addTab(QStringLiteral("Deleted Tasks"));
    m_bar->move(4, 2);
    connect(m_bar, &QTabBar::currentChanged, this, [this](int index) {
        showCurrentPage();
        emit currentChanged(index);
    });
}

int TaskTabs::currentIndex() const
{
    return m_bar->currentIndex();
}

void TaskTabs::setCurrentIndex(int index)
{
    m_bar->setCurrentIndex(index);
}

void TaskTabs::setPage(int index, QWidget* page)
{
    m_pages[index] = page;
    page->setParent(this);
    showCurrentPage();
}

void TaskTabs::resizeEvent(QResizeEvent* event)
{
    QFrame::resizeEvent(event);
    m_bar->resize(width() - 8, m_bar->sizeHint().height());
}

void TaskTabs::showCurrentPage()
{
    for (int i = 0; i < 2; ++i)
        if (m_pages[i])
            m_pages[i]->setVisible(i == currentIndex());
}
