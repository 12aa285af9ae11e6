#include "itunes/iosmergewafiles2itunesbkthread.h"

#include "base/apperror.h"
#include "chatstore/sqlite3db.h"
#include "itunes/backupmanifest.h"
#include "itunes/backupwritetransaction.h"
#include "itunes/mbdbparser.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QtDebug>

namespace {

const QStringList kCompanionSuffixes{QStringLiteral("-wal"), QStringLiteral("-shm")};

bool exists(const QString& path)
{
    const QFileInfo fi(path);
    return fi.exists() || fi.isSymLink();
}

// The key a file is written with and what its record then says.
struct WriteKey {
    QByteArray fileKey;  // empty: plain copy
    quint32 protectionClass = 3;
    MBDBString encryptionKey;
};

class KeyFinder {
public:
    KeyFinder(const BackupManifest& backup, const MBDBParser& table) : m_backup(backup), m_table(table) {}

    // The first file of the class whose key unwraps, found once.
    const ClassKeyRecord* classKey(quint32 protectionClass)
    {
        if (!m_searched.contains(protectionClass)) {
            m_searched.insert(protectionClass);
            for (const MBDBRecord& r : m_table.table()) {
                if (r.isFolder() || r.protectionClass != protectionClass || !r.encryptionKey.hasBytes())
                    continue;
                const QByteArray key = unwrapFileKey(m_backup.keybag, r.protectionClass, r.encryptionKey.bytes().mid(4));
                if (!key.isEmpty()) {
                    m_found.insert(protectionClass, ClassKeyRecord{r.protectionClass, r.encryptionKey, key});
                    break;
                }
            }
        }
        auto it = m_found.constFind(protectionClass);
        return it == m_found.constEnd() ? nullptr : &it.value();
    }

    // A replaced file keeps its record's own key and class when that key
    // unwraps; a new file gets the class key it asks for (class 4 falls back
    // on class 3); nothing usable is the documented refusal.
    WriteKey keyFor(const MBDBRecord* record, bool wantClass4)
    {
        if (!m_backup.isEncrypted)
            return {};
        if (record && record->encryptionKey.hasBytes()) {
            const QByteArray own =
                unwrapFileKey(m_backup.keybag, record->protectionClass, record->encryptionKey.bytes().mid(4));
            if (!own.isEmpty())
                return WriteKey{own, record->protectionClass, record->encryptionKey};
        }
        const ClassKeyRecord* k = wantClass4 ? classKey(4) : nullptr;
        if (!k)
            k = classKey(3);
        if (!k)
            throw AppError("BackupManifest::firstEncryptedItem, no valid keys");
        return WriteKey{k->fileKey, k->protectionClass, k->encryptionKey};
    }

private:
    const BackupManifest& m_backup;
    const MBDBParser& m_table;
    QSet<quint32> m_searched;
    QHash<quint32, ClassKeyRecord> m_found;
};

void checkFreeSpaceThrow(const QString& folder, qint64 needed)
{
    QStorageInfo storage(folder);
    storage.refresh();
    if (!storage.isValid())
        return;
    const qint64 available = storage.bytesAvailable();
    if (available >= 0 && available < needed)
        throw AppError(QStringLiteral("Not enough free space for the iTunes Backup in %1: %2 MB needed, %3 MB free.")
                           .arg(QDir::toNativeSeparators(folder))
                           .arg((needed + (1 << 20) - 1) >> 20)
                           .arg(available >> 20));
}

// A copy of a Manifest.db (with the log beside it applied) that the new
// records are written into.
void stageManifestDbThrow(const QString& source, const QString& staged, const QList<MBDBRecord>& records,
                          const QString& password)
{
    if (!QFile::copy(source, staged))
        throw AppError(QStringLiteral("can not write %1. %2").arg(staged, QFile(source).errorString()));
    const QString wal = source + QStringLiteral("-wal");
    if (QFileInfo(wal).isFile() && !QFile::copy(wal, staged + QStringLiteral("-wal")))
        throw AppError(QStringLiteral("can not write %1-wal.").arg(staged));
    {
        Sqlite3DB db;
        db.openThrow(staged, 2);
        char* error = nullptr;
        if (sqlite3_exec(db.db, "pragma wal_checkpoint(TRUNCATE)", nullptr, nullptr, &error) != SQLITE_OK) {
            const QString text = QString::fromUtf8(error ? error : "checkpoint failed");
            sqlite3_free(error);
            throw AppError(QStringLiteral("can not read %1. %2").arg(source, text));
        }
        db.close();
    }
    MBDBParser::saveDbFileThrow(records, staged, password);
    for (const QString& suffix : kCompanionSuffixes)
        QFile::remove(staged + suffix);
}

}  // namespace

IOSMergeWAFiles2iTunesBKThread::IOSMergeWAFiles2iTunesBKThread(BackupManifest& backup, QList<BackupFileEntry> entries,
                                                               bool keepOriginals)
    : m_backup(backup), m_entries(std::move(entries)), m_keepOriginals(keepOriginals)
{
}

IOSMergeWAFiles2iTunesBKThread::~IOSMergeWAFiles2iTunesBKThread() = default;

QString IOSMergeWAFiles2iTunesBKThread::transferringText() { return QStringLiteral("Transferring files..."); }

namespace {

void removeDecryptedCopy(const QString& path)
{
    if (path.isEmpty())
        return;
    QFile::remove(path);
    for (const char* suffix : {"-wal", "-shm", "-journal"})
        QFile::remove(path + QLatin1String(suffix));
}

}  // namespace

void IOSMergeWAFiles2iTunesBKThread::finalize()
{
    if (m_transaction)
        m_transaction->finalize();
    m_transaction.reset();
    removeDecryptedCopy(m_oldDecryptedManifest);
    m_oldDecryptedManifest.clear();
}

void IOSMergeWAFiles2iTunesBKThread::revert()
{
    if (m_transaction)
        m_transaction->revert();
    m_transaction.reset();
    if (!m_oldDecryptedManifest.isEmpty()) {
        removeDecryptedCopy(m_backup.decryptedManifestPath);
        m_backup.decryptedManifestPath = m_oldDecryptedManifest;
        m_oldDecryptedManifest.clear();
    }
    // The manifest is the old one again.
    m_backup.records = MBDBParser::parseThrow(m_backup.manifestLocation());
}

void IOSMergeWAFiles2iTunesBKThread::run(JobMonitor& monitor)
{
    m_written = m_kept = m_skipped = 0;
    finalize();
    runGuarded(monitor, [&] {
        monitor.postProgress(transferringText(), 0, QString());
        const QString folder = m_backup.folder.absolutePath();
        auto tx = std::make_unique<BackupWriteTransaction>(folder);
        tx->beginThrow();
        QString newPlainManifest;
        try {
            MBDBParser table = MBDBParser::parseThrow(m_backup.manifestLocation());
            const bool dbLayout = MBDBParser::isDbLayout(folder);
            KeyFinder keys(m_backup, table);

            qint64 needed = 1 << 20;
            for (const BackupFileEntry& e : m_entries)
                needed += QFileInfo(e.localPath).size() + 16;
            for (const QString& name : {QStringLiteral("Manifest.db"), QStringLiteral("Manifest.mbdb")})
                needed += 2 * QFileInfo(QDir(folder).filePath(name)).size();
            checkFreeSpaceThrow(folder, needed);

            QTemporaryDir scratch;
            const QString emptyFile = scratch.filePath(QStringLiteral("empty"));
            {
                QFile f(emptyFile);
                if (!scratch.isValid() || !f.open(QIODevice::WriteOnly))
                    throw AppError(QStringLiteral("can not create %1. %2").arg(emptyFile, f.errorString()));
            }

            QSet<QString> staged;
            // Writes one file into the staging area and updates its record.
            auto stageFile = [&](const QString& domain, const QString& localPath, const QString& relative,
                                 bool overwrite, bool class4) {
                const QString id = MBDBParser::fileIdOf(domain, relative);
                if (staged.contains(id))
                    return;
                const QString storedFolder = dbLayout ? QDir(folder).filePath(id.left(2)) : folder;
                tx->makeFolderThrow(storedFolder);
                const QString stored = QDir(storedFolder).filePath(id);
                const MBDBRecord* record = table.find(id);
                if (record && (record->isFolder() || record->isLink()))
                    throw AppError(QStringLiteral("can not overwrite %1: the backup lists it as a folder or link.")
                                       .arg(QDir::toNativeSeparators(stored)));
                if (QFileInfo(stored).isDir())
                    throw AppError(QStringLiteral("can not overwrite %1").arg(QDir::toNativeSeparators(stored)));
                if (!overwrite && record && exists(stored)) {
                    ++m_kept;  // file and record stay as they are
                    return;
                }
                const bool hadDigest = record && record->digest.hasBytes();
                const WriteKey key = keys.keyFor(record, class4);
                const QString stagedPath = tx->stagedPathFor(stored);
                BackupManifest::encryptFileThrow(localPath, stagedPath, key.fileKey);
                tx->addReplacement(stagedPath, stored);
                qInfo("IOSMergeWAFiles2iTunesBKThread: %s ==> (%s) %s", qUtf8Printable(stored),
                      qUtf8Printable(domain), qUtf8Printable(relative));

                QString error;
                if (!table.appendFile(false, stagedPath, domain, relative, 1, nullptr, nullptr, &error))
                    throw AppError(error);
                MBDBRecord* r = table.find(id);
                r->size = QFileInfo(localPath).size();  // the plain size, 0 for an empty file
                if (m_backup.isEncrypted) {
                    r->protectionClass = quint8(key.protectionClass);
                    r->encryptionKey = key.encryptionKey;
                } else if (!record) {
                    r->protectionClass = class4 ? 4 : 3;
                }
                if (hadDigest)
                    r->digest = MBDBString::fromBytes(MBDBParser::fileSha1(stagedPath));
                staged.insert(id);
                ++m_written;
            };

            const int n = int(m_entries.size());
            QList<const BackupFileEntry*> replacedDatabases;
            for (int k = 0; k < n; ++k) {
                throwIfCancelled(monitor);
                const BackupFileEntry& e = m_entries[k];
                monitor.postProgress(QString(), JobMonitor::percentOf(k, n),
                                     QStringLiteral("File: %1").arg(QFileInfo(e.relativePath).fileName()));
                if (e.relativePath.isEmpty() || e.localPath.isEmpty() || !QFileInfo(e.localPath).isFile()) {
                    ++m_skipped;
                    continue;
                }
                if (!isPlainBackupPath(e.relativePath) || e.domain.isEmpty() || e.domain.contains(QLatin1Char('/'))) {
                    qWarning("IOSMergeWAFiles2iTunesBKThread: skipped (%s) \"%s\": not a plain relative path",
                             qUtf8Printable(e.domain), qUtf8Printable(e.relativePath));
                    ++m_skipped;
                    continue;
                }
                stageFile(e.domain, e.localPath, e.relativePath, e.overwrite, e.protectionClass4);
                if (e.overwrite && e.relativePath.endsWith(QLatin1String(".sqlite")))
                    replacedDatabases << &e;
            }
            // A log or index left beside a replaced database would be
            // replayed over it: every one the backup lists is emptied.
            for (const BackupFileEntry* e : replacedDatabases) {
                for (const QString& suffix : kCompanionSuffixes) {
                    const QString relative = e->relativePath + suffix;
                    const MBDBRecord* r = table.find(MBDBParser::fileIdOf(e->domain, relative));
                    if (r && !r->isFolder() && !r->isLink())
                        stageFile(e->domain, emptyFile, relative, true, false);
                }
            }
            throwIfCancelled(monitor);

            // The manifest, renamed in last.
            QList<MBDBRecord> records = table.records();
            MBDBParser::sortRecords(records);
            const ManifestLocation location = m_backup.manifestLocation();
            if (!dbLayout) {
                const QString target = QDir(folder).filePath(QStringLiteral("Manifest.mbdb"));
                const QString stagedManifest = tx->stagedPathFor(target);
                QFile out(stagedManifest);
                if (!out.open(QIODevice::WriteOnly))
                    throw AppError(QStringLiteral("can not create %1. %2").arg(stagedManifest, out.errorString()));
                MBDBParser::writeMbdbThrow(out, records);
                if (!out.flush())
                    throw AppError(QStringLiteral("write %1 failed. %2").arg(stagedManifest, out.errorString()));
                out.close();
                tx->addReplacement(stagedManifest, target);
            } else if (location.manifestKey.isEmpty()) {
                const QString plainDb = QDir(folder).filePath(QStringLiteral("Manifest.db"));
                const QString stagedDb = tx->stagedPathFor(plainDb);
                stageManifestDbThrow(plainDb, stagedDb, records, location.password);
                for (const QString& suffix : kCompanionSuffixes)
                    if (exists(plainDb + suffix))
                        tx->addRemoval(plainDb + suffix);
                tx->addReplacement(stagedDb, plainDb);
            } else {
                // The plain manifest is made in the private temporary folder
                // beside the current plain copy; only its encrypted form
                // goes into the backup's folder and its transaction.
                newPlainManifest = BackupManifest::newDecryptedManifestPath();
                stageManifestDbThrow(location.decryptedManifestPath, newPlainManifest, records, location.password);
                QFile::setPermissions(newPlainManifest, QFile::ReadOwner | QFile::WriteOwner);
                const QString target = QDir(folder).filePath(QStringLiteral("Manifest.db"));
                const QString stagedEncrypted = tx->stagedPathFor(target);
                BackupManifest::encryptFileThrow(newPlainManifest, stagedEncrypted, location.manifestKey);
                tx->addReplacement(stagedEncrypted, target);
            }
            throwIfCancelled(monitor);
            tx->commitThrow();
            // Committed: the backup is whole in its new state, and so is
            // the plain copy the manifest is read through.
            if (!newPlainManifest.isEmpty()) {
                m_oldDecryptedManifest = m_backup.decryptedManifestPath;
                m_backup.decryptedManifestPath = newPlainManifest;
                newPlainManifest.clear();
            }
            for (MBDBRecord& r : records)
                r.isNew = r.isModified = r.isDeleted = false;
            MBDBParser fresh;
            for (const MBDBRecord& r : records)
                fresh.insert(r);
            m_backup.records = fresh;
        } catch (...) {
            tx->abort();
            removeDecryptedCopy(newPlainManifest);
            throw;
        }
        if (m_keepOriginals) {
            m_transaction = std::move(tx);
        } else {
            tx->finalize();
            removeDecryptedCopy(m_oldDecryptedManifest);
            m_oldDecryptedManifest.clear();
        }
        monitor.postProgress(QString(), 100, QString());
        return QString();
    });
}
