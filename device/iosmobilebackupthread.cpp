#include "device/iosmobilebackupthread.h"

#include "base/apperror.h"
#include "base/fileutil.h"
#include "base/productinfo.h"
#include "chatstore/plistcftype.h"
#include "device/backuptempfolder.h"
#include "platform/osservices.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

namespace {

QString tr(const char* text) { return QCoreApplication::translate("IOSMobileBackupThread", text); }

// A property list of the backup folder, read whole (XML or binary); a none
// value when it is missing, too large or no property list.
PlistCFType readPlist(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly) || f.size() > 64 * 1024 * 1024)
        return PlistCFType();
    return PlistCFType::parse(f.readAll());
}

bool isFile(const QString& path)
{
    const QFileInfo info(path);
    return info.isFile() && !info.isSymLink();
}

}  // namespace

QString deviceTutorialLink()
{
    return QStringLiteral("<b>")
           + product::vendorLink(QStringLiteral("tutorial"), QStringLiteral("/transfer-messages-from-to-iphone-with-itunes.html"))
           + QStringLiteral("</b>");
}

void runBackup2Driver(backup2tool& driver, JobMonitor& monitor, const Backup2Options& options)
{
    CancelListener listener(monitor, [&driver] { driver.cancel(); });
    driver.runThrow(options);
}

IOSMobileBackupThread::IOSMobileBackupThread(PIOSDeviceInfo device, const QString& suffix, QObject* parent)
    : IOSMobileBackupThread(std::move(device), Root{backupTempFolderForJob(BackupTempContext::system(), suffix)}, parent)
{
}

IOSMobileBackupThread::IOSMobileBackupThread(PIOSDeviceInfo device, Root backupRoot, QObject* parent)
    : QObject(parent),
      m_device(std::move(device)),
      m_backupRoot(std::move(backupRoot.path)),
      m_hook(std::make_shared<FakeBackup2ToolHook>())
{
    m_driver = std::make_unique<backup2tool>(m_device->udid, m_backupRoot, m_hook);
}

IOSMobileBackupThread::~IOSMobileBackupThread() = default;

QString IOSMobileBackupThread::deviceFolder() const { return m_backupRoot + QLatin1Char('/') + m_device->udid; }

void IOSMobileBackupThread::backupUpdate(double pg, QString status1, QString status2)
{
    if (m_monitor)
        m_monitor->postProgress(status1, pg > 0 ? qBound(0, int(pg), 100) : -1, status2);
}

bool IOSMobileBackupThread::keepEarlierBackup(const QString& folder, const QString& productVersion)
{
    const QFileInfo info(folder);
    if (!info.exists() && !info.isSymLink())
        return false;
    bool keep = info.isDir() && !info.isSymLink() && isFile(folder + QStringLiteral("/Status.plist"))
                && isFile(folder + QStringLiteral("/Manifest.plist"))
                && (isFile(folder + QStringLiteral("/Manifest.mbdb")) || isFile(folder + QStringLiteral("/Manifest.db")));
    if (keep) {
        const PlistCFType status = readPlist(folder + QStringLiteral("/Status.plist"));
        const PlistCFType manifest = readPlist(folder + QStringLiteral("/Manifest.plist"));
        keep = status.value(QStringLiteral("SnapshotState")).toText() == QLatin1String("finished")
               && !productVersion.isEmpty()
               && manifest.value(QStringLiteral("Lockdown")).value(QStringLiteral("ProductVersion")).toText()
                      == productVersion;
    }
    if (!keep) {
        if (info.isDir() && !info.isSymLink())
            removeFolderTree(folder);
        else
            QFile::remove(folder);
    }
    return keep;
}

QString IOSMobileBackupThread::incompleteText()
{
    return tr("The iPhone ended the backup before it was complete (no finished Status.plist, Manifest.plist and "
              "Manifest.db were written). Please restart your iPhone to try again.");
}

QString IOSMobileBackupThread::failureText(const QString& error)
{
    QString e = error;
    const bool lost = e.contains(QLatin1String("Connection to device lost"), Qt::CaseInsensitive);
    if (lost || e.contains(QLatin1String("until Setup is finished"), Qt::CaseInsensitive)) {
        e = (lost ? tr("Connection to device lost. Please try the following solutions: <br/><br/>")
                  : tr("Failed to connect your iPhone. Please try the following solutions: <br/><br/>"))
            + tr("A:<br/>Step 1) Restart your iPhone.<br/>Step 2) Connect your iPhone to iTunes to backup your iPhone "
                 "on computer. <br/>Step 3) Run Quillometry software to try again. <br/><br/>")
            + tr("B:<br/>Step 1) Delete the lockdown folder from your computer.(")
            + product::vendorLink(tr("How to"), QStringLiteral("/guides/reset-lockdown-in-itunes.php"))
            + tr(") <br/>Step 2) Connect your iPhone to iTunes to backup your iPhone on computer.<br/>Step 3) Run "
                 "Quillometry software to try again. <br/>");
    }
    return e + tr("<br/><br/>Note: You can follow this ") + deviceTutorialLink() + tr(" to try.");
}

void IOSMobileBackupThread::checkCompleteThrow() const
{
    const QString folder = deviceFolder();
    const PlistCFType status = readPlist(folder + QStringLiteral("/Status.plist"));
    if (!m_hook->statusReceived()
        || status.value(QStringLiteral("SnapshotState")).toText() != QLatin1String("finished")
        || !isFile(folder + QStringLiteral("/Manifest.plist"))
        || !(isFile(folder + QStringLiteral("/Manifest.db")) || isFile(folder + QStringLiteral("/Manifest.mbdb"))))
        throw AppError(incompleteText());
}

void IOSMobileBackupThread::run(JobMonitor& monitor)
{
    m_monitor = &monitor;
    runGuarded(monitor, [&]() -> QString {
        monitor.postProgress(tr("Loading data from Device..."), 0, QString());
        if (!isPlainUdid(m_device->udid))
            throw AppError(QStringLiteral("Invalid device id \"%1\".").arg(m_device->udid));
        m_hook->setIncludedApps(m_includedApps);
        const QString folder = deviceFolder();
        const bool kept = keepEarlierBackup(folder, m_device->productVersion);
        // Phone data: the folders are private to the user.
        if (!platform::createPrivateFolder(folder))
            throw AppError(QStringLiteral("mkpath %1 failed.").arg(folder));
        QObject::connect(m_driver.get(), &backup2tool::update, this, &IOSMobileBackupThread::backupUpdate,
                         Qt::DirectConnection);
        Backup2Options options;
        options.op = 0;
        try {
            runBackup2Driver(*m_driver, monitor, options);
            checkCompleteThrow();
        } catch (const JobCancelled&) {
            m_hook->store().closeDb();
            throw;
        } catch (const std::exception& e) {
            m_hook->store().closeDb();
            removeFolderTree(folder);
            throw AppError(failureText(QString::fromUtf8(e.what())));
        }
        m_hook->store().closeDb();
        const PlistCFType full = readPlist(folder + QStringLiteral("/Status.plist")).value(QStringLiteral("IsFullBackup"));
        m_incremental = full.type() == PlistCFType::BooleanType ? !full.toBool() : kept;
        return QString();
    });
    m_monitor = nullptr;
}
