#include "app/itemmodelmain.h"

#include "chatstore/displayrules.h"

#include <QCoreApplication>
#include <QSize>

#include <algorithm>

namespace {

QString iconPathOf(int kind)
{
    switch (kind) {
    case kNodeRootDevice:
        return QStringLiteral(":res/devices.png");
    case kNodeRootLocalDb:
        return QStringLiteral(":res/databases.png");
    case kNodeIPhone:
        return QStringLiteral(":res/iphone.png");
    case kNodeLocalDb:
        return QStringLiteral(":res/database.png");
    default:
        return QString();
    }
}

}  // namespace

_ChatSessionItemNode::_ChatSessionItemNode(PChatSession s)
    : _ItemNode(kNodeChat, s ? sessionDisplayName(*s, true, true) : QString()), session(std::move(s))
{
}

ItemModelMain::ItemModelMain(QObject* parent) : AbsTreeItemModel(parent)
{
    m_devices = new _RootDeviceItemNode(QCoreApplication::translate("ItemModelMain", "IDS_ROOT_DEVICE"));
    m_localDbs = new _ItemNode(kNodeRootLocalDb, QCoreApplication::translate("ItemModelMain", "IDS_ROOT_LOCALDB"));
    appendTopLevel(m_devices);
    appendTopLevel(m_localDbs);
}

int ItemModelMain::columnCount(const QModelIndex&) const
{
    return 1;
}

QPixmap ItemModelMain::treeIcon(const QString& path)
{
    static QHash<QString, QPixmap> cache;
    auto it = cache.find(path);
    if (it != cache.end())
        return *it;
    QPixmap pixmap;
    if (!path.isEmpty() && pixmap.load(path))
        pixmap = pixmap.scaledToWidth(18, Qt::FastTransformation);
    cache.insert(path, pixmap);
    return pixmap;
}

QVariant ItemModelMain::data(const QModelIndex& index, int role) const
{
    _ItemNode* node = nodeOf(index);
    if (!node)
        return QVariant();
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        return node->text;
    case Qt::DecorationRole: {
        if (node->kind == kNodeChat) {
            auto* chat = static_cast<_ChatSessionItemNode*>(node);
            if (!chat->decorationMade) {
                chat->decorationMade = true;
                if (chat->session) {
                    const QImage avatar = sessionAvatar(*chat->session);
                    if (!avatar.isNull())
                        chat->decoration = QPixmap::fromImage(avatar.scaledToWidth(18, Qt::FastTransformation));
                }
            }
            return chat->decoration.isNull() ? QVariant() : QVariant(chat->decoration);
        }
        const QPixmap icon = treeIcon(iconPathOf(node->kind));
        return icon.isNull() ? QVariant() : QVariant(icon);
    }
    case Qt::SizeHintRole:
        return QSize(-1, 25);
    default:
        return QVariant();
    }
}

QVariant ItemModelMain::headerData(int, Qt::Orientation, int) const
{
    return QVariant();
}

_IOSDeviceItemNode* ItemModelMain::addDevice(PAbsWhatsAppDb db, PIOSDeviceInfo device, bool offlineCopy)
{
    const QString name = device ? device->name : QString();
    auto* node = new _IOSDeviceItemNode(name, std::make_shared<ChatDbView>(std::move(db), ChatDbView::kDefaultPageSize),
                                        std::move(device), offlineCopy);
    appendWithLayoutChange(m_devices, node);
    return node;
}

_LocalDbItemNode* ItemModelMain::addLocalDatabase(const QString& name, PAbsWhatsAppDb db)
{
    auto* node = new _LocalDbItemNode(name, std::make_shared<ChatDbView>(std::move(db), ChatDbView::kDefaultPageSize));
    appendWithLayoutChange(m_localDbs, node);
    return node;
}

void ItemModelMain::fillChats(_AbsDBItemNode* node, PChatDbView view)
{
    if (!node)
        return;
    node->view = std::move(view);
    QList<PChatSession> chats;
    if (node->view) {
        for (const auto& [pk, session] : node->view->index().sessions)
            chats.append(session);
    }
    std::stable_sort(chats.begin(), chats.end(), [](const PChatSession& a, const PChatSession& b) {
        return a->ZLASTMESSAGEDATE > b->ZLASTMESSAGEDATE;
    });
    emit layoutAboutToBeChanged();
    for (const PChatSession& session : chats)
        node->appendChild(new _ChatSessionItemNode(session));
    emit layoutChanged();
}

int ItemModelMain::countIPhones() const
{
    return int(std::count_if(m_devices->children.cbegin(), m_devices->children.cend(),
                             [](const _ItemNode* n) { return n->kind == kNodeIPhone; }));
}

_AbsDBItemNode* ItemModelMain::databaseNodeOf(_ItemNode* node)
{
    if (!node)
        return nullptr;
    if (node->kind == kNodeChat)
        node = node->parent;
    if (node && (node->kind == kNodeIPhone || node->kind == kNodeLocalDb))
        return static_cast<_AbsDBItemNode*>(node);
    return nullptr;
}
