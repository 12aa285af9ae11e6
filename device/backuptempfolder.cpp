#include "device/backuptempfolder.h"

#include "base/datafolder.h"
#include "base/fileutil.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <limits>

namespace {

const QString kFolderName = QStringLiteral("__quillometry_iosbk_temp");

QString memoryFile(const BackupTempContext& c) { return c.dataFolder + QLatin1Char('/') + backupTempMemoryFileName(); }

QString folderFor(const QString& root, const QString& suffix)
{
    QString base = root;
    while (base.size() > 1 && base.endsWith(QLatin1Char('/')))
        base.chop(1);
    QString folder = (base == QLatin1String("/") ? QString() : base) + QLatin1Char('/') + kFolderName;
    if (!suffix.isEmpty())
        folder += QLatin1Char('/') + suffix;
    return folder;
}

// The remembered root, or empty when the file is missing or holds no
// absolute path.
QString rememberedRoot(const BackupTempContext& c)
{
    QFile f(memoryFile(c));
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    const QString text = QString::fromUtf8(f.read(64 * 1024));
    if (text.isEmpty() || text.contains(QLatin1Char('\n')) || text.contains(QChar(0)) || !text.startsWith(QLatin1Char('/'))
        || !QDir::isAbsolutePath(text))
        return QString();
    return QDir::cleanPath(text);
}

bool isSystemRoot(const QString& root)
{
    const QString clean = QDir::cleanPath(root);
    return clean == QLatin1String("/") || clean == QLatin1String("/boot") || clean.startsWith(QLatin1String("/boot/"));
}

QString bestCandidate(const BackupTempContext& c)
{
    const auto space = [&c](const QString& folder) { return c.freeSpace ? c.freeSpace(folder) : freeDiskSpace(folder); };
    QString best = c.dataFolder;
    quint64 bestSpace = 0;
    bool chosen = false;
    QSet<QByteArray> devices;
    const platform::VolumeInfo own = platform::volumeOf(c.dataFolder);
    if (!own.device.isEmpty())
        devices.insert(own.device);
    if (isFolderWritable(c.dataFolder)) {
        bestSpace = space(c.dataFolder);
        chosen = true;
    }
    for (const platform::VolumeInfo& v : c.volumes) {
        if (!v.valid || !v.ready || v.readOnly || v.rootPath.isEmpty() || isSystemRoot(v.rootPath)
            || !isFixedFileSystemType(v.fileSystemType))
            continue;
        if (!v.device.isEmpty() && devices.contains(v.device))
            continue;
        const QFileInfo info(v.rootPath);
        if (!info.isDir() || info.isSymLink() || !platform::ownedByCurrentUser(v.rootPath)
            || !isFolderWritable(v.rootPath))
            continue;
        if (!v.device.isEmpty())
            devices.insert(v.device);
        const quint64 free = space(v.rootPath);
        if (!chosen || free > bestSpace) {
            best = QDir::cleanPath(v.rootPath);
            bestSpace = free;
            chosen = true;
        }
    }
    return best;
}

}  // namespace

BackupTempContext BackupTempContext::system()
{
    BackupTempContext c;
    c.dataFolder = ::dataFolder();
    c.volumes = platform::mountedVolumes();
    return c;
}

QString backupTempMemoryFileName() { return QStringLiteral("__quillometry_iosbk_temp.path"); }

QString chooseBackupTempFolder(const QString& suffix) { return chooseBackupTempFolder(BackupTempContext::system(), suffix); }

QString chooseBackupTempFolder(const BackupTempContext& c, const QString& suffix)
{
    QString root = rememberedRoot(c);
    if (root.isEmpty()) {
        root = bestCandidate(c);
        QFile f(memoryFile(c));
        if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            f.write(root.toUtf8());
    }
    return folderFor(root, suffix);
}

void removeBackupTempFolder(const QString& suffix) { removeBackupTempFolder(BackupTempContext::system(), suffix); }

void removeBackupTempFolder(const BackupTempContext& c, const QString& suffix)
{
    const QString folder = chooseBackupTempFolder(c, suffix);
    const QFileInfo info(folder);
    if (info.isDir() && !info.isSymLink()) {
        removeFolderTree(folder);
    } else {
        // A file (or link) standing where the folder or its parent should be.
        const QString top = folderFor(rememberedRoot(c), QString());
        for (const QString& path : {top, folder}) {
            const QFileInfo blocker(path);
            if (blocker.isSymLink() || (blocker.exists() && !blocker.isDir()))
                QFile::remove(path);
        }
    }
    QFile::remove(memoryFile(c));
}

QString backupTempFolderForJob(const BackupTempContext& c, const QString& suffix)
{
    const QString folder = chooseBackupTempFolder(c, suffix);
    if (isFolderWritable(folder))
        return folder;
    removeBackupTempFolder(c, suffix);
    return chooseBackupTempFolder(c, suffix);
}

bool isFolderWritable(const QString& path)
{
    if (path.isEmpty())
        return false;
    const QString test = QDir::cleanPath(QDir(path).absolutePath()) + QStringLiteral("/__test")
                         + QString::number(QDateTime::currentMSecsSinceEpoch());
    // Make the missing folders one by one, remembering which ones this test made.
    QStringList made;
    const QStringList parts = test.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QString current;
    bool ok = true;
    for (const QString& part : parts) {
        current += QLatin1Char('/') + part;
        const QFileInfo info(current);
        if (info.isDir())
            continue;
        if (info.exists() || info.isSymLink() || !QDir().mkdir(current)) {
            ok = false;
            break;
        }
        made.prepend(current);
    }
    for (const QString& folder : made)
        QDir().rmdir(folder);
    return ok;
}

quint64 freeDiskSpace(const QString& folder)
{
    const platform::VolumeInfo v = platform::volumeOf(folder);
    if (!v.valid || v.bytesAvailable < 0)
        return std::numeric_limits<quint64>::max();
    return static_cast<quint64>(v.bytesAvailable);
}

bool isFixedDrive(const QString& path)
{
    const platform::VolumeInfo v = platform::volumeOf(path);
    return v.valid && isFixedFileSystemType(v.fileSystemType);
}

bool isFixedFileSystemType(const QByteArray& type)
{
    static const QSet<QByteArray> refused{
        // memory
        "tmpfs", "ramfs", "devtmpfs", "hugetlbfs",
        // pseudo
        "proc", "sysfs", "devpts", "cgroup", "cgroup2", "securityfs", "debugfs", "tracefs", "configfs", "fusectl",
        "mqueue", "pstore", "bpf", "binfmt_misc", "autofs", "nsfs", "efivarfs", "rpc_pipefs", "nfsd", "selinuxfs",
        "squashfs", "iso9660", "udf",
        // network
        "nfs", "nfs4", "cifs", "smb3", "smbfs", "ncpfs", "9p", "afs", "ceph", "glusterfs", "fuse.sshfs", "sshfs",
        "davfs", "fuse.davfs2", "fuse.rclone", "fuse.gvfsd-fuse",
        // no POSIX permissions
        "vfat", "msdos", "fat", "exfat", "ntfs", "ntfs3", "fuseblk", "fuse.ntfs-3g", "hfsplus"};
    if (type.isEmpty())
        return false;
    return !refused.contains(type.toLower());
}
