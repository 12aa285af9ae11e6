#include "device/iosloadwhatsappthread.h"

#include "base/apperror.h"
#include "base/idstext.h"
#include "chatstore/plistcftype.h"
#include "device/deviceconnection.h"
#include "device/ioscachefolders.h"
#include "device/iosmobilebackupthread.h"
#include "itunes/backupmanifest.h"
#include "itunes/iositunesbksetpasswordthread.h"
#include "itunes/iosloadwafromitunesthread.h"

#include <QDir>
#include <QFileInfo>
#include <QtDebug>

namespace {

constexpr char kContext[] = "IOSLoadWhatsApp";

// Removes an app folder of the cache that does not hold a complete load.
void discardAppFolder(const QString& folder)
{
    const QFileInfo info(folder);
    if (info.isSymLink())
        QFile::remove(folder);
    else if (info.isDir())
        QDir(folder).removeRecursively();
}

}  // namespace

IOSDeviceLoadFrontend::~IOSDeviceLoadFrontend() = default;

const WhatsAppApp* IOSDeviceLoadFrontend::chooseApp(const QList<const WhatsAppApp*>& apps)
{
    return apps.isEmpty() ? nullptr : apps.first();
}

void IOSLoadWhatsAppThread::run(JobMonitor& monitor)
{
    monitor.postProgress(
        idsText(kContext, "IDS_LOADING_IOS_WHATSAPP_DATA", "Loading WhatsApp Messages from iPhone..."), 99,
        QString());
    runGuarded(monitor, [] { return QString(); });
}

QString cloudBackupText()
{
    return QStringLiteral("Failed to transfer data to device. Please turn off iCloud backup on your iPhone to try "
                          "again.");
}

QString cloudBackupWarningText()
{
    return QStringLiteral("%1<br/><br/><img src=\"%2\"/>").arg(cloudBackupText(), QStringLiteral(":res/close_icloudbk.jpg"));
}

QString cantAccessWhatsAppText()
{
    return QStringLiteral("Can't access WhatsApp data on your iPhone. Please make sure you have verified WhatsApp "
                          "Messenger with your phone number on your iPhone (You need to click 'Skip' button on "
                          "iPhone to skip restoring from iCloud after verified).");
}

bool checkDeviceBackupSettings(const IOSDeviceInfo& device, QString* warning)
{
    try {
        const PlistCFType settings =
            readLockdownValue(device.udid, QStringLiteral("com.apple.mobile.backup"), QString());
        if (settings.type() != PlistCFType::DictionaryType)
            return true;
        const PlistCFType cloud = settings.value(QStringLiteral("CloudBackupEnabled"));
        if (cloud.type() == PlistCFType::BooleanType && cloud.toBool()) {
            if (warning)
                *warning = cloudBackupWarningText();
            return false;
        }
    } catch (const std::exception& e) {
        qDebug().noquote() << QStringLiteral("checkDeviceBackupSettings: %1").arg(QString::fromUtf8(e.what()));
    }
    return true;
}

IOSDeviceLoad::IOSDeviceLoad(PIOSDeviceInfo device, const WhatsAppApp& app) : m_device(std::move(device)), m_app(&app)
{
}

QString IOSDeviceLoad::appFolder() const { return QDir(iosCacheFolder(*m_device)).filePath(m_app->bundleId); }

QString IOSDeviceLoad::databasePath() const
{
    return QDir(appFolder()).filePath(QStringLiteral("Documents/ChatStorage.sqlite"));
}

IOSDeviceLoad::Outcome IOSDeviceLoad::run(IOSDeviceLoadFrontend& frontend)
{
    m_incremental = false;
    m_copied = 0;
    m_backupFolder.clear();
    // A saved device copy is no phone: only a plain UDID names a cache.
    if (!isPlainUdid(m_device->udid)) {
        frontend.showError(QStringLiteral("Invalid device id \"%1\".").arg(m_device->udid));
        return Outcome::Failed;
    }
    auto stageOutcome = [](const Job& job) { return job.wasCancelled() ? Outcome::Cancelled : Outcome::Failed; };

    IOSLoadWhatsAppThread first(m_device);
    if (!frontend.runStage(first))
        return stageOutcome(first);

    QString warning;
    if (!checkDeviceBackupSettings(*m_device, &warning)) {
        frontend.showWarning(warning);
        return Outcome::CloudBackupOn;
    }

    std::unique_ptr<IOSMobileBackupThread> backupJob =
        m_backupRoot.isEmpty()
            ? std::make_unique<IOSMobileBackupThread>(m_device, QStringLiteral("wa"))
            : std::make_unique<IOSMobileBackupThread>(m_device, IOSMobileBackupThread::Root{m_backupRoot});
    if (m_chooseApp) {
        for (const WhatsAppApp* app : WhatsAppApp::all())
            backupJob->includedApps() << app->bundleId;
    } else {
        backupJob->includedApps() = QStringList{m_app->bundleId};
    }
    if (!frontend.runStage(*backupJob))
        return stageOutcome(*backupJob);
    m_incremental = backupJob->wasIncremental();
    m_backupFolder = backupJob->deviceFolder();

    // Opening, unlocking and reading the backup: its errors are shown in
    // the error box.
    BackupManifest backup(backupJob->deviceFolder());
    try {
        backup.openThrow();
        if (backup.isEncrypted) {
            QString password = m_device->backupPassword;
            bool wrong = false;
            bool unlocked = false;
            while (!unlocked) {
                if (!password.isEmpty()) {
                    IOSiTunesBKSetPasswordThread verify(backup, password);
                    if (!frontend.runStage(verify))
                        return stageOutcome(verify);
                    if (verify.result())
                        break;
                    wrong = true;
                }
                if (!frontend.askPassword(*m_device, backup, wrong, &password, &unlocked) || password.isEmpty())
                    return Outcome::PasswordRefused;
            }
            // Kept for the later transfers to this phone while it stays connected.
            m_device->backupPassword = password;
        }
        backup.loadThrow();
    } catch (const std::exception& e) {
        frontend.showError(errorText(e));
        return Outcome::Failed;
    }
    if (m_chooseApp) {
        const QList<const WhatsAppApp*> apps = IOSLoadWAFromiTunesThread::appsInBackup(backup);
        if (apps.size() > 1) {
            m_app = frontend.chooseApp(apps);
            if (!m_app) {
                m_app = &WhatsAppApp::messenger();
                return Outcome::Cancelled;
            }
        } else if (apps.size() == 1) {
            m_app = apps.first();
        }
    }
    return copyStage(frontend, backup);
}

IOSDeviceLoad::Outcome IOSDeviceLoad::copyStage(IOSDeviceLoadFrontend& frontend, BackupManifest& backup)
{
    const QString app = appFolder();
    // A phone without the app (or without its database) has no chats: what
    // an earlier load left must not open as this phone's chats any more.
    if (!IOSLoadWAFromiTunesThread::appsInBackup(backup).contains(m_app)) {
        discardAppFolder(app);
        frontend.showError(cantAccessWhatsAppText());
        return Outcome::NoWhatsApp;
    }
    IOSLoadWAFromiTunesThread copy(backup, iosCacheFolder(*m_device), *m_app);
    if (!frontend.runStage(copy)) {
        discardAppFolder(app);
        return copy.wasCancelled() ? Outcome::Cancelled : Outcome::Failed;
    }
    m_copied = copy.copiedFiles();
    const QFileInfo db(databasePath());
    if (!db.isFile() || db.size() <= 0) {
        discardAppFolder(app);
        frontend.showError(cantAccessWhatsAppText());
        return Outcome::NoWhatsApp;
    }
    return Outcome::Loaded;
}
