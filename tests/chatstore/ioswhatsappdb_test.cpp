// Reading chat databases of the program's own layout and of a recent phone:
// chats, counts, pages, media files, quotes, parents, receipts, removed
// chats and the look-ups of the merge writer.
#include "base/apperror.h"
#include "base/recordingmonitor.h"
#include "chatstore/chatdbview.h"
#include "chatstore/displayrules.h"
#include "chatstore/ioswhatsappdb.h"
#include "chatstore/loadwhatsappdbthread.h"
#include "chatstore/wamsgsdatasource.h"
#include "chatstore/wamsgslistsource.h"
#include "samplereader.h"
#include "tools/fixturebuilder/chatdbbuilder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using namespace sampletest;

struct LayoutCase {
    ChatDbLayout layout;
    bool device;
    const char* name;
};

class SampleReader : public ::testing::TestWithParam<LayoutCase>, protected OpenedSample {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        open(GetParam().layout, GetParam().device);
    }
    qint64 id(const char* name) const { return OpenedSample::id(QString::fromLatin1(name)); }
    _Message msg(const char* name) const { return OpenedSample::msg(QString::fromLatin1(name)); }
};

}  // namespace

TEST_P(SampleReader, ListsPersonalAndGroupChatsOnly)
{
    const ChatIndex& index = view->index();
    ASSERT_EQ(int(index.sessions.size()), sample.expectedChats);
    for (const auto& [pk, s] : index.sessions) {
        EXPECT_FALSE(s->ZCONTACTJID.contains(QLatin1String("broadcast"))) << s->ZCONTACTJID.toStdString();
        EXPECT_NE(pk, id("chat.removed"));
    }
    const PChatSession anna = index.session(id("chat.anna"));
    ASSERT_TRUE(anna);
    EXPECT_FALSE(anna->isGroup());
    EXPECT_EQ(anna->thumbnailPath, QDir(sample.folder.profileFolder).absoluteFilePath("4915550001.thumb"));
    EXPECT_TRUE(QFileInfo(anna->picturePath).isFile());
    const PChatSession group = index.session(id("chat.group"));
    ASSERT_TRUE(group && group->isGroup());
    EXPECT_EQ(group->groupInfo->session.lock(), group);
    EXPECT_EQ(group->members.size(), 3);
    EXPECT_EQ(sessionDisplayName(*group, false, false), QStringLiteral("Family"));
    EXPECT_EQ(sessionDisplayName(*index.session(id("chat.group2")), false, false),
              QStringLiteral("Group4915550009-1600000000"));
    EXPECT_EQ(sessionDisplayName(*index.session(id("chat.ben")), true, false), QStringLiteral("4915550002"));
}

TEST_P(SampleReader, CountsAndPagesOnlyLoadedTypesOfListedChats)
{
    EXPECT_EQ(view->count(nullptr), sample.expectedCount);
    EXPECT_EQ(qint64(all.size()), sample.expectedCount);
    for (const _Message& m : all) {
        EXPECT_TRUE(QList<int>({0, 1, 2, 3, 4, 5, 6, 7, 8, 11, 14, 15, 38, 39, 46, 53, 54, 59}).contains(m.ZMESSAGETYPE))
            << m.ZMESSAGETYPE;
        ASSERT_TRUE(m.session) << m.Z_PK;
    }
    for (const char* hidden : {"msg.type9", "msg.type12", "msg.broadcast", "msg.status"})
        EXPECT_EQ(byId(all, id(hidden)).Z_PK, 0) << hidden;
    // A group event is a message of its group like any other.
    const _Message event = byId(all, id("msg.groupEvent"));
    EXPECT_EQ(event.ZMESSAGETYPE, 6);
    ASSERT_TRUE(event.member);
    EXPECT_EQ(messageDisplayText(event), memberDisplayName(*event.member, false) + QStringLiteral(" joined"));
    // Per chat, and the chat sums add up.
    qint64 sum = 0;
    for (const auto& [pk, s] : view->index().sessions) {
        const qint64 n = db->countMessages(s.get());
        EXPECT_EQ(qint64(readAll(view, s, true).size()), n);
        sum += n;
    }
    EXPECT_EQ(sum, sample.expectedCount);
    // In date order.
    for (int i = 1; i < all.size(); ++i)
        EXPECT_LE(all[i - 1].ZMESSAGEDATE, all[i].ZMESSAGEDATE);
}

TEST_P(SampleReader, MediaFilesResolveInsideTheMediaFolder)
{
    const _Message image = msg("msg.image");
    ASSERT_TRUE(image.media);
    EXPECT_TRUE(QFileInfo(image.media->mediaFile).isFile()) << image.media->mediaFile.toStdString();
    EXPECT_EQ(image.media->thumbnailFile, image.media->mediaFile);
    EXPECT_EQ(messageDisplayText(image), QStringLiteral("look[IMAGE] Beach"));

    // A stored leading "/" makes no difference.
    const _Message slash = msg("msg.imageSlash");
    ASSERT_TRUE(slash.media);
    EXPECT_TRUE(slash.media->ZMEDIALOCALPATH.startsWith(QLatin1Char('/')));
    EXPECT_TRUE(QFileInfo(slash.media->mediaFile).isFile());
    EXPECT_EQ(db->resolveMediaPath(slash.media->ZMEDIALOCALPATH), db->resolveMediaPath(slash.media->ZMEDIALOCALPATH.mid(1)));

    // A missing video with a thumbnail on disk falls back to the thumbnail.
    const _Message video = msg("msg.video");
    ASSERT_TRUE(video.media);
    EXPECT_TRUE(video.media->mediaFile.endsWith(QLatin1String("VID_1.thumb")));
    EXPECT_EQ(video.media->thumbnailFile, video.media->mediaFile);

    // A path that climbs out of the media folder resolves to nothing, even
    // though a file lies there.
    const _Message escape = msg("msg.escape");
    ASSERT_TRUE(escape.media);
    ASSERT_TRUE(QFileInfo(sample.folder.appFolder + "/outside.jpg").isFile());
    EXPECT_EQ(escape.media->mediaFile, QString());
    EXPECT_EQ(escape.media->thumbnailFile, QString());
    for (const QString& hostile : {QStringLiteral("../outside.jpg"), QStringLiteral("/../outside.jpg"),
                                   QStringLiteral("Media/../../outside.jpg"), QStringLiteral("//etc/passwd")})
        EXPECT_EQ(db->resolveMediaPath(hostile), QString()) << hostile.toStdString();
}

TEST_P(SampleReader, LinksDocumentsAndCards)
{
    // A link keeps what is stored (its type, its own text and its media item
    // with the URL); only its display shows the URL in the text's place.
    const _Message link = msg("msg.link");
    EXPECT_EQ(link.ZMESSAGETYPE, 7);
    EXPECT_EQ(link.ZTEXT, QStringLiteral("see"));
    ASSERT_TRUE(link.media);
    EXPECT_EQ(link.media->ZMEDIAURL, QStringLiteral("https://example.org/page"));
    EXPECT_EQ(messageDisplayText(link), QStringLiteral("https://example.org/page"));

    const _Message doc = msg("msg.document");
    ASSERT_TRUE(doc.media);
    EXPECT_EQ(doc.media->ZTITLE, QStringLiteral("Report: Q1.pdf"));
    EXPECT_EQ(messageDisplayText(doc), QStringLiteral(" [DOCUMENT-Report%3a Q1.pdf]"));
    // Without an author name the trimmed message text is the title.
    const _Message noAuthor = msg("msg.documentNoAuthor");
    ASSERT_TRUE(noAuthor.media);
    EXPECT_EQ(noAuthor.media->ZTITLE, QStringLiteral("notes.txt"));

    const _Message cards = msg("msg.contacts");
    ASSERT_TRUE(cards.media);
    EXPECT_EQ(cards.media->cardTexts.size(), 2);
    EXPECT_EQ(cardDisplayName(*cards.media), QStringLiteral("2 contacts"));
    EXPECT_TRUE(msg("msg.starred").ZSTARRED != 0 ||
                !db->schema().hasColumn(QStringLiteral("ZWAMESSAGE"), QStringLiteral("ZSTARRED")));
}

TEST_P(SampleReader, QuotesReadFromWhereTheLayoutKeepsThem)
{
    const bool quotesStored = GetParam().layout != ChatDbLayout::Script;
    const _Message audio = msg("msg.audio");
    ASSERT_TRUE(audio.media);
    if (!quotesStored) {
        EXPECT_FALSE(audio.media->hasQuote());
        EXPECT_EQ(messageDisplayText(audio), QStringLiteral(" [AUDIO]"));
        return;
    }
    // The same text whether it came from ZMETADATA or QM_QUOTED_DATA.
    EXPECT_EQ(messageDisplayText(audio), QStringLiteral("[QUOTED]Anna: Hello Anna again[/QUOTED]\n [AUDIO]"));
    EXPECT_EQ(audio.media->quote.stanzaId, QStringLiteral("3EB0QUOTED1"));
    EXPECT_EQ(messageDisplayText(msg("msg.reply")), QStringLiteral("[QUOTED]You: [IMAGE][/QUOTED]\nNice photo"));
    // In a group the sender's name comes from the chat's members.
    const _Message groupImage = msg("msg.groupImage");
    ASSERT_TRUE(groupImage.media);
    EXPECT_EQ(groupImage.media->quote.senderName, QStringLiteral("Dora"));
    EXPECT_EQ(messageDisplayText(groupImage), QStringLiteral("[QUOTED]Dora: [VIDEO][/QUOTED]\n[IMAGE] cake"));
    EXPECT_EQ(messageTitle(groupImage), QStringLiteral("Family - Anna"));
}

TEST_P(SampleReader, ReceiptsAndParents)
{
    const _Message image = msg("msg.image");
    if (GetParam().layout == ChatDbLayout::Script) {
        EXPECT_TRUE(image.receipts.isEmpty());
        EXPECT_FALSE(msg("msg.text").parent);
        return;
    }
    ASSERT_EQ(image.receipts.size(), 2);
    const qint64 t0 = 978307200 + 600000000;
    EXPECT_EQ(image.receipts[0].recipient, QStringLiteral("4915550001@s.whatsapp.net"));
    EXPECT_EQ(image.receipts[0].time1.toSecsSinceEpoch(), t0 + 10);
    EXPECT_EQ(image.receipts[0].time2.toSecsSinceEpoch(), t0 + 70);
    EXPECT_EQ(image.receipts[1].recipient, QStringLiteral("4915550002"));
    EXPECT_EQ(image.receipts[1].time1.toSecsSinceEpoch(), t0 + 12);
    EXPECT_FALSE(image.receipts[1].time2.isValid());

    const _Message child = msg("msg.child");
    ASSERT_TRUE(child.parent);
    EXPECT_EQ(child.parent->Z_PK, id("msg.text"));
    EXPECT_EQ(child.parent->ZTEXT, QStringLiteral("Hello Anna \U0001F600"));
    // Two messages naming each other: the chain stops.
    for (const char* name : {"msg.loopA", "msg.loopB"}) {
        const _Message m = msg(name);
        int depth = 0;
        for (auto p = m.parent; p; p = p->parent)
            ASSERT_LT(++depth, IOSWhatsAppDb::kMaxParentDepth + 2);
        EXPECT_GE(depth, 1) << name;
        EXPECT_LE(depth, 2) << name;
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, SampleReader,
                         ::testing::Values(LayoutCase{ChatDbLayout::Script, false, "Script"},
                                           LayoutCase{ChatDbLayout::Local, false, "Local"},
                                           LayoutCase{ChatDbLayout::Modern, true, "ModernDevice"},
                                           LayoutCase{ChatDbLayout::Today, false, "Today"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(IOSWhatsAppDb, RemovedChatsGoOnOpeningWithTheirRows)
{
    QTemporaryDir dir;
    const SampleChatDb sample = buildSampleChatDb(dir.path(), ChatDbLayout::Modern, 0, true);
    const qint64 removed = sample.ids.value("chat.removed");
    const qint64 gone = sample.ids.value("msg.removed");
    {
        auto db = openFolder(sample.folder, false);
        EXPECT_EQ(db->countMessages(nullptr), sample.expectedCount);
        db->closeDb();
    }
    Sqlite3DB raw;
    raw.openThrow(sample.folder.databasePath, SQLITE_OPEN_READWRITE);
    auto scalar = [&raw](const QString& sql) {
        Sqlite3Cursor c = raw.queryThrow(sql);
        return c.moveNext() ? c.getInt64(0) : -1;
    };
    EXPECT_EQ(scalar(QStringLiteral("select count(*) from ZWACHATSESSION where Z_PK=%1").arg(removed)), 0);
    EXPECT_EQ(scalar(QStringLiteral("select count(*) from ZWAMESSAGE where ZCHATSESSION=%1").arg(removed)), 0);
    EXPECT_EQ(scalar(QStringLiteral("select count(*) from ZWAMESSAGEINFO where ZMESSAGE=%1").arg(gone)), 0);
    EXPECT_EQ(scalar(QStringLiteral("select count(*) from ZWAMEDIAITEM where ZMEDIALOCALPATH='Media/eve.jpg'")), 0);
    // The other chat's message that named a removed message as its parent no longer does.
    EXPECT_EQ(scalar(QStringLiteral("select ifnull(ZPARENTMESSAGE,0) from ZWAMESSAGE where Z_PK=%1")
                         .arg(sample.ids.value("msg.parentInRemoved"))),
              0);
    EXPECT_EQ(scalar(QStringLiteral("select count(*) from ZWAMESSAGE")) > 0, true);
}

TEST(IOSWhatsAppDb, AReadOnlySourceIsReadWithoutAnyChangeBesideIt)
{
    QTemporaryDir dir;
    qputenv("TMPDIR", dir.filePath("tmp").toUtf8());
    QDir().mkpath(dir.filePath("tmp"));
    const SampleChatDb sample = buildSampleChatDb(dir.filePath("phone"), ChatDbLayout::Modern, 0, true);
    const QString folder = QFileInfo(sample.folder.databasePath).absolutePath();
    auto listing = [&] { return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name); };
    auto bytes = [&] {
        QFile f(sample.folder.databasePath);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    struct Case {
        const char* name;
        bool wal;  // the file is in write-ahead-log mode, with a log beside it
    };
    for (const Case& c : {Case{"rollback journal", false}, Case{"write-ahead log", true}}) {
        SCOPED_TRACE(c.name);
        Sqlite3DB writer;
        if (c.wal) {
            writer.openThrow(sample.folder.databasePath, SQLITE_OPEN_READWRITE);
            writer.executeThrow("PRAGMA journal_mode=WAL");
            writer.executeThrow("PRAGMA wal_autocheckpoint=0");
            writer.executeThrow("update ZWAMESSAGE set ZTEXT='logged' where Z_PK=(select min(Z_PK) from ZWAMESSAGE "
                                "where ZMESSAGETYPE=0)");
            // The log stays, but SQLite's index beside it must not be needed.
            QFile::remove(sample.folder.databasePath + "-shm");
        }
        const QStringList before = listing();
        const QByteArray stored = bytes();
        {
            auto db = openFolder(sample.folder, false);
            db->setReadOnly(true);
            auto view = std::make_shared<ChatDbView>(db);
            db->listSessions(view->index());
            // Chats marked removed stay stored but are neither listed nor counted.
            EXPECT_FALSE(view->index().session(sample.ids.value("chat.removed")));
            EXPECT_EQ(db->countMessages(nullptr), sample.expectedCount);
            const QList<_Message> all = readAll(view, nullptr, true);
            EXPECT_EQ(all.size(), sample.expectedCount);
            EXPECT_EQ(std::count_if(all.begin(), all.end(), [](const _Message& m) { return m.ZTEXT == "logged"; }),
                      c.wal ? 1 : 0);
            // Only a log makes it read a private copy.
            EXPECT_EQ(db->openedPath() == sample.folder.databasePath, !c.wal) << db->openedPath().toStdString();
            // Writing into a read-only source fails.
            EXPECT_ANY_THROW(db->deleteChat(sample.ids.value("chat.anna")));
            db->closeDb();
        }
        EXPECT_EQ(listing(), before);
        EXPECT_EQ(bytes(), stored);
    }
    qunsetenv("TMPDIR");
}

TEST(IOSWhatsAppDb, MissingDatabaseIsAnErrorUnlessItIsALocalOne)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("copy/ChatStorage.sqlite");
    QDir().mkpath(dir.filePath("copy"));
    IOSWhatsAppDb device(path, QString(), dir.filePath("copy/Library"), dir.filePath("copy/Library/Media/Profile"),
                         false);
    ChatIndex index;
    try {
        device.listSessions(index);
        FAIL() << "a missing device database was opened";
    } catch (const std::exception& e) {
        EXPECT_TRUE(QString::fromUtf8(e.what()).contains(QDir::toNativeSeparators(path))) << e.what();
    }
    EXPECT_FALSE(QFileInfo::exists(path));

    // A local database is created and upgraded on first use.
    const QString local = dir.filePath("local/ChatStorage.sqlite");
    QDir().mkpath(dir.filePath("local"));
    IOSWhatsAppDb db(local, QString(), dir.filePath("local/Library"), dir.filePath("local/Library/Media/Profile"),
                     true);
    db.listSessions(index);
    EXPECT_TRUE(index.sessions.empty());
    EXPECT_EQ(db.countMessages(nullptr), 0);
    EXPECT_TRUE(db.schema().hasColumn(QStringLiteral("ZWAMEDIAITEM"), QStringLiteral("QM_QUOTED_DATA")));
    EXPECT_EQ(db.entityId(QStringLiteral("WAMessageInfo")), 11);
}

TEST(IOSWhatsAppDb, FailingCountIsAnErrorNotZero)
{
    QTemporaryDir dir;
    const SampleChatDb sample = buildSampleChatDb(dir.path(), ChatDbLayout::Local);
    {
        Sqlite3DB raw;
        raw.openThrow(sample.folder.databasePath, SQLITE_OPEN_READWRITE);
        raw.executeThrow("drop table ZWAMESSAGE");
    }
    auto view = std::make_shared<ChatDbView>(openFolder(sample.folder, false));
    WAMsgsDataSource source(view, nullptr, true);
    EXPECT_THROW(source.count(), std::exception);
    // Not remembered as a count either.
    EXPECT_THROW(source.count(), std::exception);
}

TEST(IOSWhatsAppDb, LookUpsForTheMergeWriter)
{
    QTemporaryDir dir;
    const SampleChatDb modern = buildSampleChatDb(dir.filePath("m"), ChatDbLayout::Modern, 0, true);
    auto db = openFolder(modern.folder, false);
    EXPECT_EQ(db->entityId(QStringLiteral("WAMessage")), 14);
    EXPECT_EQ(db->entityId(QStringLiteral("WAChatSession")), 6);
    EXPECT_EQ(db->entityId(QStringLiteral("WAMessageWord")), 0);
    EXPECT_EQ(db->abUserIdByName().value(QStringLiteral("Anna")), 101);
    EXPECT_EQ(db->abUserIdByName().value(QStringLiteral("Dora")), 104);
    EXPECT_EQ(db->contactIdentifierFromContactV2Db(QStringLiteral("4915550001")), QStringLiteral("AB12-CD34"));
    EXPECT_EQ(db->contactIdentifierFromContactV2Db(QStringLiteral("0000")), QString());
    // The device database was not upgraded.
    EXPECT_FALSE(db->schema().hasColumn(QStringLiteral("ZWAMEDIAITEM"), QStringLiteral("QM_QUOTED_DATA")));

    const SampleChatDb local = buildSampleChatDb(dir.filePath("l"), ChatDbLayout::Local);
    auto ldb = openFolder(local.folder, true);
    EXPECT_EQ(ldb->entityId(QStringLiteral("WAMessage")), 8);
    EXPECT_TRUE(ldb->abUserIdByName().isEmpty());
    EXPECT_EQ(ldb->contactIdentifierFromContactV2Db(QStringLiteral("4915550001")), QString());
}

TEST(ChatDbView, PagesAcrossTheBoundaryInBothOrders)
{
    QTemporaryDir dir;
    ChatDbBuilder b(dir.path(), ChatDbLayout::Local);
    const qint64 chat = b.addChat(QStringLiteral("4915550001@s.whatsapp.net"), QStringLiteral("Anna"));
    const qint64 other = b.addChat(QStringLiteral("4915550002@s.whatsapp.net"), QStringLiteral("Ben"));
    const int n = 5003;
    for (int i = 0; i < n; ++i) {
        b.addMessage({.chat = chat, .type = 0, .text = QStringLiteral("m%1").arg(i)});
        if (i % 1000 == 0) {
            // Interleaved rows that must neither count nor shift the pages.
            b.addMessage({.chat = chat, .type = 13, .text = QStringLiteral("y")});
            b.addMessage({.chat = chat, .type = 9, .text = QStringLiteral("x")});
            b.addMessage({.chat = other, .type = 0, .text = QStringLiteral("other")});
        }
    }
    b.commit();
    auto db = openFolder(b.folder(), true);
    auto view = std::make_shared<ChatDbView>(db);
    db->listSessions(view->index());
    const PChatSession anna = view->index().session(chat);
    WAMsgsDataSource up(view, anna, true);
    WAMsgsDataSource down(view, anna, false);
    ASSERT_EQ(up.count(), n);
    ASSERT_EQ(down.count(), n);
    struct Case {
        qint64 index;
        const char* ascending;
        const char* descending;
    };
    const Case cases[] = {{0, "m0", "m5002"},       {4999, "m4999", "m3"}, {5000, "m5000", "m2"},
                          {5001, "m5001", "m1"},    {5002, "m5002", "m0"}, {4998, "m4998", "m4"}};
    for (const Case& c : cases) {
        EXPECT_EQ(up.at(c.index).ZTEXT, QString::fromLatin1(c.ascending)) << c.index;
        EXPECT_EQ(down.at(c.index).ZTEXT, QString::fromLatin1(c.descending)) << c.index;
    }
    EXPECT_EQ(up.at(n).Z_PK, 0);
    EXPECT_EQ(up.at(-1).Z_PK, 0);
    // All chats together.
    WAMsgsDataSource everything(view, nullptr, true);
    EXPECT_EQ(everything.count(), n + 6);

    // The cache keeps the count and the page until it is reset.
    ASSERT_EQ(up.count(), n);
    ASSERT_EQ(up.at(0).ZTEXT, QStringLiteral("m0"));
    {
        Sqlite3DB raw;
        raw.openThrow(b.folder().databasePath, SQLITE_OPEN_READWRITE);
        raw.executeThrow(Sqlite3Sql(QStringLiteral("delete from ZWAMESSAGE where ZTEXT='m0'")));
    }
    EXPECT_EQ(up.count(), n);
    EXPECT_EQ(up.at(0).ZTEXT, QStringLiteral("m0"));
    view->resetCache();
    EXPECT_EQ(up.count(), n - 1);
    EXPECT_EQ(up.at(0).ZTEXT, QStringLiteral("m1"));
}

TEST(MessageSources, SplitBySession)
{
    QTemporaryDir dir;
    const SampleChatDb sample = buildSampleChatDb(dir.path(), ChatDbLayout::Local);
    auto db = openFolder(sample.folder, true);
    auto view = std::make_shared<ChatDbView>(db);
    db->listSessions(view->index());

    WAMsgsDataSource all(view, nullptr, false);
    const SessionSources parts = all.splitBySession();
    ASSERT_EQ(int(parts.size()), sample.expectedChats);
    qint64 sum = 0;
    for (const auto& [session, source] : parts) {
        sum += source->count();
        if (source->count() > 0)
            EXPECT_EQ(source->at(0).session, session);
    }
    EXPECT_EQ(sum, all.count());
    const PChatSession anna = view->index().session(sample.ids.value("chat.anna"));
    WAMsgsDataSource one(view, anna, true);
    const SessionSources single = one.splitBySession();
    ASSERT_EQ(single.size(), 1u);
    EXPECT_EQ(single.begin()->first, anna);
    EXPECT_EQ(single.begin()->second->count(), one.count());

    // A list keeps its order per chat and leaves out messages without chat.
    QList<_Message> picked{all.at(0), all.at(1), all.at(2), _Message(), all.at(3)};
    WAMsgsListSource list(picked);
    EXPECT_EQ(list.count(), 5);
    EXPECT_EQ(list.at(1).Z_PK, picked[1].Z_PK);
    EXPECT_EQ(list.at(5).Z_PK, 0);
    qint64 listed = 0;
    for (const auto& [session, source] : list.splitBySession()) {
        qint64 last = -1;
        for (qint64 i = 0; i < source->count(); ++i) {
            const _Message m = source->at(i);
            EXPECT_EQ(m.session, session);
            qint64 pos = 0;
            while (picked[pos].Z_PK != m.Z_PK)
                ++pos;
            EXPECT_GT(pos, last);
            last = pos;
            ++listed;
        }
    }
    EXPECT_EQ(listed, 4);
}

TEST(LoadWhatsAppDbThread, FillsTheViewOrKeepsTheError)
{
    QTemporaryDir dir;
    const SampleChatDb sample = buildSampleChatDb(dir.path(), ChatDbLayout::Modern);
    {
        LoadWhatsAppDbThread job(openFolder(sample.folder, false));
        RecordingMonitor monitor;
        job.run(monitor);
        EXPECT_FALSE(job.failed());
        ASSERT_FALSE(monitor.reports().isEmpty());
        EXPECT_EQ(monitor.reports().first().status, QStringLiteral("Loading..."));
        EXPECT_EQ(monitor.reports().first().value, 99);
        EXPECT_TRUE(monitor.succeeded());
        EXPECT_EQ(monitor.successes(), QStringList{QString()});
        const PChatDbView view = job.takeResult(false);
        EXPECT_EQ(int(view->index().sessions.size()), sample.expectedChats);
        // A cancelled load gives an empty view over the same database.
        const PChatDbView fresh = job.takeResult(true);
        EXPECT_TRUE(fresh->index().isEmpty());
        EXPECT_EQ(fresh->database(), view->database());
    }
    {
        const QString missing = dir.filePath("nowhere/ChatStorage.sqlite");
        LoadWhatsAppDbThread job(std::make_shared<IOSWhatsAppDb>(missing, QString(), dir.filePath("nowhere/Library"),
                                                                 dir.filePath("nowhere/Library/Media/Profile"), false));
        RecordingMonitor monitor;
        job.run(monitor);
        EXPECT_TRUE(job.failed());
        EXPECT_TRUE(job.errorText().contains(missing)) << job.errorText().toStdString();
        EXPECT_TRUE(monitor.errors().isEmpty());
        EXPECT_THROW(job.takeResult(false), AppError);
    }
}
