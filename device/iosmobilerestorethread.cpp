#include "device/iosmobilerestorethread.h"

#include "base/apperror.h"
#include "base/fileutil.h"
#include "device/iosmobilebackupthread.h"

#include <QCoreApplication>

namespace {

QString tr(const char* text) { return QCoreApplication::translate("IOSMobileRestoreThread", text); }

}  // namespace

IOSMobileRestoreThread::IOSMobileRestoreThread(PIOSDeviceInfo device, const QString& backupRoot, bool conditional,
                                               QObject* parent)
    : QObject(parent),
      m_device(std::move(device)),
      m_backupRoot(backupRoot),
      m_driver(std::make_unique<backup2tool>(m_device->udid, backupRoot)),
      m_conditional(conditional)
{
}

IOSMobileRestoreThread::~IOSMobileRestoreThread() = default;

QString IOSMobileRestoreThread::deviceFolder() const { return m_backupRoot + QLatin1Char('/') + m_device->udid; }

void IOSMobileRestoreThread::backupUpdate(double pg, QString status1, QString status2)
{
    if (m_monitor)
        m_monitor->postProgress(status1, pg > 0 ? qBound(0, int(pg), 100) : -1, status2);
}

Backup2Options IOSMobileRestoreThread::options() const
{
    Backup2Options o;
    o.op = 1;
    o.conditional = m_conditional;
    o.systemFiles = m_systemFiles;
    o.shouldReboot = true;
    o.dontCopyBackup = true;
    o.preserveSettings = true;
    o.removeItemsNotRestored = false;
    o.password = m_password;
    return o;
}

QString IOSMobileRestoreThread::failureText(const QString& error)
{
    return error + tr("<br/><br/>Tip: You can follow this ") + deviceTutorialLink() + tr(" to try.");
}

void IOSMobileRestoreThread::run(JobMonitor& monitor)
{
    m_monitor = &monitor;
    runGuarded(monitor, [&]() -> QString {
        monitor.postProgress(tr("Transferring data to Device..."), 0, QString());
        if (!isPlainUdid(m_device->udid))
            throw AppError(QStringLiteral("Invalid device id \"%1\".").arg(m_device->udid));
        QObject::connect(m_driver.get(), &backup2tool::update, this, &IOSMobileRestoreThread::backupUpdate,
                         Qt::DirectConnection);
        m_driver->setManifestSubstitute(m_manifestSubstitute);
        try {
            runBackup2Driver(*m_driver, monitor, options());
        } catch (const JobCancelled&) {
            throw;
        } catch (const std::exception& e) {
            const QString text = QString::fromUtf8(e.what());
            if (text.contains(QLatin1String("MBErrorDomain/205"), Qt::CaseInsensitive))
                removeFolderTree(deviceFolder());
            throw AppError(failureText(text));
        }
        return QString();
    });
    m_monitor = nullptr;
}
