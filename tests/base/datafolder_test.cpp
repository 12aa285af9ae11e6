#include "base/datafolder.h"
#include "base/productinfo.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

const QString kId = QString::fromLatin1(product::kIdentifier);

void writeFile(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(content);
}

}  // namespace

TEST(DataFolder, RedirectFileCases)
{
    QTemporaryDir tmp;
    const QString root = tmp.filePath("root");
    const QString other = tmp.filePath(QString::fromUtf8("other d\xc3\xa9p\xc3\xb4t"));
    QDir().mkpath(other);
    const QString aFile = tmp.filePath("plainfile");
    writeFile(aFile, "x");
    const QString redirect = root + "/Quillometry/" + kId + ".redirect";
    const QString fallback = root + "/Quillometry/" + kId;

    struct Case {
        const char* what;
        bool write;
        QByteArray content;
        QString expected;
    };
    const Case cases[] = {
        {"no redirect file", false, {}, fallback},
        {"existing folder", true, other.toUtf8(), other + "/" + kId},
        {"existing file", true, aFile.toUtf8(), aFile + "/" + kId},
        {"trailing line break is not trimmed", true, other.toUtf8() + "\n", fallback},
        {"missing folder", true, tmp.filePath("nosuch").toUtf8(), fallback},
        {"empty file", true, {}, fallback},
    };
    for (const Case& c : cases) {
        QFile::remove(redirect);
        if (c.write)
            writeFile(redirect, c.content);
        EXPECT_EQ(dataFolderFor(root), c.expected) << c.what;
    }

    // A redirect "file" that cannot be read (a folder) falls back as well.
    QFile::remove(redirect);
    QDir().mkpath(redirect);
    EXPECT_EQ(dataFolderFor(root), fallback);
    EXPECT_FALSE(QFileInfo::exists(fallback)) << "resolving must create nothing";
}

TEST(DataFolder, FollowsXdgDataHomeAndComesBackWhenDeleted)
{
    QTemporaryDir tmp;
    qputenv("XDG_DATA_HOME", tmp.path().toLocal8Bit());
    EXPECT_EQ(appDataRoot(), tmp.path());
    EXPECT_EQ(redirectFile(), tmp.path() + "/Quillometry/" + kId + ".redirect");

    const QString folder = dataFolder();
    EXPECT_EQ(folder, tmp.path() + "/Quillometry/" + kId);
    EXPECT_TRUE(QFileInfo(folder).isDir());
    QDir(folder).removeRecursively();
    EXPECT_EQ(dataFolder(), folder);
    EXPECT_TRUE(QFileInfo(folder).isDir());
    EXPECT_EQ(localDatabasesFolder(), folder + "/local_databases");
    EXPECT_TRUE(QFileInfo(folder + "/local_databases").isDir());

    // The path is fixed for the life of the process.
    qputenv("XDG_DATA_HOME", QByteArray("/nonexistent-root"));
    EXPECT_EQ(dataFolder(), folder);
    qunsetenv("XDG_DATA_HOME");
}
