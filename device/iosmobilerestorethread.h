// IOSMobileRestoreThread: sends a prepared backup folder (backupRoot/UDID)
// back to the phone through mobilebackup2, with the plain hook (the real
// folder). The transfer sets the password of an encrypted backup and the
// manifest substitute (a reduced Manifest.db naming only WhatsApp's
// domains) before the start. A refusal with "MBErrorDomain/205" (the phone
// missed files it asked for) deletes the device folder, which cannot be
// restored as it is; every other failure keeps it.
#pragma once

#include "base/job.h"
#include "device/backup2tool.h"
#include "device/iosdeviceinfo.h"

#include <QObject>
#include <QString>

#include <memory>

class IOSMobileRestoreThread : public QObject, public Job {
    Q_OBJECT
public:
    IOSMobileRestoreThread(PIOSDeviceInfo device, const QString& backupRoot, bool conditional,
                           QObject* parent = nullptr);
    ~IOSMobileRestoreThread() override;

    void setPassword(const QString& password) { m_password = password; }
    void setManifestSubstitute(const QString& name) { m_manifestSubstitute = name; }
    // True at construction; the transfer clears it in system mode.
    void setSystemFiles(bool on) { m_systemFiles = on; }

    void run(JobMonitor& monitor) override;

    QString deviceFolder() const;
    backup2tool& driver() { return *m_driver; }
    // The run options this job sends.
    Backup2Options options() const;

    // The user text of a failed restore with the driver's error text.
    static QString failureText(const QString& error);

public slots:
    void backupUpdate(double pg, QString status1, QString status2);

private:
    PIOSDeviceInfo m_device;
    QString m_backupRoot;
    JobMonitor* m_monitor = nullptr;
    std::unique_ptr<backup2tool> m_driver;
    QString m_password;
    QString m_manifestSubstitute;
    bool m_conditional = false;
    bool m_systemFiles = true;
};
