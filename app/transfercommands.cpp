#include "app/transfercommands.h"

#include "app/datasourceselform.h"
#include "app/devicecommands.h"
#include "app/itemmodelmain.h"
#include "app/mainwindow.h"
#include "app/messagebox.h"
#include "app/mytreeview.h"
#include "app/progressjob.h"
#include "app/windowloadfrontend.h"
#include "base/idstext.h"
#include "base/productinfo.h"
#include "chatstore/chatdbview.h"
#include "chatstore/ioswhatsappdb.h"
#include "chatstore/loadwhatsappdbthread.h"
#include "chatstore/localdatabases.h"
#include "chatstore/wamsgsdatasource.h"
#include "device/ioscachefolders.h"
#include "device/iosdevicetransfer.h"
#include "device/pretransfercopy.h"
#include "online/systemmode.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLocale>

namespace {

QString tr(const char* text) { return QCoreApplication::translate("MainWindow", text); }

bool isConnectedPhone(const AbsTreeItemModel::_ItemNode* node)
{
    if (!node || node->kind != kNodeIPhone)
        return false;
    const auto* phone = static_cast<const _IOSDeviceItemNode*>(node);
    return !phone->offlineCopy && phone->device && isPlainUdid(phone->device->udid);
}

}  // namespace

TransferCommands::TransferCommands(MainWindow* window) : QObject(window), m_window(window) {}

QString TransferCommands::notesText()
{
    return QStringLiteral("Notes:<br/><br/>1) \"Find My iPhone\" must be disabled on iPhone. Check ")
           + product::vendorLink(QStringLiteral("detail"), QStringLiteral("/guides/how-to-disable-find-my-iphone.html"))
           + QStringLiteral(".<br/><br/>2) To transfer WhatsApp Messages to iPhone successfully, <br/>please close "
                            "WhatsApp on your iPhone first.<br/><br/><img src=\":res/kill_wa.png\">");
}

QList<_IOSDeviceItemNode*> TransferCommands::connectedPhones(const QString& exceptUdid) const
{
    QList<_IOSDeviceItemNode*> phones;
    for (AbsTreeItemModel::_ItemNode* child : m_window->treeModel()->devicesRoot()->children) {
        if (!isConnectedPhone(child))
            continue;
        auto* phone = static_cast<_IOSDeviceItemNode*>(child);
        if (exceptUdid.isEmpty() || phone->device->udid != exceptUdid)
            phones << phone;
    }
    return phones;
}

int TransferCommands::transferPhoneCount() const
{
    const _AbsDBItemNode* current = ItemModelMain::databaseNodeOf(m_window->currentNode());
    const bool savedCopy = current && current->kind == kNodeIPhone && !isConnectedPhone(current);
    return int(connectedPhones().size()) + (savedCopy ? 1 : 0);
}

_IOSDeviceItemNode* TransferCommands::currentPhone() const
{
    _AbsDBItemNode* node = ItemModelMain::databaseNodeOf(m_window->currentNode());
    return isConnectedPhone(node) ? static_cast<_IOSDeviceItemNode*>(node) : nullptr;
}

void TransferCommands::releasePhone(_IOSDeviceItemNode* node)
{
    if (!node->view)
        return;
    m_window->releaseDatabase(node->view->database());
    node->view->database()->closeDb();
}

void TransferCommands::reloadPhone(const QString& udid)
{
    _IOSDeviceItemNode* node = m_window->deviceCommands() ? m_window->deviceCommands()->nodeOf(udid) : nullptr;
    if (!node || !node->view)
        return;
    try {
        m_window->reloadChats(node);
    } catch (const std::exception& e) {
        errorBox(QString::fromUtf8(e.what()));
    }
}

void TransferCommands::transfer(CommandScope scope)
{
    if (const PAbsWAMsgsSource source = m_window->scopeSource(scope))
        transferToDevice(source, false);
}

void TransferCommands::restoreFromCache()
{
    _IOSDeviceItemNode* phone = currentPhone();
    if (!phone)
        return;
    PChatDbView view;
    try {
        LoadWhatsAppDbThread load(openAppContainerCopy(whatsAppSnapshotFolder(*phone->device)));
        if (!runProgressJob(m_window, QString(), load))
            return;
        view = load.takeResult(false);
    } catch (const std::exception& e) {
        errorBox(QString::fromUtf8(e.what()));
        return;
    }
    if (view)
        transferToDevice(std::make_shared<WAMsgsDataSource>(view, nullptr, true), true);
}

bool TransferCommands::transferToDevice(const PAbsWAMsgsSource& source, bool fromSnapshot)
{
    _IOSDeviceItemNode* target = nullptr;
    if (fromSnapshot) {
        target = currentPhone();
        if (!target)
            return false;
        m_window->clearMessages();
        m_window->treeView()->setCurrentIndex(QModelIndex());
    } else {
        const _IOSDeviceItemNode* own = currentPhone();
        QList<DataSourceSelForm::Candidate> candidates;
        for (_IOSDeviceItemNode* phone : connectedPhones(own ? own->device->udid : QString()))
            candidates.append({QStringLiteral(":res/iphone.png"), phone->device->name, phone});
        if (candidates.isEmpty())
            return false;
        target = static_cast<_IOSDeviceItemNode*>(chooseDataSource(
            m_window, idsText("MainWindow", "IDS_SEL_ONE_IOS_DEVICE", "Please select an iPhone:"), candidates));
        if (!target)
            return false;
    }
    const PIOSDeviceInfo device = target->device;
    informationBox(notesText());
    if (!m_window->deviceCommands() || m_window->deviceCommands()->nodeOf(device->udid) != target)
        return false;  // the phone left while the box was open
    releasePhone(target);

    WindowLoadFrontend frontend(m_window);
    IOSDeviceTransfer job(device, source);
    job.setSystemMode(systemMode());
    const bool done = job.run(frontend) == IOSDeviceTransfer::Outcome::Transferred;
    reloadPhone(device->udid);
    if (done)
        informationBox(IOSDeviceTransfer::successText(job.processed()));
    return done;
}

bool TransferCommands::undoLastTransfer()
{
    _IOSDeviceItemNode* phone = currentPhone();
    if (!phone)
        return false;
    const PIOSDeviceInfo device = phone->device;
    if (!findPreTransferCopy(*device).isValid()) {
        informationBox(tr("There is no copy from before a transfer to this iPhone."));
        return false;
    }
    releasePhone(phone);
    WindowLoadFrontend frontend(m_window);
    IOSDeviceTransferUndo undo(device);
    undo.setSystemMode(systemMode());
    const bool done = undo.run(frontend, [&](qint64 dropped) {
        return questionBox(tr("Write the WhatsApp databases of %1 from before the transfer of %2 back to it? The "
                              "iPhone received %3 messages since; they will be lost. Media files the transfer added "
                              "stay on the iPhone as unused files.")
                               .arg(device->name.toHtmlEscaped(),
                                    QLocale().toString(undo.copy().time, QLocale::ShortFormat))
                               .arg(dropped));
    }) == IOSDeviceTransfer::Outcome::Transferred;
    reloadPhone(device->udid);
    if (done)
        informationBox(tr("The WhatsApp databases of %1 are back as they were before the transfer. Now please "
                          "disconnect your iPhone from computer.")
                           .arg(device->name.toHtmlEscaped()));
    return done;
}
