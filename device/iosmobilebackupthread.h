// The device backup and restore jobs of the WhatsApp road.
//
// IOSMobileBackupThread makes a WhatsApp-only backup of a connected phone
// (FakeBackup2ToolHook keeps the included apps' files) into the temporary
// backup folder, or into a given backup root; a complete earlier backup of
// the same iOS version is kept, which makes the new one incremental. After
// any error the device folder is deleted, so the next backup starts from
// scratch. A run that the phone ended early without writing a finished
// Status.plist, Manifest.plist and Manifest.db in this run is an error,
// never a success: an older Status.plist would pass an incomplete backup
// off as current. A cancel stops the driver and is reported as a cancel;
// what it leaves is decided by the next run's reuse check.
//
// IOSMobileRestoreThread (iosmobilerestorethread.h) sends a prepared
// backup folder back to the phone.
#pragma once

#include "base/job.h"
#include "device/backup2tool.h"
#include "device/fakebackup2toolhook.h"
#include "device/iosdeviceinfo.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

class IOSMobileBackupThread : public QObject, public Job {
    Q_OBJECT
public:
    // A backup into the temporary backup folder of `suffix` ("wa").
    IOSMobileBackupThread(PIOSDeviceInfo device, const QString& suffix, QObject* parent = nullptr);
    // A backup into backupRoot/UDID (the command line's --root, tests).
    struct Root {
        QString path;
    };
    IOSMobileBackupThread(PIOSDeviceInfo device, Root backupRoot, QObject* parent = nullptr);
    ~IOSMobileBackupThread() override;

    // Bundle identifiers to keep; the caller adds "net.whatsapp.WhatsApp".
    QStringList& includedApps() { return m_includedApps; }

    void run(JobMonitor& monitor) override;

    QString backupRoot() const { return m_backupRoot; }
    QString deviceFolder() const;
    backup2tool& driver() { return *m_driver; }
    FakeBackup2ToolHook& hook() { return *m_hook; }
    // After a successful run: whether the phone sent only what changed.
    bool wasIncremental() const { return m_incremental; }

    // The reuse check: true when `folder` holds a complete backup of a
    // phone that runs `productVersion`; otherwise the folder is deleted.
    static bool keepEarlierBackup(const QString& folder, const QString& productVersion);
    // The user text of a failed backup with the driver's error text.
    static QString failureText(const QString& error);
    // The text of a run the phone ended before the backup was complete.
    static QString incompleteText();

public slots:
    void backupUpdate(double pg, QString status1, QString status2);

private:
    void checkCompleteThrow() const;

    PIOSDeviceInfo m_device;
    JobMonitor* m_monitor = nullptr;
    QString m_backupRoot;
    std::unique_ptr<backup2tool> m_driver;
    QStringList m_includedApps;
    std::shared_ptr<FakeBackup2ToolHook> m_hook;
    bool m_incremental = false;
};

// Runs the driver until it ends, with the monitor's cancel reaching it;
// throws what runThrow throws (JobCancelled after a cancel).
void runBackup2Driver(backup2tool& driver, JobMonitor& monitor, const Backup2Options& options);

// The tutorial link of the device jobs' messages (bold caption).
QString deviceTutorialLink();
