#pragma once

#include <QHash>
#include <QList>
#include <QTreeWidget>

// The category tree. Besides what is shown it keeps each node's unique key and the node order,
// which is the order nodes were added, not the order on screen: the stored tree depends on it.
class CategoryTree : public QTreeWidget
{
    Q_OBJECT

public:
    explicit CategoryTree(QWidget* parent = nullptr);

    // Adds a node at the end of the node order, as the last child of `parentKey` (or at the top
    // level for an empty parent key). Throws Failure for a duplicate key or an unknown parent.
    QTreeWidgetItem* addNode(const QString& parentKey, const QString& key, const QString& text);
    // The node and every node below it, in node order.
    QList<QTreeWidgetItem*> branchInOrder(QTreeWidgetItem* node) const;
    // Moves a node with its branch to `index` among its siblings, keeping the node order such
    // that the stored tree, read again, gives the same order on screen.
    void moveAmongSiblings(QTreeWidgetItem* node, int index);
    // Removes a node with its whole branch.
    void removeNode(QTreeWidgetItem* node);
    void clearNodes();

    const QList<QTreeWidgetItem*>& nodesInOrder() const { return m_order; }
    int nodeCount() const { return int(m_order.size()); }
    bool containsKey(const QString& key) const { return m_byKey.contains(key); }
    QTreeWidgetItem* nodeByKey(const QString& key) const { return m_byKey.value(key); }
    static QString keyOf(const QTreeWidgetItem* node);
    static QString parentKeyOf(const QTreeWidgetItem* node);

    // The selected node, or nullptr.
    QTreeWidgetItem* selectedNode() const;
    // Selects without running the node-click action, as the program's own selection does.
    void selectNode(QTreeWidgetItem* node);

signals:
    // The user showed a category: a click (also on the one already shown) or the keyboard.
    void nodeClick(QTreeWidgetItem* node);

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    QList<QTreeWidgetItem*> m_order;
    QHash<QString, QTreeWidgetItem*> m_byKey;
    QTreeWidgetItem* m_currentAtPress = nullptr;
    bool m_selecting = false;
};
