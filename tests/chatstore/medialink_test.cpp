// Attachments on their way into a local database: a source whose media
// files are the program's own private copies (an import cache) gives the
// target second names of them where the file system allows; any other
// source is copied into files of the target's own. Either way every byte
// arrives, and a private copy later replaced the way the cache's writer
// replaces files leaves the target's file as it was.
#include "chatstore/backupmessagesthread.h"
#include "chatstore/localdatabases.h"
#include "mergetestutil.h"

#include <QDirIterator>
#include <QSaveFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace mergetest;

namespace {

struct FileId {
    dev_t device = 0;
    ino_t inode = 0;
    nlink_t links = 0;
};

FileId fileId(const QString& path)
{
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    return {st.st_dev, st.st_ino, st.st_nlink};
}

// Every regular file below `folder`, by its path relative to it.
QStringList filesBelow(const QString& folder)
{
    QStringList out;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        out << QDir(folder).relativeFilePath(it.next());
    out.sort();
    return out;
}

}  // namespace

TEST(MediaFiles, PrivateCopiesAreLinkedOtherSourcesCopied)
{
    struct Case {
        const char* name;
        bool privateCopies;
    };
    for (const Case c : {Case{"an import cache", true}, Case{"any other chat database", false}}) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const SampleChatDb sample = buildSampleChatDb(dir.filePath(QStringLiteral("source")), ChatDbLayout::Local);
        const Source source = openSource(sample.folder, true);
        source.db->setMediaFilesArePrivateCopies(c.privateCopies);
        const LocalDatabase target =
            findOrCreateLocalDatabase(QStringLiteral("Linked"), dir.filePath(QStringLiteral("ldb")));

        BackupMessagesThread job(target.db, source.all);
        RecordingMonitor monitor;
        job.run(monitor);
        ASSERT_TRUE(monitor.succeeded()) << monitor.errors().join(QLatin1Char('\n')).toStdString();

        const QString from = sample.folder.mediaFolder + QStringLiteral("/Media");
        const QString to = target.folder + QStringLiteral("/Library/Media");
        const QStringList files = filesBelow(from);
        ASSERT_GE(files.size(), 4);
        ASSERT_EQ(filesBelow(to), files);
        for (const QString& rel : files) {
            SCOPED_TRACE(rel.toStdString());
            const QString a = from + QLatin1Char('/') + rel;
            const QString b = to + QLatin1Char('/') + rel;
            EXPECT_EQ(fileBytes(b), fileBytes(a));
            const FileId ia = fileId(a);
            const FileId ib = fileId(b);
            // Both folders lie on one file system here, where links work.
            ASSERT_EQ(ia.device, ib.device);
            EXPECT_EQ(ia.inode == ib.inode, c.privateCopies);
            EXPECT_EQ(ib.links, c.privateCopies ? 2u : 1u);
        }
        // The cache's writer replaces a file under a temporary name: the
        // target keeps what it received.
        const QString rel = files.first();
        const QByteArray before = fileBytes(to + QLatin1Char('/') + rel);
        QSaveFile replace(from + QLatin1Char('/') + rel);
        ASSERT_TRUE(replace.open(QIODevice::WriteOnly));
        replace.write("replaced");
        ASSERT_TRUE(replace.commit());
        EXPECT_EQ(fileBytes(to + QLatin1Char('/') + rel), before);
        // And removing the whole cache removes nothing of the target's.
        ASSERT_TRUE(QDir(sample.folder.mediaFolder).removeRecursively());
        EXPECT_EQ(filesBelow(to), files);
    }
}

TEST(MediaFiles, ALinkInAPrivateCacheIsNeverLinkedAlong)
{
    // A symbolic link in the cache pointing at a file outside it: the reader
    // refuses paths that leave the media folder, so nothing arrives, and
    // above all no second name of the outside file.
    QTemporaryDir dir;
    ChatDbFolder f;
    const QString outside = dir.filePath(QStringLiteral("outside.jpg"));
    {
        QFile o(outside);
        ASSERT_TRUE(o.open(QIODevice::WriteOnly));
        o.write("not the chat's");
    }
    {
        ChatDbBuilder b(dir.filePath(QStringLiteral("cache")), ChatDbLayout::Local);
        const qint64 anna = b.addChat(QStringLiteral("4915550001@s.whatsapp.net"), QStringLiteral("Anna"));
        const qint64 m = b.addMessage({.chat = anna, .type = 1});
        b.addMediaItem(m, {.localPath = QStringLiteral("Media/x/IMG.jpg")});
        b.commit();
        f = b.folder();
    }
    ASSERT_TRUE(QDir().mkpath(f.mediaFolder + QStringLiteral("/Media/x")));
    ASSERT_TRUE(QFile::link(outside, f.mediaFolder + QStringLiteral("/Media/x/IMG.jpg")));

    const Source source = openSource(f, true);
    source.db->setMediaFilesArePrivateCopies(true);
    const LocalDatabase target = findOrCreateLocalDatabase(QStringLiteral("L"), dir.filePath(QStringLiteral("ldb")));
    BackupMessagesThread job(target.db, source.all);
    RecordingMonitor monitor;
    job.run(monitor);
    ASSERT_TRUE(monitor.succeeded()) << monitor.errors().join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(filesBelow(target.folder + QStringLiteral("/Library")).filter(QStringLiteral("IMG")).isEmpty());
    EXPECT_EQ(fileId(outside).links, 1u);
}
