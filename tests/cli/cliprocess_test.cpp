// quillometry-cli as users run it: the built executable against fixture
// chat folders, with the data folder in a temporary XDG_DATA_HOME. Covers
// the reading commands (chats, messages) and the local-database commands
// (backup, localdbs, delete), their errors, confirmations and Ctrl-C.
#include "clitest.h"

#include "chatstore/ioswhatsappdb.h"
#include "base/datafolder.h"
#include "chatstore/chatindex.h"
#include "chatstore/localdblock.h"
#include "chatstore/sqlite3db.h"
#include "support/childsignal.h"
#include "tools/fixturebuilder/chatdbbuilder.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QThread>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <unistd.h>

namespace {

using clitest::lines;
using clitest::Result;

const QString kAnna = QStringLiteral("4915550001@s.whatsapp.net");
const QString kGroup = QStringLiteral("4915550001-1500000000@g.us");

class CliProcess : public clitest::CliTest {
protected:
    QString localDbs() const { return dir.filePath(QStringLiteral("xdg/Quillometry")); }

    // A sample chat folder (device style when asked) with bulk messages.
    SampleChatDb sample(const QString& name, qint64 bulk = 0, bool device = false)
    {
        return buildSampleChatDb(dir.filePath(name), ChatDbLayout::Local, bulk, device);
    }

    qint64 countOf(const ChatDbFolder& f, const QString& jid)
    {
        IOSWhatsAppDb db(f.databasePath, QString(), f.mediaFolder, f.profileFolder, false, false);
        ChatIndex index;
        db.listSessions(index);
        return db.countMessages(jid.isEmpty() ? nullptr : index.sessionByJid(jid).get());
    }
};

}  // namespace

TEST_F(CliProcess, ChatsListsEveryChatWithItsCount)
{
    const SampleChatDb s = sample(QStringLiteral("phone"), 0, true);
    const Result r = run({QStringLiteral("chats"), s.folder.root});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    const QStringList rows = lines(r.out);
    ASSERT_EQ(rows.size(), s.expectedChats);
    qint64 total = 0;
    for (const QString& row : rows) {
        const QStringList cols = row.split(QLatin1Char('\t'));
        ASSERT_EQ(cols.size(), 3) << row.toStdString();
        EXPECT_EQ(cols[2].toLongLong(), countOf(s.folder, cols[1])) << row.toStdString();
        total += cols[2].toLongLong();
    }
    EXPECT_EQ(total, s.expectedCount);
    EXPECT_TRUE(r.out.contains(QStringLiteral("\t") + kAnna + QStringLiteral("\t")));

    struct Case {
        QStringList args;
        int code;
    };
    const Case errors[] = {
        {{QStringLiteral("chats")}, 2},
        {{QStringLiteral("chats"), QStringLiteral("a"), QStringLiteral("b")}, 2},
        {{QStringLiteral("chats"), dir.filePath(QStringLiteral("nothing-here"))}, 1},
        {{QStringLiteral("chats"), QStringLiteral("NoSuchLocalDb")}, 1},
    };
    for (const Case& c : errors) {
        const Result e = run(c.args);
        EXPECT_EQ(e.code, c.code) << c.args.join(QLatin1Char(' ')).toStdString();
        EXPECT_FALSE(e.err.isEmpty());
        EXPECT_TRUE(e.out.isEmpty());
    }
}

TEST_F(CliProcess, MessagesPrintsOneLinePerMessageInEitherOrder)
{
    const SampleChatDb s = sample(QStringLiteral("phone"));
    const Result asc = run({QStringLiteral("messages"), s.folder.root, QStringLiteral("--chat"), kAnna});
    ASSERT_EQ(asc.code, 0) << asc.err.toStdString();
    const QStringList up = lines(asc.out);
    EXPECT_EQ(up.size(), countOf(s.folder, kAnna));
    EXPECT_TRUE(up.first().contains(QStringLiteral("Hello Anna"))) << up.first().toStdString();
    for (const QString& row : up)
        EXPECT_EQ(row.count(QLatin1Char('\t')), 3) << row.toStdString();
    const Result desc = run({QStringLiteral("messages"), s.folder.root, QStringLiteral("--chat"), kAnna,
                             QStringLiteral("--desc")});
    ASSERT_EQ(desc.code, 0);
    QStringList down = lines(desc.out);
    std::reverse(down.begin(), down.end());
    EXPECT_EQ(down, up);
    const Result all = run({QStringLiteral("messages"), s.folder.root});
    EXPECT_EQ(lines(all.out).size(), s.expectedCount);
    const Result group = run({QStringLiteral("messages"), s.folder.root, QStringLiteral("--chat"), kGroup});
    EXPECT_TRUE(group.out.contains(QStringLiteral("Dora\tdinner at 7"))) << group.out.toStdString();

    const Result unknown = run({QStringLiteral("messages"), s.folder.root, QStringLiteral("--chat"), QStringLiteral("x@g.us")});
    EXPECT_EQ(unknown.code, 1);
    EXPECT_TRUE(unknown.err.contains(QStringLiteral("x@g.us")));
    EXPECT_EQ(run({QStringLiteral("messages"), s.folder.root, QStringLiteral("--bogus")}).code, 2);
}

TEST_F(CliProcess, TodaySampleShowsRepliesLidSendersNewTypesAndReactions)
{
    const SampleChatDb s = buildSampleChatDb(dir.filePath(QStringLiteral("today")), ChatDbLayout::Today);
    const Result chats = run({QStringLiteral("chats"), s.folder.root});
    ASSERT_EQ(chats.code, 0) << chats.err.toStdString();
    EXPECT_EQ(lines(chats.out).size(), s.expectedChats);
    EXPECT_TRUE(chats.out.contains(QStringLiteral("4915550016\t100000000000006@lid\t1"))) << chats.out.toStdString();

    const Result r = run({QStringLiteral("messages"), s.folder.root, QStringLiteral("--reactions")});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    const QStringList rows = lines(r.out);
    EXPECT_EQ(rows.size(), s.expectedCount);
    for (const QString& row : rows)
        EXPECT_EQ(row.count(QLatin1Char('\t')), 4) << row.toStdString();
    // Contact and content columns (and reactions) of the today section.
    const char* const expected[] = {
        "Today - 4915550011\tfrom lid1\t",
        "Today - ~Greta\tfrom lid2\t",
        "Today - 100000000000003@lid\tfrom lid3\t",
        "[QUOTED]~Greta: reply to a reply[/QUOTED]\\nre\t",
        "[QUOTED]100000000000003@lid: [DOCUMENT][/QUOTED]\\nre\t",
        "[QUOTED]Hanna: twin[/QUOTED]\\nre\t",
        "[QUOTED]4915550011: which one?[/QUOTED]\\nhttps://example.org/today\t",
        "\tparty tonight\t4915550011 \U0001F44D, ~Greta \u2764\uFE0F, You \U0001F602, Anna \U0001F389",
        "\t[POLL] Lunch? (Pizza: 1, Sushi: 3, Salad: 0)\t",
        "\t[MESSAGE DELETED]\t",
        "\tonce[VIEW ONCE IMAGE]\t",
        "\t[VIEW ONCE VIDEO]\t",
        "\t [VIEW ONCE AUDIO]\t",
        "\t[CALL]\t",
        "4915550016\thello from a lid chat\t",
    };
    for (const char* text : expected)
        EXPECT_TRUE(r.out.contains(QString::fromUtf8(text))) << text;
    EXPECT_FALSE(r.out.contains(QStringLiteral("not shown")));

    // Without --reactions: four columns, as before.
    const Result plain = run({QStringLiteral("messages"), s.folder.root});
    for (const QString& row : lines(plain.out))
        EXPECT_EQ(row.count(QLatin1Char('\t')), 3) << row.toStdString();
}

TEST_F(CliProcess, BackupIntoNamedLocalDatabasesAndListThem)
{
    const SampleChatDb s = sample(QStringLiteral("phone"), 200, true);
    const Result first = run({QStringLiteral("backup"), s.folder.root, QStringLiteral("--to"), QStringLiteral("Phone_Backup")});
    ASSERT_EQ(first.code, 0) << first.err.toStdString();
    EXPECT_TRUE(first.err.contains(QStringLiteral("Successfully backup %1 Messages.").arg(s.expectedCount)))
        << first.err.toStdString();
    EXPECT_TRUE(first.out.contains(QStringLiteral("%1 new").arg(s.expectedCount))) << first.out.toStdString();

    // Another spelling selects the same database; nothing is added twice.
    const Result again = run({QStringLiteral("backup"), s.folder.root, QStringLiteral("--to"), QStringLiteral("phone_BACKUP")});
    ASSERT_EQ(again.code, 0);
    EXPECT_TRUE(again.out.contains(QStringLiteral("\"Phone_Backup\"")));
    EXPECT_TRUE(again.out.contains(QStringLiteral(", 0 new")));

    // One chat into a second database.
    const Result chat = run({QStringLiteral("backup"), s.folder.root, QStringLiteral("--to"), QStringLiteral(" Anna only "),
                             QStringLiteral("--chat"), kAnna});
    ASSERT_EQ(chat.code, 0) << chat.err.toStdString();

    const Result list = run({QStringLiteral("localdbs")});
    ASSERT_EQ(list.code, 0);
    EXPECT_EQ(lines(list.out), (QStringList{QStringLiteral(" Anna only \t%1").arg(countOf(s.folder, kAnna)),
                                           QStringLiteral("Phone_Backup\t%1").arg(s.expectedCount)}));
    // The backup reads like any chat database.
    const Result read = run({QStringLiteral("messages"), QStringLiteral("Phone_Backup"), QStringLiteral("--chat"), kAnna});
    EXPECT_EQ(lines(read.out).size(), countOf(s.folder, kAnna));

    struct Case {
        QStringList args;
        int code;
        QString text;
    };
    const Case refused[] = {
        {{QStringLiteral("backup"), QStringLiteral("Phone_Backup"), QStringLiteral("--to"), QStringLiteral("PHONE_backup")},
         2, QStringLiteral("itself")},
        {{QStringLiteral("backup"), s.folder.root, QStringLiteral("--to"), QStringLiteral("..")},
         2, QStringLiteral("Invalid Local Database name")},
        {{QStringLiteral("backup"), s.folder.root, QStringLiteral("--to"), QStringLiteral("a/b")},
         2, QStringLiteral("Invalid Local Database name")},
        {{QStringLiteral("backup"), s.folder.root, QStringLiteral("--to"), QStringLiteral("  ")},
         2, QStringLiteral("Select one Database or enter a new Database name")},
        {{QStringLiteral("backup"), s.folder.root}, 2, QStringLiteral("--to is missing")},
        {{QStringLiteral("backup"), s.folder.root, QStringLiteral("--to"), QStringLiteral("New"), QStringLiteral("--chat"),
          QStringLiteral("nobody@s.whatsapp.net")},
         1, QStringLiteral("nobody@s.whatsapp.net")},
        {{QStringLiteral("backup"), dir.filePath(QStringLiteral("missing")), QStringLiteral("--to"), QStringLiteral("New")},
         1, QStringLiteral("missing")},
    };
    for (const Case& c : refused) {
        const Result r = run(c.args);
        EXPECT_EQ(r.code, c.code) << c.args.join(QLatin1Char(' ')).toStdString();
        EXPECT_TRUE(r.err.contains(c.text)) << r.err.toStdString();
    }
    // None of the refused runs left a database or a folder behind.
    EXPECT_EQ(lines(run({QStringLiteral("localdbs")}).out).size(), 2);
    EXPECT_EQ(QDir(localDbs()).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(), 1);
}

TEST_F(CliProcess, MergeIntoAPhoneFolderCarriesReactionsAndRefusesWhatItCannotUse)
{
    const SampleChatDb s = buildSampleChatDb(dir.filePath(QStringLiteral("today")), ChatDbLayout::Today);
    ChatDbBuilder phone(dir.filePath(QStringLiteral("phone")), ChatDbLayout::Today, true);
    phone.commit();
    phone.writeLidDatabase({}, true);
    const QString into = phone.folder().root;

    ASSERT_EQ(run({QStringLiteral("backup"), s.folder.root, QStringLiteral("--to"), QStringLiteral("T")}).code, 0);
    const Result first = run({QStringLiteral("merge"), QStringLiteral("T"), QStringLiteral("--into"), into});
    ASSERT_EQ(first.code, 0) << first.err.toStdString();
    EXPECT_TRUE(first.out.contains(QStringLiteral("%1 messages merged (%1 new), 5 LID rows added").arg(s.expectedCount)))
        << first.out.toStdString();
    const Result again = run({QStringLiteral("merge"), QStringLiteral("T"), QStringLiteral("--into"), into});
    ASSERT_EQ(again.code, 0);
    EXPECT_TRUE(again.out.contains(QStringLiteral("(0 new), 0 LID rows added"))) << again.out.toStdString();

    // The reactions and the poll read the same on the phone's database.
    const Result shown = run({QStringLiteral("messages"), into, QStringLiteral("--reactions")});
    ASSERT_EQ(shown.code, 0) << shown.err.toStdString();
    EXPECT_EQ(lines(shown.out).size(), s.expectedCount);
    EXPECT_TRUE(shown.out.contains(QString::fromUtf8("party tonight\t4915550011 \U0001F44D, "))) << shown.out.toStdString();
    EXPECT_TRUE(shown.out.contains(QStringLiteral("[POLL] Lunch? (Pizza: 1, Sushi: 3, Salad: 0)")));

    struct Case {
        QStringList args;
        int code;
        QString text;
    };
    const Case refused[] = {
        {{QStringLiteral("merge"), s.folder.root, QStringLiteral("--into"), s.folder.root}, 2, QStringLiteral("itself")},
        {{QStringLiteral("merge"), s.folder.root, QStringLiteral("--into"), dir.filePath(QStringLiteral("xdg"))},
         1, QStringLiteral("holds no chat database (ChatStorage.sqlite)")},
        {{QStringLiteral("merge"), s.folder.root, QStringLiteral("--into"), dir.filePath(QStringLiteral("nowhere"))},
         1, QStringLiteral("does not exist")},
        {{QStringLiteral("merge"), s.folder.root}, 2, QStringLiteral("--into is missing")},
    };
    for (const Case& c : refused) {
        const Result r = run(c.args);
        EXPECT_EQ(r.code, c.code) << c.args.join(QLatin1Char(' ')).toStdString();
        EXPECT_TRUE(r.err.contains(c.text)) << r.err.toStdString();
    }
    // Nothing was created where no database was.
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("xdg/ChatStorage.sqlite"))));
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("nowhere"))));
}

TEST_F(CliProcess, DeleteAsksFirstAndRemovesAChatOrTheWholeDatabase)
{
    const SampleChatDb s = sample(QStringLiteral("phone"));
    ASSERT_EQ(run({QStringLiteral("backup"), s.folder.root, QStringLiteral("--to"), QStringLiteral("B")}).code, 0);
    const QString folder = dir.filePath(QStringLiteral("xdg/Quillometry"));
    QString dbFolder;
    for (const QFileInfo& i : QDir(folder).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot))
        dbFolder = i.absoluteFilePath() + QStringLiteral("/local_databases/B");
    ASSERT_TRUE(QFileInfo(dbFolder + QStringLiteral("/Library/Media/") + kAnna).isDir());

    // Without a terminal and without --yes nothing happens.
    const Result refused = run({QStringLiteral("delete"), QStringLiteral("B"), QStringLiteral("--chat"), kAnna});
    EXPECT_EQ(refused.code, 2);
    EXPECT_TRUE(refused.err.contains(QStringLiteral("--yes")));
    EXPECT_TRUE(run({QStringLiteral("chats"), QStringLiteral("B")}).out.contains(kAnna));

    // On a terminal the answer decides.
    const Result no = runOnTerminal({QStringLiteral("delete"), QStringLiteral("b"), QStringLiteral("--chat"), kAnna}, "n\n");
    EXPECT_EQ(no.code, 3) << no.out.toStdString();
    EXPECT_TRUE(no.out.contains(QStringLiteral("Confirm to delete Messages with this contact?")));
    // The question names what it deletes.
    EXPECT_TRUE(no.out.contains(QStringLiteral("the chat %1 of the local database \"B\": %2 messages")
                                    .arg(kAnna)
                                    .arg(countOf(s.folder, kAnna))))
        << no.out.toStdString();
    EXPECT_TRUE(run({QStringLiteral("chats"), QStringLiteral("B")}).out.contains(kAnna));
    const Result yes = runOnTerminal({QStringLiteral("delete"), QStringLiteral("b"), QStringLiteral("--chat"), kAnna}, "y\n");
    EXPECT_EQ(yes.code, 0) << yes.out.toStdString();
    EXPECT_TRUE(yes.out.contains(QStringLiteral("Successfully deleted Messages with this contact.")));
    const Result chats = run({QStringLiteral("chats"), QStringLiteral("B")});
    EXPECT_FALSE(chats.out.contains(kAnna));
    EXPECT_EQ(lines(chats.out).size(), s.expectedChats - 1);
    EXPECT_FALSE(QFileInfo::exists(dbFolder + QStringLiteral("/Library/Media/") + kAnna));

    EXPECT_EQ(run({QStringLiteral("delete"), QStringLiteral("B"), QStringLiteral("--chat"), kAnna, QStringLiteral("--yes")}).code, 1);
    EXPECT_EQ(run({QStringLiteral("delete"), QStringLiteral("nothing"), QStringLiteral("--yes")}).code, 1);
    EXPECT_EQ(run({QStringLiteral("delete"), QStringLiteral(".."), QStringLiteral("--yes")}).code, 2);
    EXPECT_TRUE(QFileInfo(dbFolder).isDir());

    const Result whole = run({QStringLiteral("delete"), QStringLiteral("B"), QStringLiteral("--yes")});
    EXPECT_EQ(whole.code, 0) << whole.err.toStdString();
    EXPECT_TRUE(whole.out.contains(QStringLiteral("Successfully deleted database.")));
    EXPECT_FALSE(QFileInfo::exists(dbFolder));
    EXPECT_TRUE(run({QStringLiteral("localdbs")}).out.isEmpty());
}

TEST_F(CliProcess, CtrlCDuringABackupLeavesTheTargetAsItWas)
{
    const SampleChatDb small = sample(QStringLiteral("small"));
    // Big enough that the merge is still running when this test, however
    // slowly it is scheduled, gets to hold it (a backup runs at tens of
    // thousands of messages a second).
    const SampleChatDb big = buildSampleChatDb(dir.filePath(QStringLiteral("big")), ChatDbLayout::Modern, 200000);
    ASSERT_EQ(run({QStringLiteral("backup"), small.folder.root, QStringLiteral("--to"), QStringLiteral("Kept")}).code, 0);

    auto interrupted = [&](const QString& name) {
        QProcess p;
        ChildSignal child(p);
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(Q_CLI_PATH), {QStringLiteral("backup"), big.folder.root, QStringLiteral("--to"), name});
        QByteArray err;
        while (!err.contains("Messages: ") && p.state() != QProcess::NotRunning) {
            p.waitForReadyRead(1000);
            err += p.readAllStandardError();
        }
        ASSERT_TRUE(err.contains("Messages: ")) << "the backup ended before it merged: " << err.constData();
        // Held still while the Ctrl-C is sent, so the cancel reaches the job
        // inside its loop however slowly this test itself is scheduled.
        ASSERT_TRUE(child.send(SIGSTOP)) << "the backup ended before the Ctrl-C";
        p.waitForReadyRead(0);
        err += p.readAllStandardError();
        EXPECT_FALSE(err.contains(QStringLiteral("Messages: %1 / %1").arg(big.expectedCount).toUtf8()))
            << "the backup had reached its last message before it was held";
        EXPECT_TRUE(child.send(SIGINT));
        EXPECT_TRUE(child.send(SIGCONT));
        EXPECT_TRUE(p.waitForFinished(120000));
        err += p.readAllStandardError();
        EXPECT_EQ(p.exitCode(), 3) << err.constData();
        EXPECT_TRUE(err.contains("cancelled"));
    };
    interrupted(QStringLiteral("Kept"));
    interrupted(QStringLiteral("Fresh"));
    // The existing database kept its messages only; the new one is gone.
    EXPECT_EQ(lines(run({QStringLiteral("localdbs")}).out), QStringList{QStringLiteral("Kept\t%1").arg(small.expectedCount)});
}

// ---- Several runs on one local database, kills and Ctrl-C at random moments.
// The moments come from a seed printed with every failure, so a failing
// table can be replayed.

namespace {

quint32 tableSeed()
{
    bool ok = false;
    const quint32 fixed = quint32(qEnvironmentVariableIntValue("QM_TEST_SEED", &ok));
    return ok ? fixed : quint32(QRandomGenerator::system()->generate());
}

// The message count localdbs shows for `name`, -1 when it is not listed.
qint64 listedCount(const QString& localdbsOut, const QString& name)
{
    for (const QString& row : lines(localdbsOut)) {
        const QStringList cols = row.split(QLatin1Char('\t'));
        // Names are compared as the data folder does: without case.
        if (cols.size() == 2 && cols[0].compare(name, Qt::CaseInsensitive) == 0)
            return cols[1].toLongLong();
    }
    return -1;
}

const QString kInUse = QStringLiteral("The local database %1 is in use by another job.");

}  // namespace

TEST_F(CliProcess, ConcurrentFirstBackupsIntoOneNameKeepTheUnion)
{
    const SampleChatDb a = sample(QStringLiteral("a"));
    const SampleChatDb b = sample(QStringLiteral("b"), 300);
    ASSERT_EQ(run({QStringLiteral("backup"), a.folder.root, QStringLiteral("--to"), QStringLiteral("RefA")}).code, 0);
    ASSERT_EQ(run({QStringLiteral("backup"), b.folder.root, QStringLiteral("--to"), QStringLiteral("RefB")}).code, 0);
    ASSERT_EQ(run({QStringLiteral("backup"), b.folder.root, QStringLiteral("--to"), QStringLiteral("RefA")}).code, 0);
    const QString before = run({QStringLiteral("localdbs")}).out;
    const qint64 both = listedCount(before, QStringLiteral("RefA"));
    const qint64 onlyB = listedCount(before, QStringLiteral("RefB"));
    ASSERT_GE(both, onlyB);
    ASSERT_GE(both, a.expectedCount);

    const quint32 seed = tableSeed();
    QRandomGenerator random(seed);
    for (int trial = 0; trial < 40; ++trial) {
        SCOPED_TRACE(QStringLiteral("seed %1 (QM_TEST_SEED), trial %2").arg(seed).arg(trial).toStdString());
        const QString name = QStringLiteral("Pair%1").arg(trial);
        QProcess first;
        QProcess second;
        first.setProcessEnvironment(env);
        second.setProcessEnvironment(env);
        // Odd trials spell the name in another case: the same database.
        const QString other = trial % 2 ? name.toLower() : name;
        first.start(QStringLiteral(Q_CLI_PATH), {QStringLiteral("backup"), a.folder.root, QStringLiteral("--to"), name});
        QThread::usleep(random.bounded(60000));
        second.start(QStringLiteral(Q_CLI_PATH), {QStringLiteral("backup"), b.folder.root, QStringLiteral("--to"), other});
        ASSERT_TRUE(first.waitForFinished(120000));
        ASSERT_TRUE(second.waitForFinished(120000));
        const QString errA = QString::fromUtf8(first.readAllStandardError());
        const QString errB = QString::fromUtf8(second.readAllStandardError());
        // Each run either succeeded or was refused with the in-use text.
        if (first.exitCode() != 0)
            EXPECT_TRUE(first.exitCode() == 1 && errA.contains(kInUse.arg(name))) << errA.toStdString();
        if (second.exitCode() != 0)
            EXPECT_TRUE(second.exitCode() == 1 && errB.contains(kInUse.arg(other))) << errB.toStdString();
        const qint64 expected = first.exitCode() == 0 && second.exitCode() == 0 ? both
                                : first.exitCode() == 0                         ? a.expectedCount
                                : second.exitCode() == 0                        ? onlyB
                                                                                : -1;
        const Result listed = run({QStringLiteral("localdbs")});
        EXPECT_EQ(listed.code, 0) << listed.err.toStdString();
        EXPECT_EQ(listedCount(listed.out, name), expected) << listed.out.toStdString();
    }
}

TEST_F(CliProcess, ASecondJobOnALockedDatabaseWaitsThenGivesUp)
{
    const SampleChatDb a = sample(QStringLiteral("a"));
    const QString base = dataFolderFor(dir.filePath(QStringLiteral("xdg"))) + QStringLiteral("/local_databases");
    {
        const PLocalDbLock held = LocalDbLock::acquire(base, QStringLiteral("busy"));
        env.insert(QStringLiteral("QUILLOMETRY_LOCK_WAIT_MS"), QStringLiteral("300"));
        const Result refused = run({QStringLiteral("backup"), a.folder.root, QStringLiteral("--to"), QStringLiteral("Busy")});
        EXPECT_EQ(refused.code, 1);
        EXPECT_TRUE(refused.err.contains(kInUse.arg(QStringLiteral("Busy")))) << refused.err.toStdString();
        EXPECT_FALSE(QFileInfo::exists(base + QStringLiteral("/Busy")));
    }
    const Result later = run({QStringLiteral("backup"), a.folder.root, QStringLiteral("--to"), QStringLiteral("Busy")});
    EXPECT_EQ(later.code, 0) << later.err.toStdString();
}

TEST_F(CliProcess, AKillDuringCreationNeverSpoilsTheName)
{
    const SampleChatDb a = sample(QStringLiteral("a"));
    const quint32 seed = tableSeed();
    QRandomGenerator random(seed);
    for (int trial = 0; trial < 30; ++trial) {
        SCOPED_TRACE(QStringLiteral("seed %1 (QM_TEST_SEED), trial %2").arg(seed).arg(trial).toStdString());
        const QString name = QStringLiteral("Killed%1").arg(trial);
        QProcess p;
        ChildSignal child(p);
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(Q_CLI_PATH), {QStringLiteral("backup"), a.folder.root, QStringLiteral("--to"), name});
        ASSERT_TRUE(p.waitForStarted());
        QThread::usleep(random.bounded(400000));
        child.send(SIGKILL);  // false when the backup already ended
        p.waitForFinished(60000);
        const Result again = run({QStringLiteral("backup"), a.folder.root, QStringLiteral("--to"), name});
        EXPECT_EQ(again.code, 0) << again.err.toStdString();
        const Result listed = run({QStringLiteral("localdbs")});
        EXPECT_EQ(listed.code, 0) << listed.err.toStdString();
        EXPECT_EQ(listedCount(listed.out, name), a.expectedCount) << listed.out.toStdString();
    }
}

TEST_F(CliProcess, AnEmptyDatabaseIsRepairedAndADamagedOneListedAsSuch)
{
    const SampleChatDb a = sample(QStringLiteral("a"));
    const QString base = dataFolderFor(dir.filePath(QStringLiteral("xdg"))) + QStringLiteral("/local_databases");
    ASSERT_TRUE(QDir().mkpath(base + QStringLiteral("/Empty")));
    ASSERT_TRUE(QDir().mkpath(base + QStringLiteral("/Junk")));
    {
        QFile empty(base + QStringLiteral("/Empty/ChatStorage.sqlite"));
        ASSERT_TRUE(empty.open(QIODevice::WriteOnly));
        QFile junk(base + QStringLiteral("/Junk/ChatStorage.sqlite"));
        ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
        junk.write(QByteArray(4096, 'x'));
    }
    const Result listed = run({QStringLiteral("localdbs")});
    EXPECT_EQ(listed.code, 0) << listed.err.toStdString();
    EXPECT_EQ(listedCount(listed.out, QStringLiteral("Empty")), 0) << listed.out.toStdString();
    EXPECT_TRUE(listed.out.contains(QStringLiteral("Junk\tdamaged: "))) << listed.out.toStdString();
    const Result filled = run({QStringLiteral("backup"), a.folder.root, QStringLiteral("--to"), QStringLiteral("Empty")});
    EXPECT_EQ(filled.code, 0) << filled.err.toStdString();
    EXPECT_EQ(listedCount(run({QStringLiteral("localdbs")}).out, QStringLiteral("Empty")), a.expectedCount);
}

// A database deleted while a backup writes into it: SQLite would go on
// writing into the removed file and the backup would report success with
// every message gone. The job fails and says what happened instead.
TEST_F(CliProcess, ADatabaseDeletedDuringABackupFailsTheBackup)
{
    const SampleChatDb big = buildSampleChatDb(dir.filePath(QStringLiteral("big")), ChatDbLayout::Modern, 20000);
    const QString base = dataFolderFor(dir.filePath(QStringLiteral("xdg"))) + QStringLiteral("/local_databases");
    static const QRegularExpression progress(QStringLiteral("Messages: (\\d+) / "));
    // Before the first message is written, and half-way through the writing.
    for (const qint64 deleteAfter : {qint64(-1), big.expectedCount / 2}) {
        SCOPED_TRACE(deleteAfter);
        const QString name = QStringLiteral("Deleted%1").arg(deleteAfter < 0 ? 0 : 1);
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(Q_CLI_PATH), {QStringLiteral("backup"), big.folder.root, QStringLiteral("--to"), name});
        QString err;
        auto reached = [&] {
            if (deleteAfter < 0)
                return err.contains(QStringLiteral("Backing up Messages"));
            qint64 last = -1;
            for (auto it = progress.globalMatch(err); it.hasNext();)
                last = it.next().captured(1).toLongLong();
            return last >= deleteAfter;
        };
        while (!reached() && p.state() != QProcess::NotRunning) {
            p.waitForReadyRead(5);
            err += QString::fromUtf8(p.readAllStandardError());
        }
        ASSERT_TRUE(QFile::remove(base + QLatin1Char('/') + name + QStringLiteral("/ChatStorage.sqlite")))
            << err.toStdString();
        ASSERT_TRUE(p.waitForFinished(120000));
        err += QString::fromUtf8(p.readAllStandardError());
        const QString out = QString::fromUtf8(p.readAllStandardOutput());
        EXPECT_EQ(p.exitCode(), 1) << out.toStdString();
        EXPECT_FALSE(out.contains(QStringLiteral("backed up"))) << out.toStdString();
        EXPECT_TRUE(err.contains(QStringLiteral("was moved or deleted while the job ran"))) << err.toStdString();
    }
}

TEST_F(CliProcess, ACtrlCAtAnyMomentOfABackupEndsIt)
{
    const SampleChatDb big = buildSampleChatDb(dir.filePath(QStringLiteral("big")), ChatDbLayout::Modern, 20000);
    const quint32 seed = tableSeed();
    QRandomGenerator random(seed);
    for (int trial = 0; trial < 12; ++trial) {
        SCOPED_TRACE(QStringLiteral("seed %1 (QM_TEST_SEED), trial %2").arg(seed).arg(trial).toStdString());
        const QString name = QStringLiteral("Stopped%1").arg(trial);
        QProcess p;
        ChildSignal child(p);
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(Q_CLI_PATH), {QStringLiteral("backup"), big.folder.root, QStringLiteral("--to"), name});
        // From its first progress line on (the interrupt is the command's
        // from then on), at a random moment of loading, copying or saving.
        QByteArray err;
        while (err.isEmpty() && p.state() != QProcess::NotRunning) {
            p.waitForReadyRead(50);
            err += p.readAllStandardError();
        }
        QThread::usleep(random.bounded(1500000));
        child.send(SIGINT);  // false when the backup already ended
        ASSERT_TRUE(p.waitForFinished(120000));
        err += p.readAllStandardError();
        const qint64 count = listedCount(run({QStringLiteral("localdbs")}).out, name);
        // Ended before its commit (nothing written) or after it (everything).
        if (p.exitCode() == 3)
            EXPECT_EQ(count, -1) << err.constData();
        else
            EXPECT_TRUE(p.exitCode() == 0 && count == big.expectedCount) << p.exitCode() << err.constData();
    }
}

TEST_F(CliProcess, MessagesWithoutStanzaIdOrJidAreAddedOnce)
{
    const SampleChatDb s = sample(QStringLiteral("nulls"), 60);
    {
        Sqlite3DB db;
        db.openThrow(s.folder.databasePath, SQLITE_OPEN_READWRITE);
        db.executeThrow(Sqlite3Sql("update ZWAMESSAGE set ZSTANZAID=NULL where Z_PK % 4 = 0"));
        db.executeThrow(Sqlite3Sql("update ZWAMESSAGE set ZSTANZAID='' where Z_PK % 4 = 1"));
        db.executeThrow(Sqlite3Sql("update ZWAMESSAGE set ZFROMJID=NULL, ZTOJID=NULL where Z_PK % 4 = 2"));
        db.executeThrow(Sqlite3Sql("update ZWAMESSAGE set ZFROMJID='', ZTOJID='', ZTEXT=NULL where Z_PK % 4 = 3"));
        db.close();
    }
    const Result first = run({QStringLiteral("backup"), s.folder.root, QStringLiteral("--to"), QStringLiteral("N")});
    ASSERT_EQ(first.code, 0) << first.err.toStdString();
    const qint64 count = listedCount(run({QStringLiteral("localdbs")}).out, QStringLiteral("N"));
    EXPECT_GT(count, s.expectedCount / 2);
    for (int again = 0; again < 2; ++again) {
        const Result r = run({QStringLiteral("backup"), s.folder.root, QStringLiteral("--to"), QStringLiteral("N")});
        ASSERT_EQ(r.code, 0) << r.err.toStdString();
        EXPECT_TRUE(r.out.contains(QStringLiteral(", 0 new"))) << r.out.toStdString();
        EXPECT_EQ(listedCount(run({QStringLiteral("localdbs")}).out, QStringLiteral("N")), count);
    }
}

TEST_F(CliProcess, AMissingAttachmentIsCountedAndAFullDiskFailsTheBackup)
{
    const SampleChatDb s = sample(QStringLiteral("media"));
    const QString image = s.folder.mediaFolder + QStringLiteral("/Media/") + kAnna + QStringLiteral("/a/b/IMG_1.jpg");
    ASSERT_TRUE(QFileInfo(image).isFile());
    const QByteArray original = [&] {
        QFile f(image);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();

    // A source "file" that is a folder: skipped, and counted with the
    // attachments the sample lacks anyway.
    auto missing = [](const Result& r) {
        const QRegularExpressionMatch m =
            QRegularExpression(QStringLiteral("(\\d+) attachments were missing")).match(r.out + r.err);
        return m.hasMatch() ? m.captured(1).toInt() : 0;
    };
    const Result pristine = run({QStringLiteral("backup"), s.folder.root, QStringLiteral("--to"), QStringLiteral("M0")});
    ASSERT_EQ(pristine.code, 0) << pristine.err.toStdString();
    ASSERT_TRUE(QFile::remove(image));
    ASSERT_TRUE(QDir().mkpath(image));
    const Result counted = run({QStringLiteral("backup"), s.folder.root, QStringLiteral("--to"), QStringLiteral("M")});
    EXPECT_EQ(counted.code, 0) << counted.err.toStdString();
    EXPECT_EQ(missing(counted), missing(pristine) + 1) << (counted.out + counted.err).toStdString();

    // A data folder that is full: the backup fails, names the file and the
    // free space, and adds nothing.
    const QString mount = dir.filePath(QStringLiteral("small"));
    ASSERT_TRUE(QDir().mkpath(mount));
    QProcess mounter;
    mounter.start(QStringLiteral("mount"), {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                                            QStringLiteral("size=8m"), QStringLiteral("tmpfs"), mount});
    if (!mounter.waitForFinished(20000) || mounter.exitStatus() != QProcess::NormalExit || mounter.exitCode() != 0)
        GTEST_SKIP() << "mounting an 8 MiB tmpfs was refused: " << mounter.readAllStandardError().toStdString();
    struct Unmount {
        QString path;
        ~Unmount() { QProcess::execute(QStringLiteral("umount"), {QStringLiteral("-l"), path}); }
    } unmount{mount};
    env.insert(QStringLiteral("XDG_DATA_HOME"), mount);
    ASSERT_EQ(QDir(image).removeRecursively(), true);
    {
        // A 6 MiB photo does not fit once the database is in.
        QFile big(image);
        ASSERT_TRUE(big.open(QIODevice::WriteOnly));
        big.write(original);
        big.write(QByteArray(6 << 20, '\x5a'));
        QFile filler(mount + QStringLiteral("/filler"));
        ASSERT_TRUE(filler.open(QIODevice::WriteOnly));
        filler.write(QByteArray(3 << 20, '\0'));
    }
    const Result full = run({QStringLiteral("backup"), s.folder.root, QStringLiteral("--to"), QStringLiteral("Full")});
    EXPECT_EQ(full.code, 1) << full.out.toStdString();
    EXPECT_TRUE(full.err.contains(QStringLiteral("IMG_1.jpg")) && full.err.contains(QStringLiteral("MB are free")))
        << full.err.toStdString();
    EXPECT_EQ(listedCount(run({QStringLiteral("localdbs")}).out, QStringLiteral("Full")), -1);
}
