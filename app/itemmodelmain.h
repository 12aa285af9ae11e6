// The device and database tree: a "Devices" root with every connected phone
// and saved device copy, a "Local Databases" root with every local database,
// and below each of those its chats, newest first. Each device or database
// node shares the ChatDbView of its database; each chat node points at a
// chat of that view's index.
#pragma once

#include "app/abstreeitemmodel.h"
#include "chatstore/chatdbview.h"
#include "device/iosdeviceinfo.h"

#include <QHash>
#include <QPixmap>

// The kinds of node the tree holds (the `kind` of every _ItemNode).
enum TreeNodeKind {
    kNodeRootDevice = 1,
    kNodeRootLocalDb = 2,
    kNodeIPhone = 3,
    kNodeLocalDb = 4,
    kNodeChat = 5,
};

struct _RootDeviceItemNode : AbsTreeItemModel::_ItemNode {
    explicit _RootDeviceItemNode(const QString& text) : _ItemNode(kNodeRootDevice, text) {}
};

// A node that stands for one chat database.
struct _AbsDBItemNode : AbsTreeItemModel::_ItemNode {
    _AbsDBItemNode(int kind, const QString& text, PChatDbView view) : _ItemNode(kind, text), view(std::move(view)) {}
    PChatDbView view;
};

struct _IOSDeviceItemNode : _AbsDBItemNode {
    _IOSDeviceItemNode(const QString& text, PChatDbView view, PIOSDeviceInfo device, bool offlineCopy)
        : _AbsDBItemNode(kNodeIPhone, text, std::move(view)), device(std::move(device)), offlineCopy(offlineCopy)
    {
    }
    PIOSDeviceInfo device;
    bool offlineCopy;  // a saved device copy rather than a connected phone
};

struct _LocalDbItemNode : _AbsDBItemNode {
    _LocalDbItemNode(const QString& text, PChatDbView view) : _AbsDBItemNode(kNodeLocalDb, text, std::move(view)) {}
};

struct _ChatSessionItemNode : AbsTreeItemModel::_ItemNode {
    explicit _ChatSessionItemNode(PChatSession session);
    // The chat; its record lives in the index of the parent's ChatDbView
    // (held here too, so the node never points at a released record).
    PChatSession session;
    // The chat's picture at tree size, made on first paint.
    mutable QPixmap decoration;
    mutable bool decorationMade = false;
};

class ItemModelMain : public AbsTreeItemModel {
    Q_OBJECT
public:
    explicit ItemModelMain(QObject* parent = nullptr);

    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    _IOSDeviceItemNode* addDevice(PAbsWhatsAppDb db, PIOSDeviceInfo device, bool offlineCopy);
    _LocalDbItemNode* addLocalDatabase(const QString& name, PAbsWhatsAppDb db);
    // Makes view the node's view and appends one chat node per chat of its
    // index, the chat with the latest last-message date first.
    void fillChats(_AbsDBItemNode* node, PChatDbView view);
    // iPhone nodes directly under the Devices root (saved copies included).
    int countIPhones() const;

    _RootDeviceItemNode* devicesRoot() const { return m_devices; }
    _ItemNode* localDatabasesRoot() const { return m_localDbs; }

    // The database node a node belongs to: the node itself for a device or
    // database node, the parent for a chat node, null for a root or null.
    static _AbsDBItemNode* databaseNodeOf(_ItemNode* node);

    // The tree's size of a node icon: width 18, fast scaling; empty when the
    // file does not load.
    static QPixmap treeIcon(const QString& path);

private:
    _RootDeviceItemNode* m_devices;
    _ItemNode* m_localDbs;
};
