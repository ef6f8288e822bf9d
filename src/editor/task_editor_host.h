#pragma once

class TaskListView;

// What the task editor needs of the window that opens it: the list it writes into and the
// list's row-click action, which refreshes the scratch pad.
class TaskEditorHost
{
public:
    virtual ~TaskEditorHost() = default;
    virtual TaskListView* listOfSelectedTab() const = 0;
    virtual void ListView_ItemClick(TaskListView* list, int row) = 0;
};
