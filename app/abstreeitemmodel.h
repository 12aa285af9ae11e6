// The generic tree model behind the device and database tree (and the
// backup chooser): an ordered list of top-level nodes, each owning its
// children. Every node remembers the last index the model made for it, so
// that finding a node's index needs no search while that index is current.
#pragma once

#include <QAbstractItemModel>
#include <QList>
#include <QString>

class AbsTreeItemModel : public QAbstractItemModel {
    Q_OBJECT
public:
    // One node of the tree. Destroying a node destroys its children first.
    struct _ItemNode {
        _ItemNode(int kind, const QString& text);
        virtual ~_ItemNode();
        _ItemNode(const _ItemNode&) = delete;
        _ItemNode& operator=(const _ItemNode&) = delete;

        // Takes ownership of child and appends it.
        void appendChild(_ItemNode* child);
        // The node's position among its parent's children, or -1 without parent.
        int rowInParent() const;

        int kind;
        QString text;
        QModelIndex cachedIndex;  // row and column -1 until the model made one
        _ItemNode* parent = nullptr;
        QList<_ItemNode*> children;
    };

    explicit AbsTreeItemModel(QObject* parent = nullptr);
    ~AbsTreeItemModel() override;

    QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex& index) const override;
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;

    // The node's index: its cached index while that still names the node's
    // current row, otherwise one made from its position.
    QModelIndex indexOf(_ItemNode* node) const;
    // The node an index stands for, or null for an invalid index.
    static _ItemNode* nodeOf(const QModelIndex& index);

    // Announces the removal of all of node's children and destroys them.
    void removeChildren(_ItemNode* node);
    // Removes the node with its children from its parent (or the top level).
    void removeNode(_ItemNode* node);

    const QList<_ItemNode*>& topLevelNodes() const { return m_topLevel; }

protected:
    // Appends a top-level node (owned from then on) without any notice.
    void appendTopLevel(_ItemNode* node);
    // Appends child to parent and announces a layout change of the model.
    void appendWithLayoutChange(_ItemNode* parent, _ItemNode* child);

private:
    const QList<_ItemNode*>& siblingsOf(const _ItemNode* node) const;

    QList<_ItemNode*> m_topLevel;
};
