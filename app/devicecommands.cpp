#include "app/devicecommands.h"

#include "app/mainwindow.h"
#include "app/loadfromitunes.h"
#include "app/messagebox.h"
#include "app/mytreeview.h"
#include "app/windowloadfrontend.h"
#include "app/progressjob.h"
#include "base/datafolder.h"
#include "base/idstext.h"
#include "base/openexternal.h"
#include "chatstore/ioswhatsappdb.h"
#include "chatstore/localdatabases.h"
#include "device/deviceconnection.h"
#include "device/ioscachefolders.h"
#include "device/iosdeviceinfo.h"
#include "device/iosloadwhatsappthread.h"

#include <QCoreApplication>
#include <QDir>
#include <QLabel>
#include <QPointer>
#include <QTimer>

namespace {

QString tr(const char* text) { return QCoreApplication::translate("MainWindow", text); }

const char* const kRestartLink = "#restart_applemobileservice";

}  // namespace

DeviceCommands::DeviceCommands(MainWindow* window, DeviceWatchSettings settings)
    : QObject(window), m_window(window), m_settings(std::move(settings))
{
}

DeviceCommands::~DeviceCommands()
{
    m_subscriber.reset();  // unsubscribed before this object stops receiving
}

QString DeviceCommands::trustText()
{
    return tr("You need to allow this computer to access data on your iPhone. Please choose <b>\"Trust\"</b> option "
              "on your iPhone screen and then click the \"Retry\" button below. <br/><br/><img "
              "src=\":res/trust_iphone.png\"/>");
}

QString DeviceCommands::detectedText(const QString& name)
{
    // The name comes from the phone: shown as text, never as markup.
    return tr("<p><nobr><b>%1 detected.</b></nobr></p>").arg(name.toHtmlEscaped())
           + tr("<p>Notes:</p><p><nobr><b>1.</b>  If your iPhone is protected with a passcode, please enter your "
                "passcode on iPhone first.</nobr></p><p><nobr><b>2.</b>  To transfer messages to your iPhone, please "
                "make sure you have installed and logined WhatsApp on your iPhone.</nobr></p>");
}

QString DeviceCommands::tipsText()
{
    return tr("<b>Failed to Detect Your Phone.</b>") + QStringLiteral("<br/><br/>")
           + tr("For iPhone, please follow these steps:<br/>1. Use your passcode to unlock iPhone.<br/>2. Connect your "
                "iPhone with another USB port.<br/>3. Exit Quillometry and then launch iTunes (Finder  if MacOS 10.15 "
                "or above) to install USB driver.")
           + QStringLiteral("<br/>")
           + tr("4. Click <a href=\"#restart_applemobileservice\">HERE</a> to restart AppleMobileService.");
}

void DeviceCommands::start()
{
    if (!m_settings.watch)
        return;
    m_subscriber = std::make_unique<MobiledeviceSubscribe>(m_settings.daemonCommand);
    connect(m_subscriber.get(), &MobiledeviceSubscribe::newDevice, this, &DeviceCommands::iosDeviceConnected);
    connect(m_subscriber.get(), &MobiledeviceSubscribe::kickDevice, this, &DeviceCommands::iosDeviceDisconnected);
    if (!m_subscriber->start())
        warningBox(tr("Failed to detect iPhone. Please launch iTunes (Finder if MacOS 10.15 or above) first and then "
                      "re-connect your iPhone. Once your iPhone is visible in iTunes (Finder if MacOS 10.15 or above), "
                      "please restart Quillometry software."));
    QTimer::singleShot(m_settings.tipsDelayMs, this, &DeviceCommands::androidUsbTips);
}

_IOSDeviceItemNode* DeviceCommands::nodeOf(const QString& udid) const
{
    for (AbsTreeItemModel::_ItemNode* child : m_window->treeModel()->devicesRoot()->children) {
        if (child->kind != kNodeIPhone)
            continue;
        auto* node = static_cast<_IOSDeviceItemNode*>(child);
        if (!node->offlineCopy && node->device && node->device->udid == udid)
            return node;
    }
    return nullptr;
}

void DeviceCommands::iosDeviceConnected(const QString& udid)
{
    if (!isPlainUdid(udid)) {
        qWarning("Ignoring a device whose UDID is no plain name: %s", qUtf8Printable(udid));
        return;
    }
    const quint64 generation = ++m_generation[udid];
    const auto stillHere = [&] { return m_generation.value(udid) == generation; };
    if (nodeOf(udid))
        return;  // one node per connected phone
    try {
        QString error;
        while (!pairDevice(udid, &error)) {
            if (!stillHere())
                return;
            const QMessageBox::StandardButton answer =
                showMessageBox(QMessageBox::Warning, trustText(), QMessageBox::Abort | QMessageBox::Retry, true);
            if (!stillHere())
                return;  // pulled out while the box was open
            if (answer != QMessageBox::Retry) {
                errorBox(error);
                return;
            }
        }
        if (!stillHere())
            return;
        PIOSDeviceInfo info = connectedDeviceInfo(udid);
        informationBox(detectedText(info->name));
        if (!stillHere() || nodeOf(udid))
            return;
        // The chats come first: without a load there is no node.
        if (!loadFromDevice(info) || !stillHere() || nodeOf(udid))
            return;
        ItemModelMain* model = m_window->treeModel();
        _IOSDeviceItemNode* node = model->addDevice(openAppContainerCopy(m_loadedAppFolder), info, false);
        m_window->reloadChats(node);
        m_window->treeView()->expand(model->indexOf(model->devicesRoot()));
        m_window->treeView()->expand(model->indexOf(node));
        QPointer<MainWindow> window(m_window);
        QMetaObject::invokeMethod(
            this,
            [this, window, udid] {
                if (!window)
                    return;
                if (_IOSDeviceItemNode* n = nodeOf(udid))
                    window->selectNode(n);
            },
            Qt::QueuedConnection);
    } catch (const std::exception& e) {
        errorBox(QString::fromUtf8(e.what()));
    }
}

bool DeviceCommands::loadFromDevice(const PIOSDeviceInfo& device)
{
    m_loadedAppFolder.clear();
    WindowLoadFrontend frontend(m_window);
    IOSDeviceLoad load(device);
    load.setChooseApp(true);
    if (load.run(frontend) != IOSDeviceLoad::Outcome::Loaded)
        return false;
    m_loadedAppFolder = load.appFolder();
    return true;
}

void DeviceCommands::iosDeviceDisconnected(const QString& udid)
{
    ++m_generation[udid];
    _IOSDeviceItemNode* node = nodeOf(udid);
    if (!node)
        return;
    const bool shown = ItemModelMain::databaseNodeOf(m_window->currentNode()) == node;
    m_window->treeModel()->removeNode(node);
    if (shown)
        m_window->clearMessages();
}

void DeviceCommands::androidUsbTips()
{
    if (!m_subscriber || m_subscriber->count() != 0)
        return;
    showMessageBox(QMessageBox::Question, tipsText(), QMessageBox::Ok, false, [this](QLabel* label) {
        label->setOpenExternalLinks(false);
        connect(label, &QLabel::linkActivated, this, &DeviceCommands::androidUsbTipsHref);
    });
}

void DeviceCommands::androidUsbTipsHref(const QString& link)
{
    if (link != QLatin1String(kRestartLink)) {
        openExternal(link);
        return;
    }
    if (!m_subscriber)
        return;
    // The restart stops only the daemon this program started, starts one
    // and subscribes again.
    if (m_subscriber->restartUsbmuxd())
        informationBox(tr("Successfully restarted! Now please reconnect your iPhone to PC.<br/><br/>Note:<br/>1. Make "
                          "sure you have unlocked your iPhone screen.<br/>2. If you get a \"Trust this computer?\" "
                          "prompt on your iPhone, please tap \"Trust\"<br/><br/><img src=\":res/trust_iphone.png\"/>"));
    else
        errorBox(tr("Failed to restart."));
}

// ---------------------------------------------------------------------------
// The cache commands of the main window. Save and view act on the current
// node only when it is a connected phone: a saved device copy has a folder
// path for its UDID, which must never become a cache folder's name.

namespace {

PIOSDeviceInfo connectedPhoneOf(AbsTreeItemModel::_ItemNode* node)
{
    if (!node || node->kind != kNodeIPhone)
        return nullptr;
    auto* phone = static_cast<_IOSDeviceItemNode*>(node);
    if (phone->offlineCopy || !phone->device || !isPlainUdid(phone->device->udid))
        return nullptr;
    return phone->device;
}

}  // namespace

void MainWindow::miSaveDeviceCache()
{
    const PIOSDeviceInfo device = connectedPhoneOf(currentNode());
    if (!device)
        return;
    try {
        saveDeviceSnapshot(*device);
    } catch (const std::exception& e) {
        errorBox(QString::fromUtf8(e.what()));
        return;
    }
    informationBox(tr("Save messages cache successfully."));
}

void MainWindow::miViewIOSCacheFiles()
{
    const PIOSDeviceInfo device = connectedPhoneOf(currentNode());
    if (!device)
        return;
    try {
        openInExplorer(iosCacheFolder(*device));
    } catch (const std::exception& e) {
        errorBox(QString::fromUtf8(e.what()));
    }
}

void MainWindow::miClearCache()
{
    for (AbsTreeItemModel::_ItemNode* child : treeModel()->devicesRoot()->children) {
        if (child->kind == kNodeIPhone && !static_cast<_IOSDeviceItemNode*>(child)->offlineCopy) {
            warningBox(clearCacheRefusedText());
            return;
        }
    }
    clearDeviceCaches();
    informationBox(idsText("MainWindow", "IDS_SUC_CLEAR_CACHE", "Successfully cleared cache files."));
}
