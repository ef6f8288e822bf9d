#pragma once

#include "category_tree_codec.h"
#include "task_list_model.h"

#include <QList>
#include <deque>
#include <variant>

class TaskListView;

// What the Delete key and "Delete Selected Category (or Sub)" took away during this run, so that
// Ctrl+Z can put it back, newest first. Nothing of it is stored.
class RemovalHistory
{
public:
    // The oldest removals are forgotten beyond this many.
    static constexpr int kDepth = 100;

    // A row the Delete key took out of a list on screen.
    struct Row
    {
        TaskListView* list = nullptr;
        int position = 0;
        TaskRow row;
    };
    // A category with everything under it, in node order: the branch's root comes first and
    // every node after its parent.
    struct Branch
    {
        struct Node
        {
            CategoryTreeCodec::Node node;
            bool expanded = false;
        };
        QList<Node> nodes;
    };
    using Removal = std::variant<Row, Branch>;

    bool isEmpty() const { return m_removals.empty(); }
    int size() const { return int(m_removals.size()); }
    void push(Removal removal);
    const Removal& newest() const { return m_removals.back(); }
    void dropNewest() { m_removals.pop_back(); }
    // The lists on screen were read anew: the positions of the rows removed from them no longer
    // mean anything.
    void forgetRows();

private:
    std::deque<Removal> m_removals;
};
