// Writes iTunes backup folders for tests and benchmarks, through the
// program's own manifest and cipher writers: Manifest.plist and Status.plist,
// the manifest in either generation (Manifest.db with its Files table, or the
// record file Manifest.mbdb), and the stored files, plain or encrypted with
// a keybag protected by a password (a small round count keeps tests fast).
//
//   ItunesBackupBuilder b(dir, BackupLayout::ManifestDb, "pw", 10);
//   b.addFile("HomeDomain", "Library/notes.txt", "text");
//   b.commit();
//
// addWhatsApp() lays a chat database folder written by ChatDbBuilder out the
// way a phone keeps it: the database, contacts and media in the shared group
// container, the app container beside it.
#pragma once

#include "chatstore/whatsappapp.h"
#include "itunes/mbdbrecord.h"
#include "tools/fixturebuilder/chatdbbuilder.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QMap>
#include <QString>

#include <random>

enum class BackupLayout { ManifestDb, ManifestMbdb };

struct BackupIdentity {
    QString udid = QStringLiteral("00008030-001A2B3C4D5E6F70");
    QString deviceName = QStringLiteral("Anna's iPhone");
    QString productType = QStringLiteral("iPhone12,1");
    QString productVersion = QStringLiteral("15.4");
    QDateTime date = QDateTime(QDate(2021, 6, 1), QTime(12, 0), Qt::UTC);
};

// Where the WhatsApp files go in the backup.
struct WhatsAppLayout {
    bool appDomain = true;        // AppDomain-<bundle id> (Documents, Library/Preferences)
    bool groupContainer = true;   // the shared group container holds the database and the media
    const WhatsAppApp* app = &WhatsAppApp::messenger();  // or WhatsApp Business
    // Phones keep WhatsApp's databases (and their -wal/-shm) in protection
    // class 4; everything else of the app in class 3.
    int databaseClass = 4;
};

class ItunesBackupBuilder {
public:
    static const QString kAppDomain;    // "AppDomain-net.whatsapp.WhatsApp"
    static const QString kGroupDomain;  // "AppDomainGroup-group.net.whatsapp.WhatsApp.shared"

    // folder: the backup folder to create (must not hold a backup yet).
    // An empty password writes a plain backup.
    ItunesBackupBuilder(const QString& folder, BackupLayout layout, const QString& password = {}, int rounds = 10,
                        const BackupIdentity& identity = {});
    ~ItunesBackupBuilder();

    const QString& folder() const { return m_folder; }
    bool isEncrypted() const { return !m_password.isEmpty(); }

    // The folder record of relativePath and of every missing parent ("" is
    // the domain's own folder).
    void addFolder(const QString& domain, const QString& relativePath);
    // A file with these bytes; parents are added as folders. A new file's
    // record gets the protection class (its key is wrapped with that class).
    void addFile(const QString& domain, const QString& relativePath, const QByteArray& data, int protectionClass = 3);
    // A file copied (or encrypted) from a file on disk, streamed.
    void addFileFrom(const QString& domain, const QString& relativePath, const QString& sourcePath,
                     int protectionClass = 3);
    // Every file below localFolder, under relativeBase.
    void addTree(const QString& domain, const QString& relativeBase, const QString& localFolder);
    // A manifest record as given, with nothing stored (hostile or odd rows).
    void addRawRecord(const MBDBRecord& record);

    // The chat folder's database, contacts, media and profile pictures.
    void addWhatsApp(const ChatDbFolder& chat, const WhatsAppLayout& layout = {});
    // What a phone without the app still backs up: its group container
    // holding nothing but an empty folder.
    void addEmptyGroupContainer(const WhatsAppApp& app);

    // Writes the manifest, Manifest.plist and Status.plist (dated as the
    // identity says). Nothing is readable as a backup before this.
    void commit();

    // Where a stored file lies for this layout.
    QString storedPath(const QString& domain, const QString& relativePath) const;
    // Bytes of stored files written so far (after encryption).
    qint64 storedBytes() const { return m_storedBytes; }

private:
    MBDBRecord& recordFor(const QString& domain, const QString& relativePath, bool folder);
    // A file's record; a new one gets the protection class.
    MBDBRecord& fileRecordFor(const QString& domain, const QString& relativePath, int protectionClass);
    void storeFile(MBDBRecord& record, const QString& sourcePath, const QByteArray* data);
    void writeKeybag();
    QByteArray randomBytes(int n);

    QString m_folder;
    BackupLayout m_layout;
    QString m_password;
    int m_rounds;
    BackupIdentity m_identity;
    QMap<QString, MBDBRecord> m_records;  // file id -> record
    QMap<quint32, QByteArray> m_classKeys;
    QByteArray m_keybag;
    QByteArray m_passwordKey;
    quint64 m_inode = 1;
    qint64 m_storedBytes = 0;
    std::mt19937 m_rng;
    bool m_committed = false;
};
