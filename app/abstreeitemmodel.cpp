#include "app/abstreeitemmodel.h"

AbsTreeItemModel::_ItemNode::_ItemNode(int kind, const QString& text) : kind(kind), text(text) {}

AbsTreeItemModel::_ItemNode::~_ItemNode()
{
    qDeleteAll(children);
    children.clear();
}

void AbsTreeItemModel::_ItemNode::appendChild(_ItemNode* child)
{
    child->parent = this;
    children.append(child);
}

int AbsTreeItemModel::_ItemNode::rowInParent() const
{
    return parent ? int(parent->children.indexOf(const_cast<_ItemNode*>(this))) : -1;
}

AbsTreeItemModel::AbsTreeItemModel(QObject* parent) : QAbstractItemModel(parent) {}

AbsTreeItemModel::~AbsTreeItemModel()
{
    qDeleteAll(m_topLevel);
}

QModelIndex AbsTreeItemModel::index(int row, int column, const QModelIndex& parent) const
{
    const QList<_ItemNode*>& list = parent.isValid() ? nodeOf(parent)->children : m_topLevel;
    if (row < 0 || row >= list.size() || column < 0 || column >= columnCount(parent))
        return QModelIndex();
    _ItemNode* node = list.at(row);
    const QModelIndex made = createIndex(row, column, node);
    if (column == 0)
        node->cachedIndex = made;
    return made;
}

QModelIndex AbsTreeItemModel::parent(const QModelIndex& index) const
{
    _ItemNode* node = nodeOf(index);
    if (!node || !node->parent)
        return QModelIndex();
    return indexOf(node->parent);
}

int AbsTreeItemModel::rowCount(const QModelIndex& parent) const
{
    if (!parent.isValid())
        return int(m_topLevel.size());
    if (parent.column() > 0)
        return 0;
    return int(nodeOf(parent)->children.size());
}

const QList<AbsTreeItemModel::_ItemNode*>& AbsTreeItemModel::siblingsOf(const _ItemNode* node) const
{
    return node->parent ? node->parent->children : m_topLevel;
}

QModelIndex AbsTreeItemModel::indexOf(_ItemNode* node) const
{
    if (!node)
        return QModelIndex();
    const QList<_ItemNode*>& siblings = siblingsOf(node);
    const QModelIndex& cached = node->cachedIndex;
    // The cache stays valid until a sibling before the node goes away; one
    // comparison tells whether it still names this node.
    if (cached.isValid() && cached.model() == this && cached.row() < siblings.size()
        && siblings.at(cached.row()) == node)
        return cached;
    const int row = int(siblings.indexOf(node));
    if (row < 0)
        return QModelIndex();
    node->cachedIndex = createIndex(row, 0, node);
    return node->cachedIndex;
}

AbsTreeItemModel::_ItemNode* AbsTreeItemModel::nodeOf(const QModelIndex& index)
{
    return index.isValid() ? static_cast<_ItemNode*>(index.internalPointer()) : nullptr;
}

void AbsTreeItemModel::removeChildren(_ItemNode* node)
{
    if (!node || node->children.isEmpty())
        return;
    beginRemoveRows(indexOf(node), 0, int(node->children.size()) - 1);
    QList<_ItemNode*> doomed;
    doomed.swap(node->children);
    qDeleteAll(doomed);
    endRemoveRows();
}

void AbsTreeItemModel::removeNode(_ItemNode* node)
{
    if (!node)
        return;
    removeChildren(node);
    QList<_ItemNode*>& siblings = node->parent ? node->parent->children : m_topLevel;
    const int row = int(siblings.indexOf(node));
    if (row < 0)
        return;
    beginRemoveRows(node->parent ? indexOf(node->parent) : QModelIndex(), row, row);
    siblings.removeAt(row);
    delete node;
    endRemoveRows();
}

void AbsTreeItemModel::appendTopLevel(_ItemNode* node)
{
    node->parent = nullptr;
    m_topLevel.append(node);
}

void AbsTreeItemModel::appendWithLayoutChange(_ItemNode* parent, _ItemNode* child)
{
    emit layoutAboutToBeChanged();
    parent->appendChild(child);
    emit layoutChanged();
}
