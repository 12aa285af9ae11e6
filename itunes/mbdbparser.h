// The manifest of an iTunes backup folder, read into one table of records
// keyed by file ID and written back in the generation it came from: the
// record file Manifest.mbdb, or the SQLite database Manifest.db whose Files
// table keeps each file's metadata as an MBFile keyed archive (optionally
// encrypted with a key derived from the password and the stored salt).
#pragma once

#include "itunes/mbdbrecord.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

class BackupManifest;
class QIODevice;
class Sqlite3DB;

// What the manifest code needs to know of a backup folder.
struct ManifestLocation {
    QString folder;
    QString password;               // accepted password, empty for plain backups
    QByteArray manifestKey;         // unwrapped key of an encrypted Manifest.db
    QString decryptedManifestPath;  // the decrypted copy when manifestKey is set
};

class MBDBParser {
public:
    // Loads the manifest of the folder (either generation).
    static MBDBParser parseThrow(const ManifestLocation& location);
    static MBDBParser parseThrow(const BackupManifest& backup);
    // Writes records back to the same manifest. Manifest.mbdb is written
    // beside and renamed over; Manifest.db is changed in one transaction and,
    // when encrypted, re-encrypted beside and renamed over.
    static void saveThrow(QList<MBDBRecord> records, const ManifestLocation& location);
    static void saveThrow(const QList<MBDBRecord>& records, const BackupManifest& backup);

    // Writes the marked records into one Manifest.db file (plain SQLite; the
    // password unlocks encrypted descriptors), in one transaction.
    static void saveDbFileThrow(const QList<MBDBRecord>& records, const QString& dbPath, const QString& password);

    // Manifest.mbdb bodies. `name` names the source in error texts.
    void readMbdbThrow(QIODevice& input, const QString& name);
    static void writeMbdbThrow(QIODevice& output, const QList<MBDBRecord>& sortedRecords);

    // One MBFile keyed archive (binary property list) for a record, and the
    // record fields read back from one. readMBFileArchive leaves domain and
    // relative path alone and returns false for bytes that are no archive.
    static QByteArray mbFileArchive(const MBDBRecord& record);
    static bool readMBFileArchive(const QByteArray& bytes, MBDBRecord& record);

    // Adds or replaces the record of a file already stored at storedPath and
    // the records of its missing parent folders. False, with `error`, when a
    // parent exists and is not a folder.
    bool appendFile(bool protectedClass4, const QString& storedPath, const QString& domain,
                    const QString& relativePath, qint64 size, const ClassKeyRecord* keyClass3,
                    const ClassKeyRecord* keyClass4, QString* error);

    // Lookup that never inserts: null when the file ID has no record.
    MBDBRecord* find(const QString& fileId);
    const MBDBRecord* find(const QString& fileId) const;
    bool contains(const QString& fileId) const { return m_records.contains(fileId); }
    // Adds or replaces the record under its own file ID; raises maxInode.
    void insert(const MBDBRecord& record);
    QList<MBDBRecord> records() const { return m_records.values(); }
    const QHash<QString, MBDBRecord>& table() const { return m_records; }
    int count() const { return int(m_records.size()); }
    qint64 maxInode() const { return m_maxInode; }

    static QString fileIdOf(const QString& domain, const QString& relativePath);
    static bool isDbLayout(const QString& folder);
    static QString backupFilePath(const QString& folder, const QString& fileId, bool createFolder, bool dbLayout);
    static QString backupFilePath(const QString& folder, const QString& fileId, bool createFolder = false);
    // SHA-1 of a file's bytes (20 bytes; empty when it cannot be read).
    static QByteArray fileSha1(const QString& path);
    // The key of encrypted file descriptors: SHA-1(password, salt), 16 bytes.
    static QByteArray descriptorKey(const QString& password, const QByteArray& salt);
    static QByteArray decryptFileDescThrow(const QByteArray& bytes, const QByteArray& key);
    static QByteArray encryptFileDescThrow(const QByteArray& bytes, const QByteArray& key);
    // Sorts by domain, then relative path (ordinal comparison of the texts).
    static void sortRecords(QList<MBDBRecord>& records);

private:
    static QByteArray readDescriptorKeyThrow(Sqlite3DB& db, const QString& password);
    void loadDbThrow(const ManifestLocation& location);
    static void saveDbThrow(const QList<MBDBRecord>& records, const ManifestLocation& location);
    void raiseMaxInode(quint64 inode);

    QHash<QString, MBDBRecord> m_records;
    qint64 m_maxInode = 0;
};

// Replaces `target` by `source` in one rename (the old file stays until the
// new one is complete). Throws AppError naming both paths.
void replaceFileThrow(const QString& source, const QString& target);
