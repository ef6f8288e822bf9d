#pragma once

#include <QFrame>

class QTabBar;

// The "Active Tasks" / "Deleted Tasks" tab control. Its pages are the area under the tab
// strip; the two lists are placed inside it at fixed positions, one shown at a time.
class TaskTabs : public QFrame
{
    Q_OBJECT

public:
    explicit TaskTabs(QWidget* parent = nullptr);

    int currentIndex() const;
    void setCurrentIndex(int index);
    // The widget shown on each tab.
    void setPage(int index, QWidget* page);
    QTabBar* tabBar() const { return m_bar; }

signals:
    void currentChanged(int index);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void showCurrentPage();

    QTabBar* m_bar;
    QWidget* m_pages[2] = {nullptr, nullptr};
};
