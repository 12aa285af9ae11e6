#include "platform/osservices.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace {

mode_t modeOf(const QString& path)
{
    struct stat st;
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return 0;
    return st.st_mode & 0777;
}

// Runs `body` with an environment variable set, restoring it afterwards.
template <typename F>
void withEnv(const char* name, const QByteArray& value, F body)
{
    const QByteArray old = qgetenv(name);
    const bool had = qEnvironmentVariableIsSet(name);
    qputenv(name, value);
    body();
    if (had)
        qputenv(name, old);
    else
        qunsetenv(name);
}

}  // namespace

TEST(OsServices, AppDataRootFollowsXdgDataHome)
{
    withEnv("XDG_DATA_HOME", "/srv/data", [] { EXPECT_EQ(platform::appDataRoot(), "/srv/data"); });
    withEnv("XDG_DATA_HOME", "relative/ignored",
            [] { EXPECT_EQ(platform::appDataRoot(), QDir::homePath() + "/.local/share"); });
    withEnv("XDG_DATA_HOME", "", [] { EXPECT_EQ(platform::appDataRoot(), QDir::homePath() + "/.local/share"); });
}

TEST(OsServices, ProcessListHoldsThisProcessByItsExecutableName)
{
    bool ok = false;
    const QList<platform::ProcessEntry> list = platform::listProcesses(&ok);
    ASSERT_TRUE(ok);
    const qint64 self = ::getpid();
    const QString exe = QString::fromLocal8Bit(program_invocation_short_name);  // from argv[0]
    bool found = false;
    for (const auto& p : list)
        found = found || (p.pid == self && p.exeName == exe);
    EXPECT_TRUE(found) << exe.toStdString();
    EXPECT_FALSE(platform::killProcess(0));
    EXPECT_FALSE(platform::killProcess(-1)) << "a negative id would signal a whole process group";
}

TEST(OsServices, PrivateTempFolderIsOursAndRefusesATakenName)
{
    QTemporaryDir tmp;
    withEnv("TMPDIR", QFile::encodeName(tmp.path()), [&] {
        const QString expected = tmp.path() + QStringLiteral("/quillometry-%1").arg(::getuid());
        // Somebody planted a link under the usual name: it is not used.
        const QString elsewhere = tmp.filePath("elsewhere");
        QDir().mkpath(elsewhere);
        ASSERT_TRUE(QFile::link(elsewhere, expected));
        const QString fallback = platform::privateTempFolder();
        ASSERT_FALSE(fallback.isEmpty());
        EXPECT_NE(fallback, expected);
        EXPECT_TRUE(fallback.startsWith(expected + "-")) << fallback.toStdString();
        EXPECT_EQ(modeOf(fallback), 0700u);

        // With the name free again, the usual folder is made private.
        QFile::remove(expected);
        EXPECT_EQ(platform::privateTempFolder(), expected);
        EXPECT_EQ(modeOf(expected), 0700u);
        ::chmod(QFile::encodeName(expected).constData(), 0755);
        EXPECT_EQ(platform::privateTempFolder(), expected);
        EXPECT_EQ(modeOf(expected), 0700u) << "looser rights are tightened";
    });
}

TEST(OsServices, CreatePrivateFolderMakesEveryNewLevelPrivate)
{
    QTemporaryDir tmp;
    ::chmod(QFile::encodeName(tmp.path()).constData(), 0755);
    const QString path = tmp.filePath("a/b/c");
    EXPECT_TRUE(platform::createPrivateFolder(path));
    EXPECT_EQ(modeOf(tmp.filePath("a")), 0700u);
    EXPECT_EQ(modeOf(path), 0700u);
    EXPECT_EQ(modeOf(tmp.path()), 0755u) << "an existing parent keeps its rights";
    EXPECT_TRUE(platform::createPrivateFolder(path));  // already there

    QFile blocker(tmp.filePath("file"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    EXPECT_FALSE(platform::createPrivateFolder(tmp.filePath("file/sub")));
}
