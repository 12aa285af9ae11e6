// The job that writes files into an iTunes backup folder: new or replaced
// stored files (encrypted when the backup is), their manifest records, and
// the manifest itself, all or nothing (BackupWriteTransaction): a cancel, an
// error or a killed process leaves the backup as it was, byte for byte, and
// after the commit the backup is whole in its new state.
//
// Per entry:
// - a file that is replaced (overwrite) is encrypted with its record's own
//   key and keeps class and key; only when that key does not unwrap are the
//   class-3 key and class 3 used. Its record gets the plain size, new times
//   and a new digest when it had one;
// - a file that exists and is not to be overwritten keeps file and record;
//   a stored file without a record is written anew;
// - every "-wal"/"-shm" record beside a replaced .sqlite file gets an empty
//   file, so that no stale log is replayed over the new database;
// - a relative path that is empty, absolute or has "." or ".." parts is
//   skipped (logged).
// An encrypted backup is refused only when a file to be written has no
// usable key.
#pragma once

#include "base/job.h"
#include "itunes/backupfileentry.h"

#include <QList>
#include <QString>

#include <memory>

class BackupManifest;
class BackupWriteTransaction;

class IOSMergeWAFiles2iTunesBKThread : public Job {
public:
    // The backup must be opened, unlocked (when encrypted) and loaded.
    // keepOriginals: the replaced files stay aside until finalize() or
    // revert(); otherwise they are removed as soon as the write committed.
    IOSMergeWAFiles2iTunesBKThread(BackupManifest& backup, QList<BackupFileEntry> entries,
                                   bool keepOriginals = false);
    ~IOSMergeWAFiles2iTunesBKThread() override;

    void run(JobMonitor& monitor) override;

    // After a successful run with keepOriginals: drop the originals, or put
    // them back (the backup as before the run).
    void finalize();
    void revert();

    // Files written (new or replaced) and entries whose stored file was kept.
    int writtenFiles() const { return m_written; }
    int keptFiles() const { return m_kept; }
    int skippedEntries() const { return m_skipped; }

    static QString transferringText();

private:
    BackupManifest& m_backup;
    QList<BackupFileEntry> m_entries;
    bool m_keepOriginals;
    std::unique_ptr<BackupWriteTransaction> m_transaction;
    // The plain copy of the encrypted manifest from before the write, kept
    // while the originals are (a revert makes it current again).
    QString m_oldDecryptedManifest;
    int m_written = 0;
    int m_kept = 0;
    int m_skipped = 0;
};
