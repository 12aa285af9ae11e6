// One iTunes backup folder: its identity (Manifest.plist, Status.plist), the
// keybag and password state of an encrypted backup, the manifest loaded into
// a browsable tree, copying files out (decrypted), encrypting files in, and
// the reduced Manifest.db of a restore. Long operations run on one worker
// thread at a time; failures are thrown as AppError.
#pragma once

#include "itunes/backupnode.h"
#include "itunes/keybag.h"
#include "itunes/mbdbparser.h"

#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <functional>

class Sqlite3DB;

class BackupManifest : public QObject {
    Q_OBJECT
public:
    // Called after every chunk of a copy: total size, bytes so far, the
    // caller's argument.
    using ProgressCallback = std::function<void(qint64 total, qint64 done, const QVariant& arg)>;

    explicit BackupManifest(const QString& folderPath, QObject* parent = nullptr);
    ~BackupManifest() override;

    // Reads Manifest.plist (and the time of Status.plist).
    void openThrow();
    // Loads the manifest and builds the tree; does nothing the second time.
    void loadThrow();
    // Unlocks the keybag with the password; on success remembers it and, when
    // the manifest database is encrypted, decrypts it into
    // a private temporary file (mode 0600, removed again with this object).
    // False for a wrong password (nothing changes); throws AppError for a
    // keybag without any password-wrapped key. The key derivation asks
    // `cancelled` between its slices and throws JobCancelled when it says so.
    bool setPassword(const QString& password, const std::function<bool()>& cancelled = {});

    // Removes the plain manifest copies that processes which no longer run
    // left in the private temporary folder (a kill leaves them behind).
    // Called once at start-up; returns how many files went.
    static int removeStaleDecryptedManifests();
    // A new, unused name for a plain copy of an encrypted manifest in the
    // private temporary folder, which removeStaleDecryptedManifests()
    // recognises once this process has gone.
    static QString newDecryptedManifestPath();

    // Lowercase hex MD5 of the folder's absolute path.
    QString backupId() const;
    ManifestLocation manifestLocation() const;
    bool isDbLayout() const { return MBDBParser::isDbLayout(folder.path()); }

    // What a copy out of an encrypted backup does with a file whose key
    // does not unwrap: fail with an error naming the file (whatever reaches
    // a user or a cache must be the decrypted file), or, only where a stored
    // file moves unchanged into another backup, copy the stored bytes.
    enum class LockedFile { Fail, CopyStored };

    // Copies one stored file out to destinationPath, decrypted when the
    // backup is encrypted. The destination appears only when complete.
    void copyItemThrow(const BackupNode* node, const QString& destinationPath, const QVariant& progressArg = {},
                       const ProgressCallback& progress = {});
    void copyItem(const BackupNode* node, const QString& destinationPath, const QVariant& progressArg = {},
                  const ProgressCallback& progress = {});
    void copyRecordThrow(const MBDBRecord& record, const QString& destinationPath, const QVariant& progressArg = {},
                         const ProgressCallback& progress = {}, LockedFile locked = LockedFile::Fail);

    // AES-256-CBC, zero IV, 8192-byte chunks. The destination is written
    // under a temporary name and renamed when complete.
    static void decryptFileThrow(const QByteArray& key, const QString& sourcePath, const QString& destinationPath);
    // With an empty key a plain copy (the destination must not exist).
    static void encryptFileThrow(const QString& sourcePath, const QString& destinationPath, const QByteArray& key);

    // The first file of class 3 and of class 4 whose key unwraps; throws
    // "BackupManifest::firstEncryptedItem, no valid keys" when the records
    // end before both are found.
    void firstEncryptedItem(ClassKeyRecord& class3Record, ClassKeyRecord& class4Record);

    // Writes a copy of Manifest.db that keeps only the named domains (and
    // all system domains when asked), re-encrypted when the manifest is.
    void filteredManifestThrow(bool keepAllSystemDomains, const QStringList& keepDomains,
                               const QString& destinationPath,
                               const std::function<void(Sqlite3DB&)>& extraStep = {});

    // Every number of a version text ("12.4.1" -> 12, 4, 1).
    static QList<int> versionNumbers(const QString& text);

    // The node of a tree path ("Applications/net.whatsapp.WhatsApp"), or null.
    BackupNode* nodeAt(const QString& path) const;
    // Records of the manifest once loaded.
    MBDBParser& recordTable() { return records; }

    QString udid;
    QString deviceName;
    QDateTime date;
    QString productType;
    QString productVersion;
    QString serialNumber;
    bool isEncrypted = false;
    QByteArray backupKeyBag;
    QByteArray manifestKeyData;
    QString displayName;
    QString decryptedManifestPath;
    QByteArray manifestKey;
    QDir folder;
    BackupNode root;
    QString password;
    Keybag keybag;
    MBDBParser records;

private:
    void removeDecryptedManifest();
    bool m_recordsLoaded = false;
    QHash<QString, BackupNode*> m_nodes;  // tree path -> node
};
