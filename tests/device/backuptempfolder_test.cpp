// The choice of the temporary backup folder over volume lists of the
// test's own (folders standing for mounted file systems): the memory file,
// junk in it, a remembered root that fails the write test, ties, file
// systems that are never chosen, and the write test itself.
#include "device/backuptempfolder.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class TempFolderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        context.dataFolder = dir.filePath(QStringLiteral("data"));
        QDir().mkpath(context.dataFolder);
        context.freeSpace = [this](const QString& folder) { return space.value(QDir::cleanPath(folder), 0); };
        space[context.dataFolder] = 10;
    }
    // A folder standing for a mounted file system with `free` bytes.
    QString volume(const QString& name, quint64 free, const QByteArray& type = "ext4")
    {
        const QString root = dir.filePath(name);
        QDir().mkpath(root);
        platform::VolumeInfo v;
        v.rootPath = root;
        v.device = "/dev/fake-" + name.toUtf8();
        v.fileSystemType = type;
        v.bytesAvailable = qint64(free);
        v.valid = v.ready = true;
        context.volumes.append(v);
        space[root] = free;
        return root;
    }
    QString memory() const { return context.dataFolder + QLatin1Char('/') + backupTempMemoryFileName(); }
    QByteArray memoryText() const
    {
        QFile f(memory());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    void remember(const QByteArray& text)
    {
        QFile f(memory());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
    }

    QTemporaryDir dir;
    BackupTempContext context;
    QMap<QString, quint64> space;
};

TEST_F(TempFolderTest, MostSpaceWinsAndIsRemembered)
{
    volume("small", 20);
    const QString big = volume("big", 500);
    volume("tmp", 9000, "tmpfs");
    volume("usbstick", 9000, "vfat");
    volume("share", 9000, "nfs4");
    EXPECT_EQ(chooseBackupTempFolder(context, "wa"), big + "/__quillometry_iosbk_temp/wa");
    EXPECT_EQ(memoryText(), big.toUtf8());
    EXPECT_EQ(chooseBackupTempFolder(context, QString()), big + "/__quillometry_iosbk_temp");
    // Nothing was created by the choice.
    EXPECT_FALSE(QFileInfo::exists(big + "/__quillometry_iosbk_temp"));
}

TEST_F(TempFolderTest, TheFirstOfEqualsWinsAndTheDataFolderComesFirst)
{
    const QString first = volume("first", 300);
    volume("second", 300);
    EXPECT_EQ(chooseBackupTempFolder(context, "wa"), first + "/__quillometry_iosbk_temp/wa");
    QFile::remove(memory());
    space[context.dataFolder] = 300;
    EXPECT_EQ(chooseBackupTempFolder(context, "wa"), context.dataFolder + "/__quillometry_iosbk_temp/wa");
}

TEST_F(TempFolderTest, OnlyMemoryAndPseudoFileSystemsLeaveTheDataFolder)
{
    volume("ram", 9000, "tmpfs");
    volume("ramfs", 9000, "ramfs");
    volume("proc", 9000, "proc");
    EXPECT_EQ(chooseBackupTempFolder(context, "wa"), context.dataFolder + "/__quillometry_iosbk_temp/wa");
    for (const char* type : {"tmpfs", "ramfs", "proc", "cifs", "exfat", "ntfs", "fuseblk", "vfat", ""})
        EXPECT_FALSE(isFixedFileSystemType(type)) << type;
    for (const char* type : {"ext4", "xfs", "btrfs", "overlay", "zfs"})
        EXPECT_TRUE(isFixedFileSystemType(type)) << type;
}

TEST_F(TempFolderTest, TheMemoryFileWinsAndJunkInItIsRewritten)
{
    const QString small = volume("small", 20);
    const QString big = volume("big", 500);
    remember(small.toUtf8());
    EXPECT_EQ(chooseBackupTempFolder(context, "wa"), small + "/__quillometry_iosbk_temp/wa");
    // (junk, what it is)
    for (const QByteArray& junk : {QByteArray("D:/"), QByteArray("relative/path"), QByteArray(""),
                                   QByteArray("/ok\n/two lines")}) {
        remember(junk);
        EXPECT_EQ(chooseBackupTempFolder(context, "wa"), big + "/__quillometry_iosbk_temp/wa") << junk.constData();
        EXPECT_EQ(memoryText(), big.toUtf8()) << junk.constData();
    }
}

TEST_F(TempFolderTest, AnUnwritableRememberedFolderIsRemovedAndChosenAnew)
{
    const QString small = volume("small", 20);
    const QString big = volume("big", 500);
    remember(small.toUtf8());
    // A file where the folder should be: nothing can be made inside it,
    // whoever runs the test.
    QFile blocker(small + "/__quillometry_iosbk_temp");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    EXPECT_FALSE(isFolderWritable(small + "/__quillometry_iosbk_temp/wa"));
    EXPECT_EQ(backupTempFolderForJob(context, "wa"), big + "/__quillometry_iosbk_temp/wa");
    EXPECT_FALSE(QFileInfo::exists(small + "/__quillometry_iosbk_temp"));
    EXPECT_EQ(memoryText(), big.toUtf8());

    // A writable remembered folder stays, with what it holds.
    QDir().mkpath(big + "/__quillometry_iosbk_temp/wa/UDID");
    EXPECT_EQ(backupTempFolderForJob(context, "wa"), big + "/__quillometry_iosbk_temp/wa");
    EXPECT_TRUE(QFileInfo::exists(big + "/__quillometry_iosbk_temp/wa/UDID"));

    removeBackupTempFolder(context, "wa");
    EXPECT_FALSE(QFileInfo::exists(big + "/__quillometry_iosbk_temp/wa"));
    EXPECT_FALSE(QFileInfo::exists(memory()));
}

TEST_F(TempFolderTest, TheWriteTestRemovesOnlyTheFoldersItMade)
{
    const QString mine = dir.filePath("users-empty-folder");
    QDir().mkpath(mine);
    EXPECT_TRUE(isFolderWritable(mine + "/new/deeper"));
    EXPECT_TRUE(QFileInfo(mine).isDir());  // an empty folder of the user stays
    EXPECT_FALSE(QFileInfo::exists(mine + "/new"));
    EXPECT_TRUE(QDir(mine).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
    EXPECT_FALSE(isFolderWritable(QString()));
    EXPECT_GT(freeDiskSpace(dir.path()), 0u);
}

}  // namespace
