#include "category_tree.h"

#include "failure.h"

#include <QHeaderView>
#include <QMouseEvent>
#include <QSet>
#include <algorithm>

namespace {
constexpr int kKeyRole = Qt::UserRole;
}

CategoryTree::CategoryTree(QWidget* parent) : QTreeWidget(parent)
{
    setObjectName(QStringLiteral("tvFolders"));
    setHeaderHidden(true);
    setColumnCount(1);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);

    // Whatever makes a node current shows it, so the lists on screen always belong to the
    // selected category: saving writes under the selected category's key.
    connect(this, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* current) {
        if (!m_selecting && current)
            emit nodeClick(current);
    });
    connect(this, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item) {
        if (item && item == m_currentAtPress)
            emit nodeClick(item);
    });
}

void CategoryTree::mousePressEvent(QMouseEvent* event)
{
    m_currentAtPress = currentItem();
    QTreeWidget::mousePressEvent(event);
}

QTreeWidgetItem* CategoryTree::addNode(const QString& parentKey, const QString& key,
                                       const QString& text)
{
    if (m_byKey.contains(key))
        throw Failure(QStringLiteral("Key is not unique in collection: a category with key "
                                     "\"%1\" already exists.")
                          .arg(key));
    QTreeWidgetItem* parent = nullptr;
    if (!parentKey.isEmpty()) {
        parent = m_byKey.value(parentKey);
        if (!parent)
            throw Failure(QStringLiteral("Element not found: no category has the parent key "
                                         "\"%1\" of \"%2\".")
                              .arg(parentKey, text));
    }
    auto* node = new QTreeWidgetItem(QStringList{text});
    node->setData(0, kKeyRole, key);
    m_selecting = true;
    if (parent)
        parent->addChild(node);
    else
        addTopLevelItem(node);
    m_selecting = false;
    m_order.append(node);
    m_byKey.insert(key, node);
    return node;
}

QList<QTreeWidgetItem*> CategoryTree::branchInOrder(QTreeWidgetItem* node) const
{
    QList<QTreeWidgetItem*> below{node};
    for (int i = 0; i < below.size(); ++i)
        for (int c = 0; c < below[i]->childCount(); ++c)
            below.append(below[i]->child(c));
    const QSet<QTreeWidgetItem*> inBranch(below.begin(), below.end());
    QList<QTreeWidgetItem*> branch;
    for (QTreeWidgetItem* item : m_order)
        if (inBranch.contains(item))
            branch.append(item);
    return branch;
}

void CategoryTree::moveAmongSiblings(QTreeWidgetItem* node, int index)
{
    QTreeWidgetItem* parent = node->parent();
    const int count = parent ? parent->childCount() : topLevelItemCount();
    const int at = parent ? parent->indexOfChild(node) : indexOfTopLevelItem(node);
    index = std::clamp(index, 0, count - 1);
    if (at == index)
        return;
    const QList<QTreeWidgetItem*> branch = branchInOrder(node);
    QSet<QTreeWidgetItem*> expanded;
    for (QTreeWidgetItem* item : branch)
        if (item->isExpanded())
            expanded.insert(item);
    QTreeWidgetItem* current = currentItem();
    m_selecting = true;
    if (parent) {
        parent->takeChild(at);
        parent->insertChild(index, node);
    } else {
        takeTopLevelItem(at);
        insertTopLevelItem(index, node);
    }
    for (QTreeWidgetItem* item : branch)
        item->setExpanded(expanded.contains(item));
    setCurrentItem(current);
    m_selecting = false;

    // Siblings keep their order on screen in the node order: the branch goes right before the
    // next sibling, or after everything under the parent when it is the last.
    for (QTreeWidgetItem* item : branch)
        m_order.removeOne(item);
    QTreeWidgetItem* next = parent ? parent->child(index + 1) : topLevelItem(index + 1);
    qsizetype to = m_order.size();
    if (next) {
        to = m_order.indexOf(next);
    } else if (parent) {
        const QList<QTreeWidgetItem*> under = branchInOrder(parent);
        to = m_order.indexOf(under.last()) + 1;
    }
    for (qsizetype i = 0; i < branch.size(); ++i)
        m_order.insert(to + i, branch[i]);
}

void CategoryTree::removeNode(QTreeWidgetItem* node)
{
    for (QTreeWidgetItem* item : branchInOrder(node)) {
        m_order.removeOne(item);
        m_byKey.remove(keyOf(item));
    }
    m_selecting = true;
    delete node;
    // The tree moves the current node to a neighbour; make it the visible selection too.
    if (QTreeWidgetItem* current = currentItem())
        setCurrentItem(current);
    m_selecting = false;
}

void CategoryTree::clearNodes()
{
    m_selecting = true;
    clear();
    m_selecting = false;
    m_order.clear();
    m_byKey.clear();
}

QString CategoryTree::keyOf(const QTreeWidgetItem* node)
{
    return node->data(0, kKeyRole).toString();
}

QString CategoryTree::parentKeyOf(const QTreeWidgetItem* node)
{
    return node->parent() ? keyOf(node->parent()) : QString();
}

QTreeWidgetItem* CategoryTree::selectedNode() const
{
    return currentItem();
}

void CategoryTree::selectNode(QTreeWidgetItem* node)
{
    m_selecting = true;
    setCurrentItem(node);
    m_selecting = false;
}
