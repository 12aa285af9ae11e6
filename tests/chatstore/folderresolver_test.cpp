#include "chatstore/folderresolver.h"
#include "chatstore/mediapaths.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace {

void touch(const QString& path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
}

}  // namespace

// The resolver that remembers folders answers every path exactly as the
// one-off checks do: plain files, links that stay inside or lead out (of
// files and of folders), dangling links, files not there yet, ".." steps and
// absolute paths.
TEST(FolderResolver, AnswersAsTheOneOffChecks)
{
    QTemporaryDir dir;
    const QString media = dir.filePath(QStringLiteral("Media"));
    const QString outside = dir.filePath(QStringLiteral("outside"));
    touch(media + QStringLiteral("/a/b/photo.jpg"));
    touch(media + QStringLiteral("/a/other.jpg"));
    touch(outside + QStringLiteral("/secret.txt"));
    ASSERT_TRUE(QFile::link(outside + QStringLiteral("/secret.txt"), media + QStringLiteral("/a/leak.jpg")));
    ASSERT_TRUE(QFile::link(outside, media + QStringLiteral("/a/out")));
    ASSERT_TRUE(QFile::link(media + QStringLiteral("/a/b"), media + QStringLiteral("/a/in")));
    ASSERT_TRUE(QFile::link(media + QStringLiteral("/a/other.jpg"), media + QStringLiteral("/a/b/same.jpg")));
    ASSERT_TRUE(QFile::link(dir.filePath(QStringLiteral("nowhere")), media + QStringLiteral("/a/dangling.jpg")));

    const QStringList relatives = {
        QStringLiteral("a/b/photo.jpg"),   QStringLiteral("/a/b/photo.jpg"),  QStringLiteral("a/other.jpg"),
        QStringLiteral("a/leak.jpg"),      QStringLiteral("a/out/secret.txt"), QStringLiteral("a/in/photo.jpg"),
        QStringLiteral("a/b/same.jpg"),    QStringLiteral("a/dangling.jpg"),  QStringLiteral("a/b/not-yet.jpg"),
        QStringLiteral("a/new/folder.jpg"), QStringLiteral("../outside/secret.txt"), QStringLiteral("a/../../x"),
        QStringLiteral("a/./b/photo.jpg"), QStringLiteral(""),                QStringLiteral("a/out/none.txt"),
    };
    for (const QString& folder : {media, media + QStringLiteral("/"), dir.filePath(QStringLiteral("missing"))}) {
        FolderResolver resolver(folder);
        // Twice over, so that remembered folders answer too.
        for (int round = 0; round < 2; ++round) {
            for (const QString& rel : relatives) {
                EXPECT_EQ(resolver.pathInside(rel), pathInsideFolder(folder, rel)) << qPrintable(folder + " " + rel);
                const QString joined = QDir::cleanPath(QDir(folder).absolutePath() + QLatin1Char('/') + rel);
                EXPECT_EQ(resolver.isInside(joined), isInsideFolder(QDir(folder).absolutePath(), joined))
                    << qPrintable(joined);
            }
        }
    }
    // The cases that matter, spelled out.
    FolderResolver resolver(media);
    EXPECT_FALSE(resolver.pathInside(QStringLiteral("a/b/photo.jpg")).isEmpty());
    EXPECT_TRUE(resolver.pathInside(QStringLiteral("a/leak.jpg")).isEmpty());
    EXPECT_TRUE(resolver.pathInside(QStringLiteral("a/out/secret.txt")).isEmpty());
    EXPECT_TRUE(resolver.pathInside(QStringLiteral("../outside/secret.txt")).isEmpty());
    EXPECT_FALSE(resolver.pathInside(QStringLiteral("a/in/photo.jpg")).isEmpty());
}
