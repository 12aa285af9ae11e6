// All-or-nothing writing into an iTunes backup folder. New stored files and
// the new manifest are first written beside the files they replace, under
// names carrying the transaction's token; a journal in the folder lists what
// was staged. The commit moves each replaced file aside, renames the staged
// file in, and renames the manifest last: that rename is the commit point.
// Until then the backup restores as it was; after it, as it is now.
//
// A process that dies on the way leaves the journal behind: the next open of
// the folder (BackupManifest::openThrow) finishes a commit that passed its
// commit point and undoes every other, so a backup is never a mix of old and
// new. The replaced originals can be kept until the caller finalizes (drops
// them) or reverts (puts them back), for a restore that may still fail.
//
// A lock file (an flock the system drops when its holder dies, whenever
// that is) keeps a second writer out of the folder for the whole write; the
// file is removed by whoever ends the write or recovers after a dead one.
#pragma once

#include <QString>
#include <QStringList>

#include <memory>


class BackupWriteTransaction {
public:
    explicit BackupWriteTransaction(const QString& folder);
    // Undoes whatever is not committed; a committed transaction is
    // finalized unless revert() or finalize() already ran.
    ~BackupWriteTransaction();
    BackupWriteTransaction(const BackupWriteTransaction&) = delete;
    BackupWriteTransaction& operator=(const BackupWriteTransaction&) = delete;

    // Takes the folder's write lock (throws when another writer holds it),
    // finishes or undoes an interrupted earlier transaction, and writes the
    // journal of this one. Nothing may be staged before.
    void beginThrow();

    // The name to stage a replacement of targetPath under (same folder).
    QString stagedPathFor(const QString& targetPath) const;
    // Creates a folder (and its missing parents) that staged files go into;
    // folders it creates are removed again if the transaction is undone.
    void makeFolderThrow(const QString& path);
    // stagedPath replaces targetPath at the commit (the target may be
    // missing). The manifest is added last.
    void addReplacement(const QString& stagedPath, const QString& targetPath);
    // targetPath is moved away at the commit (a manifest's stale -wal).
    void addRemoval(const QString& targetPath);

    // Renames everything in, the last replacement being the commit point.
    // On a failure before the commit point everything is undone and the
    // error thrown; a failure after it is only logged.
    void commitThrow();
    bool isCommitted() const { return m_committed; }

    // After the commit: removes the set-aside originals and the journal.
    void finalize();
    // After the commit: puts the originals back and removes what was new,
    // the folder as before the transaction. Before the commit: abort().
    void revert();
    // Before the commit: removes everything staged and created.
    void abort();

    // Finishes or undoes a transaction that a dead process left in folder.
    // Does nothing while another writer holds the lock, or without journal.
    static void recover(const QString& folder);

    // Text of the refusal when another writer holds the lock.
    static QString busyText(const QString& folder, qint64 pid);

    static const QString kJournalName;  // ".quillometry-write-journal"
    static const QString kLockName;     // ".quillometry-write.lock"

private:
    struct Op;
    void writeJournalThrow(bool commitPhase);
    void release();

    QString m_folder;
    QString m_token;
    struct FolderLock;
    std::unique_ptr<FolderLock> m_lock;
    QStringList m_createdFolders;
    struct Ops;
    std::unique_ptr<Ops> m_ops;
    bool m_begun = false;
    bool m_committed = false;
    bool m_done = false;
};
