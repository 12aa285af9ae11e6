// The job that copies WhatsApp's files out of an opened iTunes backup into a
// folder laid out like the app's own container, so that the chat store opens
// it exactly like a folder loaded from a phone:
//
//   <cache>/<bundle id>/Documents/ChatStorage.sqlite
//   <cache>/<bundle id>/Documents/Contacts.sqlite
//   <cache>/<bundle id>/Library/...          (media, profile pictures)
//
// The app is WhatsApp (net.whatsapp.WhatsApp) or WhatsApp Business
// (net.whatsapp.WhatsAppSMB); both keep the same layout.
//
// Encrypted backups are decrypted file by file on the way. The cache is the
// caller's target folder (a local database, a phone's cache) or, without
// one, "quillometry-itunes_cache/<backupId>" inside the private per-user
// temporary folder, reused by later loads of the same backup: media files
// already there (non-empty) are not copied again, the databases always are.
//
// Names come from the backup: a node whose name is empty, "." or ".." is
// skipped, every other name is percent-encoded into one plain file name, and
// nothing is ever written through a symbolic link found in the cache. Files
// appear under their real name only when complete. A cancel or an error
// removes what this job created: the app's folder (and the cache folder when
// nothing else is left in it), never the other app's folder or a target
// folder it did not create.
#pragma once

#include "base/job.h"
#include "chatstore/whatsappapp.h"

#include <QString>

#include <memory>

class BackupManifest;
class BackupNode;
class IOSWhatsAppDb;

class IOSLoadWAFromiTunesThread : public Job {
public:
    // The backup must be opened, unlocked (when encrypted) and loaded.
    IOSLoadWAFromiTunesThread(BackupManifest& backup, const QString& targetFolder,
                              const WhatsAppApp& app = WhatsAppApp::messenger());

    void run(JobMonitor& monitor) override;

    // Copies one backup node and everything below it into destinationFolder.
    // A file is copied when its stored file exists in the backup and either
    // force is set or the local file is missing or empty.
    void cacheNode(const BackupNode* node, const QString& destinationFolder, bool force);

    // The folder the job fills, and the app folder inside it.
    QString cacheFolder() const { return m_cacheFolder; }
    QString appFolder() const;
    // True when the cache is the default one (no target folder was given).
    bool usesDefaultCache() const { return m_defaultCache; }

    // "<private temp folder>/quillometry-itunes_cache/<backupId>".
    static QString defaultCacheFolder(const QString& backupId);

    // Files copied and files left as cached by the last run.
    int copiedFiles() const { return m_copied; }
    int keptFiles() const { return m_kept; }

    static QString noWhatsAppDataText(const WhatsAppApp& app = WhatsAppApp::messenger());
    const WhatsAppApp& app() const { return m_app; }

    // The apps a backup holds: the app domain must be there and a chat
    // database in it or in its group container (a phone without WhatsApp
    // Business still lists an empty Business group container).
    static QList<const WhatsAppApp*> appsInBackup(const BackupManifest& backup);

    // The chat database of a loaded app folder (<cache>/<bundle id>),
    // opened like a phone's: never created, never upgraded.
    static std::shared_ptr<IOSWhatsAppDb> openLoadedDb(const QString& appFolder);
    // The local database the loaded messages are saved into: the name of the
    // target local database folder, or the device name followed by "_Backup"
    // ("_Business_Backup" for WhatsApp Business).
    static QString proposedDatabaseName(const BackupManifest& backup, const QString& targetFolder,
                                        const WhatsAppApp& app = WhatsAppApp::messenger());

private:
    void cleanUp();

    BackupManifest& m_backup;
    const WhatsAppApp& m_app;
    JobMonitor* m_monitor = nullptr;
    QString m_cacheFolder;
    bool m_defaultCache = false;
    bool m_dbLayout = false;
    bool m_createdTarget = false;
    bool m_createdAppFolder = false;
    int m_copied = 0;
    int m_kept = 0;
};
