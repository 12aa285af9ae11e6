#include "itunes/backupwritetransaction.h"

#include "base/apperror.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSaveFile>
#include <QtDebug>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

const QString BackupWriteTransaction::kJournalName = QStringLiteral(".quillometry-write-journal");
const QString BackupWriteTransaction::kLockName = QStringLiteral(".quillometry-write.lock");

namespace {

const QByteArray kMagic = "quillometry backup journal 1";

struct JournalOp {
    bool hadOriginal = false;
    QString staged;  // relative to the folder; empty for a removal
    QString target;
    QString aside;
};

struct Journal {
    QString token;
    bool commitPhase = false;
    QStringList folders;
    QList<JournalOp> ops;
};

QString rel(const QDir& dir, const QString& path) { return dir.relativeFilePath(path); }

bool exists(const QString& path)
{
    const QFileInfo fi(path);
    return fi.exists() || fi.isSymLink();
}

// One atomic rename that replaces nothing by surprise: the callers move a
// target aside before renaming into its place.
bool renamePath(const QString& from, const QString& to, QString* error = nullptr)
{
    if (::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0)
        return true;
    if (error)
        *error = QString::fromLocal8Bit(std::strerror(errno));
    return false;
}

void syncFile(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

void removePath(const QString& path)
{
    if (exists(path) && !QFile::remove(path))
        qWarning("BackupWriteTransaction: can not remove %s", qUtf8Printable(path));
}

QByteArray journalBytes(const Journal& j)
{
    QByteArray out = kMagic + '\n';
    out += "token\t" + j.token.toUtf8() + '\n';
    out += QByteArray("phase\t") + (j.commitPhase ? "commit" : "staging") + '\n';
    for (const QString& f : j.folders)
        out += "dir\t" + f.toUtf8() + '\n';
    for (const JournalOp& op : j.ops)
        out += "op\t" + QByteArray(op.hadOriginal ? "1" : "0") + '\t' + op.staged.toUtf8() + '\t'
            + op.target.toUtf8() + '\t' + op.aside.toUtf8() + '\n';
    return out;
}

// A journal's paths come from a file in a folder that outsiders may write:
// only plain relative paths are followed.
bool plainRelative(const QString& path)
{
    if (path.isEmpty() || path.startsWith(QLatin1Char('/')))
        return false;
    for (const QString& part : path.split(QLatin1Char('/')))
        if (part.isEmpty() || part == QLatin1String(".") || part == QLatin1String(".."))
            return false;
    return true;
}

bool readJournal(const QString& path, Journal& j)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QList<QByteArray> lines = f.readAll().split('\n');
    if (lines.isEmpty() || lines.first() != kMagic)
        return false;
    for (const QByteArray& line : lines.mid(1)) {
        const QList<QByteArray> parts = line.split('\t');
        const QString key = QString::fromUtf8(parts.first());
        if (key == QLatin1String("token") && parts.size() == 2) {
            j.token = QString::fromUtf8(parts[1]);
        } else if (key == QLatin1String("phase") && parts.size() == 2) {
            j.commitPhase = parts[1] == "commit";
        } else if (key == QLatin1String("dir") && parts.size() == 2) {
            const QString d = QString::fromUtf8(parts[1]);
            if (plainRelative(d))
                j.folders << d;
        } else if (key == QLatin1String("op") && parts.size() == 5) {
            JournalOp op{parts[1] == "1", QString::fromUtf8(parts[2]), QString::fromUtf8(parts[3]),
                         QString::fromUtf8(parts[4])};
            if ((!op.staged.isEmpty() && !plainRelative(op.staged)) || !plainRelative(op.target)
                || !plainRelative(op.aside))
                return false;
            j.ops << op;
        }
    }
    // The token names the staged files; it is a short hexadecimal word.
    static const QRegularExpression hex(QStringLiteral("^[0-9a-f]{8,32}$"));
    return hex.match(j.token).hasMatch();
}

// Every file of this transaction still in the folder or one level below.
void removeTokenFiles(const QDir& dir, const QString& token)
{
    const QString mark = QStringLiteral(".qw-") + token;
    const QFileInfoList top =
        dir.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& fi : top) {
        if (fi.fileName().contains(mark)) {
            removePath(fi.filePath());
        } else if (fi.isDir() && !fi.isSymLink() && fi.fileName().size() == 2) {
            const QFileInfoList inner = QDir(fi.filePath()).entryInfoList(
                {QStringLiteral("*") + mark + QStringLiteral("*")},
                QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
            for (const QFileInfo& f : inner)
                removePath(f.filePath());
        }
    }
}

void removeCreatedFolders(const QDir& dir, const QStringList& folders)
{
    for (qsizetype i = folders.size() - 1; i >= 0; --i)
        dir.rmdir(folders[i]);  // only when empty
}

// Puts the folder back as it was before the transaction: new files go,
// originals come back from their set-aside names.
void rollBack(const QDir& dir, const Journal& j)
{
    for (qsizetype i = j.ops.size() - 1; i >= 0; --i) {
        const JournalOp& op = j.ops[i];
        const QString staged = op.staged.isEmpty() ? QString() : dir.filePath(op.staged);
        const QString target = dir.filePath(op.target);
        const QString aside = dir.filePath(op.aside);
        const bool renamedIn = !staged.isEmpty() && !exists(staged) && exists(target);
        if (op.hadOriginal) {
            if (exists(aside)) {
                if (renamedIn)
                    removePath(target);
                QString error;
                if (!renamePath(aside, target, &error))
                    qWarning("BackupWriteTransaction: can not restore %s: %s", qUtf8Printable(target),
                             qUtf8Printable(error));
            }
        } else if (renamedIn) {
            removePath(target);
        }
        if (!staged.isEmpty())
            removePath(staged);
    }
    removeTokenFiles(dir, j.token);
    removeCreatedFolders(dir, j.folders);
}

void finish(const QDir& dir, const Journal& j)
{
    for (const JournalOp& op : j.ops)
        removePath(dir.filePath(op.aside));
    removeTokenFiles(dir, j.token);
}

bool committedJournal(const QDir& dir, const Journal& j)
{
    if (!j.commitPhase || j.ops.isEmpty())
        return false;
    // The last replacement (the manifest) is the commit point.
    for (qsizetype i = j.ops.size() - 1; i >= 0; --i) {
        const JournalOp& op = j.ops[i];
        if (!op.staged.isEmpty())
            return !exists(dir.filePath(op.staged)) && exists(dir.filePath(op.target));
    }
    return false;
}

void removeJournal(const QDir& dir)
{
    removePath(dir.filePath(BackupWriteTransaction::kJournalName));
    const QStringList temps = dir.entryList({BackupWriteTransaction::kJournalName + QStringLiteral(".*")},
                                            QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& t : temps)
        removePath(dir.filePath(t));
}

bool hasJournalTraces(const QDir& dir)
{
    return !dir.entryList({BackupWriteTransaction::kJournalName + QStringLiteral("*")},
                          QDir::Files | QDir::Hidden | QDir::System)
                .isEmpty();
}

// With the lock held.
void recoverLocked(const QDir& dir)
{
    if (!hasJournalTraces(dir))
        return;
    Journal j;
    if (readJournal(dir.filePath(BackupWriteTransaction::kJournalName), j)) {
        if (committedJournal(dir, j)) {
            qInfo("BackupWriteTransaction: finishing an interrupted commit in %s", qUtf8Printable(dir.path()));
            finish(dir, j);
        } else {
            qInfo("BackupWriteTransaction: undoing an interrupted write in %s", qUtf8Printable(dir.path()));
            rollBack(dir, j);
        }
    }
    removeJournal(dir);
}

}  // namespace

struct BackupWriteTransaction::Ops {
    Journal journal;
};

// The folder's write lock: an flock on the lock file, which the system drops
// when the holder dies, however it dies. The holder writes its process id
// into the file for the refusal text and removes the file (while still
// holding it) when done; a taker checks that the file it locked is still the
// one under the name, or it could hold a lock on a removed file.
struct BackupWriteTransaction::FolderLock {
    QString path;
    int fd = -1;

    ~FolderLock()
    {
        if (fd >= 0) {
            ::unlink(QFile::encodeName(path).constData());
            ::close(fd);
        }
    }

    enum class Result { Taken, Busy, Failed };

    // Without waiting. On Busy, *holder is the process id the holder wrote
    // (0 while it has not yet); on Failed, *error says why.
    Result tryTake(qint64* holder, QString* error)
    {
        const QByteArray name = QFile::encodeName(path);
        for (int attempt = 0; attempt < 100; ++attempt) {
            const int f = ::open(name.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
            if (f < 0) {
                *error = QString::fromLocal8Bit(std::strerror(errno));
                return Result::Failed;
            }
            if (::flock(f, LOCK_EX | LOCK_NB) != 0) {
                const int e = errno;
                char buf[32] = {};
                const ssize_t n = ::pread(f, buf, sizeof buf - 1, 0);
                ::close(f);
                if (e != EWOULDBLOCK && e != EINTR) {
                    *error = QString::fromLocal8Bit(std::strerror(e));
                    return Result::Failed;
                }
                *holder = n > 0 ? QByteArray(buf, int(n)).trimmed().toLongLong() : 0;
                return Result::Busy;
            }
            struct stat opened {}, named {};
            if (::fstat(f, &opened) == 0 && ::lstat(name.constData(), &named) == 0
                && opened.st_dev == named.st_dev && opened.st_ino == named.st_ino) {
                const QByteArray pid = QByteArray::number(qint64(::getpid())) + '\n';
                if (::ftruncate(f, 0) != 0 || ::pwrite(f, pid.constData(), size_t(pid.size()), 0) < 0)
                    qWarning("BackupWriteTransaction: can not write the lock file %s", name.constData());
                fd = f;
                return Result::Taken;
            }
            // The previous holder removed the file after we opened it.
            ::close(f);
        }
        *error = QStringLiteral("the lock file keeps changing");
        return Result::Failed;
    }
};

BackupWriteTransaction::BackupWriteTransaction(const QString& folder)
    : m_folder(QDir(folder).absolutePath()), m_ops(std::make_unique<Ops>())
{
    m_token = QString::number(QRandomGenerator::system()->generate64(), 16).rightJustified(16, QLatin1Char('0'));
    m_ops->journal.token = m_token;
}

BackupWriteTransaction::~BackupWriteTransaction()
{
    if (!m_begun || m_done)
        return;
    if (m_committed)
        finalize();
    else
        abort();
}

QString BackupWriteTransaction::busyText(const QString& folder, qint64 pid)
{
    return QStringLiteral("Another program (process %1) is writing into the iTunes Backup %2. Please try again "
                          "when it has finished.")
        .arg(pid)
        .arg(QDir::toNativeSeparators(folder));
}

void BackupWriteTransaction::recover(const QString& folder)
{
    const QDir dir(folder);
    // A lock file alone is what a writer killed before its first journal
    // (or after its last) leaves: taking it over and releasing it removes it.
    if (!hasJournalTraces(dir) && !exists(dir.filePath(kLockName)))
        return;
    FolderLock lock;
    lock.path = dir.filePath(kLockName);
    qint64 holder = 0;
    QString error;
    if (lock.tryTake(&holder, &error) != FolderLock::Result::Taken)
        return;  // a writer is at work; its transaction is its own
    recoverLocked(dir);
}

void BackupWriteTransaction::beginThrow()
{
    const QDir dir(m_folder);
    auto lock = std::make_unique<FolderLock>();
    lock->path = dir.filePath(kLockName);
    qint64 holder = 0;
    QString error;
    switch (lock->tryTake(&holder, &error)) {
    case FolderLock::Result::Busy:
        throw AppError(busyText(m_folder, holder));
    case FolderLock::Result::Failed:
        throw AppError(QStringLiteral("can not lock %1 for writing (%2).")
                           .arg(QDir::toNativeSeparators(m_folder), error));
    case FolderLock::Result::Taken:
        break;
    }
    m_lock = std::move(lock);
    recoverLocked(dir);
    m_begun = true;
    writeJournalThrow(false);
}

QString BackupWriteTransaction::stagedPathFor(const QString& targetPath) const
{
    return targetPath + QStringLiteral(".qw-") + m_token + QStringLiteral(".new");
}

void BackupWriteTransaction::makeFolderThrow(const QString& path)
{
    const QDir dir(m_folder);
    QStringList missing;
    QString p = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    while (!exists(p) && p.startsWith(m_folder + QLatin1Char('/'))) {
        missing.prepend(p);
        p = QFileInfo(p).path();
    }
    if (!QFileInfo(p).isDir() || QFileInfo(p).isSymLink())
        throw AppError(QStringLiteral("can not create the folder %1: %2 is not a folder.")
                           .arg(QDir::toNativeSeparators(path), QDir::toNativeSeparators(p)));
    for (const QString& m : missing) {
        // Journal first: a folder made by a process that dies is still ours.
        m_ops->journal.folders << rel(dir, m);
        writeJournalThrow(false);
        if (!QDir().mkdir(m))
            throw AppError(QStringLiteral("mkpath %1 failed.").arg(QDir::toNativeSeparators(m)));
        m_createdFolders << m;
    }
}

// The journal follows only paths inside the folder; a path outside it would
// make the whole journal unreadable to recovery.
static QString insideThrow(const QDir& dir, const QString& path)
{
    const QString relative = rel(dir, path);
    if (!plainRelative(relative))
        throw AppError(QStringLiteral("BackupWriteTransaction: %1 is not inside %2.")
                           .arg(QDir::toNativeSeparators(path), QDir::toNativeSeparators(dir.path())));
    return relative;
}

void BackupWriteTransaction::addReplacement(const QString& stagedPath, const QString& targetPath)
{
    const QDir dir(m_folder);
    insideThrow(dir, stagedPath);
    insideThrow(dir, targetPath);
    syncFile(stagedPath);
    m_ops->journal.ops << JournalOp{false, rel(dir, stagedPath), rel(dir, targetPath),
                                    rel(dir, targetPath + QStringLiteral(".qw-") + m_token + QStringLiteral(".old"))};
}

void BackupWriteTransaction::addRemoval(const QString& targetPath)
{
    const QDir dir(m_folder);
    insideThrow(dir, targetPath);
    m_ops->journal.ops << JournalOp{true, QString(), rel(dir, targetPath),
                                    rel(dir, targetPath + QStringLiteral(".qw-") + m_token + QStringLiteral(".old"))};
}

void BackupWriteTransaction::writeJournalThrow(bool commitPhase)
{
    m_ops->journal.commitPhase = commitPhase;
    QSaveFile f(QDir(m_folder).filePath(kJournalName));
    if (!f.open(QIODevice::WriteOnly) || f.write(journalBytes(m_ops->journal)) < 0 || !f.commit())
        throw AppError(QStringLiteral("can not write %1. %2").arg(f.fileName(), f.errorString()));
}

void BackupWriteTransaction::commitThrow()
{
    if (!m_begun || m_committed)
        throw AppError("BackupWriteTransaction::commitThrow, nothing to commit.");
    const QDir dir(m_folder);
    for (JournalOp& op : m_ops->journal.ops)
        op.hadOriginal = exists(dir.filePath(op.target));
    writeJournalThrow(true);
    try {
        for (const JournalOp& op : m_ops->journal.ops) {
            QString error;
            const QString target = dir.filePath(op.target);
            if (op.hadOriginal && !renamePath(target, dir.filePath(op.aside), &error))
                throw AppError(QStringLiteral("can not overwrite %1. %2").arg(target, error));
            if (!op.staged.isEmpty() && !renamePath(dir.filePath(op.staged), target, &error))
                throw AppError(QStringLiteral("can not write %1. %2").arg(target, error));
        }
    } catch (...) {
        rollBack(dir, m_ops->journal);
        removeJournal(dir);
        m_done = true;
        release();
        throw;
    }
    m_committed = true;
    syncFile(m_folder);
}

void BackupWriteTransaction::finalize()
{
    if (!m_begun || m_done)
        return;
    if (!m_committed) {
        abort();
        return;
    }
    const QDir dir(m_folder);
    finish(dir, m_ops->journal);
    removeJournal(dir);
    m_done = true;
    release();
}

void BackupWriteTransaction::revert()
{
    if (!m_begun || m_done)
        return;
    const QDir dir(m_folder);
    rollBack(dir, m_ops->journal);
    removeJournal(dir);
    m_done = true;
    release();
}

void BackupWriteTransaction::abort()
{
    if (!m_begun || m_done)
        return;
    if (m_committed)
        return;  // only revert() undoes a commit
    revert();
}

void BackupWriteTransaction::release()
{
    m_lock.reset();
}
