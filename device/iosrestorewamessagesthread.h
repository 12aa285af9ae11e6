// The merge job of a transfer: the messages of a source are merged into the
// target's cached copy of ChatStorage.sqlite (a phone's cache, or the cache
// of the virtual device of an iTunes backup) in one transaction, their media
// files are copied beside it, and the job reports where the media files go
// in the target's backup: the media domain and the map from each source
// file to its relative path there. The writer of the backup takes it from
// here (itunes/iosmergewafiles2itunesbkthread.h).
//
// A cancel or an error before the commit rolls the target back (files
// already copied into its media folder stay, they are not referenced).
#pragma once

#include "base/job.h"
#include "chatstore/abswamsgssource.h"
#include "device/iosdeviceinfo.h"

#include <QMap>
#include <QString>

class IOSRestoreWAMessagesThread : public Job {
public:
    static const QString kGroupDomain;  // "AppDomainGroup-group.net.whatsapp.WhatsApp.shared"
    static const QString kAppDomain;    // "AppDomain-net.whatsapp.WhatsApp"

    // appFolder: the target's "net.whatsapp.WhatsApp" folder; empty means
    // whatsAppCacheFolder(target).
    IOSRestoreWAMessagesThread(PIOSDeviceInfo target, PAbsWAMsgsSource source, const QString& appFolder = {});

    void run(JobMonitor& monitor) override;

    // Source messages handled by the last successful run.
    qint64 processed() const { return m_processed; }
    // Message rows the target did not have before (parents included).
    qint64 added() const { return m_added; }
    QString targetDatabasePath() const { return m_targetDatabasePath; }
    QString targetSearchPath() const { return m_targetSearchPath; }
    QString mediaDomain() const { return m_mediaDomain; }
    // Absolute path of a source media file -> relative path in mediaDomain.
    const QMap<QString, QString>& mediaFiles() const { return m_mediaFiles; }

    // Media prefix and domain for a WhatsApp version ("2.18.39"; empty when
    // unknown): "Library/" in the app domain before 2.18.40, else "Message/"
    // in the shared group container.
    static void mediaLocationFor(const QString& whatsAppVersion, QString& prefix, QString& domain);
    // "SPClientVersion" of the app folder's group preferences, or empty.
    static QString whatsAppVersion(const QString& appFolder);

private:
    PIOSDeviceInfo m_target;
    PAbsWAMsgsSource m_source;
    QString m_appFolder;
    QString m_targetDatabasePath;
    QString m_targetSearchPath;
    QString m_mediaDomain;
    QMap<QString, QString> m_mediaFiles;
    qint64 m_processed = 0;
    qint64 m_added = 0;
};
