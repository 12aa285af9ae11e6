// Local databases: the name rules shared by the dialog and the command line,
// find-or-create by name without regard to case, the layout on disk, and
// removal that never reaches outside local_databases.
#include "base/apperror.h"
#include "chatstore/backupmessagesthread.h"
#include "chatstore/localdatabases.h"
#include "chatstore/wamsgslistsource.h"
#include "mergetestutil.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace mergetest;

namespace {
const QString kSelect = QStringLiteral("IDS_PLEASE_SELECT_DATABASE_OR_INPUT_NEW_NAME");
const QString kInvalid = QStringLiteral("IDS_INVALID_LOCALDB_NAME");
}  // namespace

TEST(LocalDatabases, NameRules)
{
    struct Case {
        QString name;
        QString error;
    };
    const Case cases[] = {
        {QString(), kSelect},
        {QStringLiteral("   "), kSelect},
        {QStringLiteral("\t"), kSelect},
        {QStringLiteral("a/b"), kInvalid},
        {QStringLiteral("a\\b"), kInvalid},
        {QStringLiteral("c:"), kInvalid},
        {QStringLiteral("a*"), kInvalid},
        {QStringLiteral("why?"), kInvalid},
        {QStringLiteral("say \"hi\""), kInvalid},
        {QStringLiteral("<x>"), kInvalid},
        {QStringLiteral("a|b"), kInvalid},
        {QStringLiteral("line\nbreak"), kInvalid},
        {QStringLiteral("car\rriage"), kInvalid},
        {QStringLiteral("x\ty"), kInvalid},
        {QStringLiteral("nul") + QChar(0), kInvalid},
        {QStringLiteral("."), kInvalid},
        {QStringLiteral(".."), kInvalid},
        {QStringLiteral(" .. "), kInvalid},
        {QStringLiteral("..."), kInvalid},
        {QStringLiteral("Anna_Backup"), QString()},
        {QStringLiteral(" Mine "), QString()},
        {QStringLiteral(".hidden"), QString()},
        {QStringLiteral("Grüße 2024"), QString()},
    };
    for (const Case& c : cases)
        EXPECT_EQ(localDbNameError(c.name), c.error) << c.name.toStdString();
}

TEST(LocalDatabases, FindOrCreateMatchesExistingNamesWithoutRegardToCase)
{
    QTemporaryDir dir;
    const QString base = dir.filePath(QStringLiteral("local_databases"));
    QDir().mkpath(base);

    LocalDatabase made = findOrCreateLocalDatabase(QStringLiteral("Anna_Backup"), base);
    EXPECT_TRUE(made.created);
    EXPECT_EQ(made.name, QStringLiteral("Anna_Backup"));
    EXPECT_TRUE(QFileInfo(base + QStringLiteral("/Anna_Backup/Library/Media/Profile")).isDir());
    EXPECT_EQ(made.db->databasePath(), base + QStringLiteral("/Anna_Backup/ChatStorage.sqlite"));
    EXPECT_EQ(made.db->mediaFolder(), base + QStringLiteral("/Anna_Backup/Library"));
    EXPECT_EQ(made.db->profileFolder(), base + QStringLiteral("/Anna_Backup/Library/Media/Profile"));
    EXPECT_TRUE(made.db->upgradeFlag());
    // The database file is made whole before it appears; the first open
    // adds the local upgrades.
    EXPECT_TRUE(QFileInfo(made.db->databasePath()).isFile());
    EXPECT_TRUE(QDir(made.folder).entryList({QStringLiteral("ChatStorage.sqlite.new-*")}, QDir::Files).isEmpty());
    made.db->ensureOpen();
    EXPECT_TRUE(made.db->schema().hasTable(QStringLiteral("ZWAMESSAGEINFO")));
    made.db->closeDb();
    EXPECT_EQ(localDatabaseNames(base), QStringList{QStringLiteral("Anna_Backup")});
    made.lock.reset();  // the job on it has ended

    const LocalDatabase again = findOrCreateLocalDatabase(QStringLiteral("anna_BACKUP"), base);
    EXPECT_FALSE(again.created);
    EXPECT_EQ(again.name, QStringLiteral("Anna_Backup"));
    EXPECT_EQ(again.folder, made.folder);
    EXPECT_EQ(QDir(base).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(), 1);

    // Blanks are part of the name.
    const LocalDatabase blanks = findOrCreateLocalDatabase(QStringLiteral(" Mine "), base);
    EXPECT_TRUE(QFileInfo(base + QStringLiteral("/ Mine /Library/Media/Profile")).isDir());
    EXPECT_EQ(blanks.name, QStringLiteral(" Mine "));

    // Names that would leave the folder are refused and create nothing.
    for (const QString& bad : {QStringLiteral(".."), QStringLiteral("."), QStringLiteral("../x"), QString()}) {
        EXPECT_THROW(findOrCreateLocalDatabase(bad, base), AppError) << bad.toStdString();
        EXPECT_FALSE(removeLocalDatabase(bad, base)) << bad.toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("x"))));
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("Library"))));
    EXPECT_TRUE(QFileInfo(base).isDir());

    EXPECT_TRUE(removeLocalDatabase(QStringLiteral("Anna_Backup"), base));
    EXPECT_FALSE(QFileInfo::exists(made.folder));
    EXPECT_TRUE(QFileInfo(base + QStringLiteral("/ Mine ")).isDir());
}

TEST(LocalDatabases, ALinkNamedLikeADatabaseIsNeitherUsedNorFollowed)
{
    QTemporaryDir dir;
    const QString base = dir.filePath(QStringLiteral("local_databases"));
    const QString elsewhere = dir.filePath(QStringLiteral("elsewhere"));
    QDir().mkpath(base);
    QDir().mkpath(elsewhere + QStringLiteral("/keep"));
    ASSERT_TRUE(QFile::link(elsewhere, base + QStringLiteral("/Linked")));
    EXPECT_THROW(findOrCreateLocalDatabase(QStringLiteral("Linked"), base), AppError);
    EXPECT_TRUE(removeLocalDatabase(QStringLiteral("Linked"), base));
    EXPECT_TRUE(QFileInfo(elsewhere + QStringLiteral("/keep")).isDir());
}

TEST(LocalDatabases, BackupRefusesTheDatabaseItReadsFrom)
{
    QTemporaryDir dir;
    const SampleChatDb sample = buildSampleChatDb(dir.filePath(QStringLiteral("src")), ChatDbLayout::Local);
    Source source = openSource(sample.folder, true);
    auto sameFile = std::make_shared<IOSWhatsAppDb>(sample.folder.databasePath, QString(), sample.folder.mediaFolder,
                                                    sample.folder.profileFolder, true, false);
    const QByteArray before = fileBytes(sample.folder.databasePath);
    for (const auto& target : {source.db, sameFile}) {
        BackupMessagesThread job(target, source.all);
        RecordingMonitor monitor;
        job.run(monitor);
        EXPECT_EQ(monitor.errors().size(), 1);
        EXPECT_TRUE(monitor.successes().isEmpty());
    }
    EXPECT_EQ(fileBytes(sample.folder.databasePath), before);
}

TEST(LocalDatabases, BackupReportsProgressAndCountsEveryMessage)
{
    QTemporaryDir dir;
    const SampleChatDb sample = buildSampleChatDb(dir.filePath(QStringLiteral("src")), ChatDbLayout::Local, 2500);
    Source source = openSource(sample.folder, true);
    const LocalDatabase target = findOrCreateLocalDatabase(QStringLiteral("P"), dir.filePath(QStringLiteral("ldb")));
    BackupMessagesThread job(target.db, source.all);
    RecordingMonitor monitor;
    job.run(monitor);
    ASSERT_TRUE(monitor.succeeded());
    const QList<RecordingMonitor::Report> reports = monitor.reports();
    ASSERT_GE(reports.size(), 3);
    EXPECT_EQ(reports.first().status, QStringLiteral("IDS_BACKING_UP_MESSAGES"));
    EXPECT_EQ(reports.first().value, -1);
    EXPECT_EQ(reports.last().value, 100);
    EXPECT_EQ(reports.last().text,
              QStringLiteral("Messages: %1 / %1").arg(sample.expectedCount));
    EXPECT_LE(reports.size(), 1002);
    int previous = -1;
    for (const RecordingMonitor::Report& r : reports.mid(1)) {
        EXPECT_GE(r.value, previous);
        previous = r.value;
    }
    // An empty selection backs up nothing and still succeeds.
    BackupMessagesThread empty(target.db, std::make_shared<WAMsgsListSource>());
    RecordingMonitor m2;
    empty.run(m2);
    EXPECT_EQ(m2.successes().value(0), QStringLiteral("IDS_SUC_BACKUP_%1_MESSAGES (0 new)").arg(0));
}

TEST(LocalDatabases, AChatsMediaFolderGoesOnlyWhenItsJidIsAPlainName)
{
    QTemporaryDir dir;
    const LocalDatabase local = findOrCreateLocalDatabase(QStringLiteral("M"), dir.filePath(QStringLiteral("ldb")));
    const QString media = local.db->mediaFolder();
    QDir().mkpath(media + QStringLiteral("/Media/4915550001@s.whatsapp.net/a"));
    QDir().mkpath(media + QStringLiteral("/Other"));
    QDir().mkpath(dir.filePath(QStringLiteral("victim")));
    struct Case {
        QString jid;
        bool removed;
    };
    const Case cases[] = {
        {QStringLiteral("../Other"), false},
        {QStringLiteral(".."), false},
        {QStringLiteral("."), false},
        {QStringLiteral("../../../victim"), false},
        {QString(), false},
        {QStringLiteral("4915550009@s.whatsapp.net"), false},
        {QStringLiteral("4915550001@s.whatsapp.net"), true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(removeChatMediaFolder(*local.db, c.jid), c.removed) << c.jid.toStdString();
    EXPECT_TRUE(QFileInfo(media + QStringLiteral("/Other")).isDir());
    EXPECT_TRUE(QFileInfo(media + QStringLiteral("/Media")).isDir());
    EXPECT_TRUE(QFileInfo(dir.filePath(QStringLiteral("victim"))).isDir());
    EXPECT_FALSE(QFileInfo::exists(media + QStringLiteral("/Media/4915550001@s.whatsapp.net")));
}
