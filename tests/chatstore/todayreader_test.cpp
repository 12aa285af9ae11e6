// Reading what a recent app stores: @lid members and chats named through
// LID.sqlite, ContactsV2, chat identifiers and push names; replies of every
// kind in reply metadata; reactions; polls; the newer message types.
#include "chatstore/chatdbview.h"
#include "chatstore/displayrules.h"
#include "chatstore/ioswhatsappdb.h"
#include "chatstore/wamsgsdatasource.h"
#include "samplereader.h"
#include "tools/fixturebuilder/chatdbbuilder.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace sampletest;

namespace {

class TodaySample : public ::testing::Test, protected OpenedSample {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        open(ChatDbLayout::Today, false);
    }
};

std::shared_ptr<IOSWhatsAppDb> openFolder(const ChatDbFolder& f)
{
    return sampletest::openFolder(f, false);
}

}  // namespace

TEST_F(TodaySample, LidChatsAreListedAndCounted)
{
    EXPECT_EQ(int(view->index().sessions.size()), sample.expectedChats);
    EXPECT_EQ(qint64(all.size()), sample.expectedCount);
    const PChatSession lid = view->index().session(id("chat.lid"));
    ASSERT_TRUE(lid);
    EXPECT_FALSE(lid->isGroup());
    EXPECT_EQ(lid->contactPhone, QStringLiteral("4915550016"));
    EXPECT_EQ(sessionDisplayName(*lid, true, false), QStringLiteral("4915550016"));
    EXPECT_EQ(db->countMessages(lid.get()), 1);
    EXPECT_EQ(msg("msg.lidChat").ZTEXT, QStringLiteral("hello from a lid chat"));
    for (const char* hidden : {"msg.pollVoteLink", "msg.type10"})
        EXPECT_EQ(msg(QString::fromLatin1(hidden)).Z_PK, 0) << hidden;

    // A source that is only read resolves the same people, and the files
    // beside it stay as they were.
    const QByteArray lidBefore = [&] {
        QFile f(dir.filePath("LID.sqlite"));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();
    auto readOnly = sampletest::openFolder(sample.folder, false);
    readOnly->setReadOnly(true);
    ChatIndex index;
    readOnly->listSessions(index);
    EXPECT_EQ(index.session(id("chat.lid"))->contactPhone, QStringLiteral("4915550016"));
    EXPECT_EQ(index.session(id("chat.today"))->members.value("100000000000005@lid")->phone, QStringLiteral("4915550015"));
    EXPECT_EQ(index.session(id("chat.today"))->members.value("100000000000002@lid")->pushName, QStringLiteral("Greta"));
    readOnly->closeDb();
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("LID.sqlite-shm")));
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("ContactsV2.sqlite-shm")));
    QFile after(dir.filePath("LID.sqlite"));
    ASSERT_TRUE(after.open(QIODevice::ReadOnly));
    EXPECT_EQ(after.readAll(), lidBefore);
}

TEST_F(TodaySample, SendersAndTextsAsShown)
{
    struct Case {
        const char* name;
        const char* title;
        const char* text;
    };
    const Case cases[] = {
        {"msg.today.lid1", "Today - 4915550011", "from lid1"},          // LID.sqlite, account shape
        {"msg.today.lid2", "Today - ~Greta", "from lid2"},              // push name only
        {"msg.today.lid3", "Today - 100000000000003@lid", "from lid3"}, // nothing known
        {"msg.today.lid4", "Today - 4915550014", "from lid4"},          // pair table inside the chat database
        {"msg.today.lid5", "Today - 4915550015", "from lid5"},          // ContactsV2 ZLID
        {"msg.reply.text", nullptr, "[QUOTED]4915550011: quoted text[/QUOTED]\nre"},
        {"msg.reply.extended", nullptr, "[QUOTED]~Greta: reply to a reply[/QUOTED]\nre"},
        {"msg.reply.image", nullptr, "[QUOTED]You: [IMAGE][/QUOTED]\nre"},
        {"msg.reply.document", nullptr, "[QUOTED]100000000000003@lid: [DOCUMENT][/QUOTED]\nre"},
        {"msg.reply.sticker", nullptr, "[QUOTED]4915550014: [STICKER][/QUOTED]\nre"},
        {"msg.reply.card", nullptr, "[QUOTED]Anna: [VCARD][/QUOTED]\nre"},
        {"msg.reply.cards", nullptr, "[QUOTED]4915550015: [VCARDS][/QUOTED]\nre"},
        {"msg.reply.location", nullptr, "[QUOTED]Anna: [LOCATION][/QUOTED]\nre"},
        {"msg.reply.audio", nullptr, "[QUOTED]Anna: [AUDIO][/QUOTED]\nre"},
        {"msg.reply.video", nullptr, "[QUOTED]Anna: [VIDEO][/QUOTED]\nre"},
        {"msg.reply.twin", nullptr, "[QUOTED]Hanna: twin[/QUOTED]\nre"},  // phone JID of an @lid member
        {"msg.reply.status", nullptr, "[QUOTED]Anna: [IMAGE][/QUOTED]\nre"},
        {"msg.reply.link", nullptr, "[QUOTED]4915550011: which one?[/QUOTED]\nhttps://example.org/today"},
        {"msg.reply.truncated", nullptr, "broken quote"},
        {"msg.poll", "Today - ~Greta", "[POLL] Lunch? (Pizza: 1, Sushi: 3, Salad: 0)"},
        {"msg.deleted", nullptr, "[MESSAGE DELETED]"},
        {"msg.viewOnceImage", nullptr, "once[VIEW ONCE IMAGE]"},
        {"msg.viewOnceVideo", nullptr, "[VIEW ONCE VIDEO]"},
        {"msg.viewOnceAudio", nullptr, " [VIEW ONCE AUDIO]"},
        {"msg.roundVideo", nullptr, "[VIDEO] hi"},
        {"msg.call", nullptr, "[CALL]"},
    };
    for (const Case& c : cases) {
        const _Message m = msg(QString::fromLatin1(c.name));
        ASSERT_NE(m.Z_PK, 0) << c.name;
        EXPECT_EQ(messageDisplayText(m), QString::fromUtf8(c.text)) << c.name;
        if (c.title)
            EXPECT_EQ(messageTitle(m), QString::fromUtf8(c.title)) << c.name;
    }
    const _Message status = msg(QStringLiteral("msg.reply.status"));
    ASSERT_TRUE(status.media);
    EXPECT_EQ(status.media->quote.remoteJid, QStringLiteral("status@broadcast"));
}

TEST_F(TodaySample, StoredBytesStayWithTheRecords)
{
    // The link keeps its quote and the metadata exactly as stored.
    const _Message link = msg(QStringLiteral("msg.reply.link"));
    ASSERT_TRUE(link.media);
    Sqlite3DB raw;
    raw.openThrow(sample.folder.databasePath, SQLITE_OPEN_READONLY);
    Sqlite3Sql sql("select ZMETADATA from ZWAMEDIAITEM where Z_PK=?");
    sql.addInt64Param(id(QStringLiteral("media.reply.link")));
    Sqlite3Cursor c = raw.queryThrow(sql);
    ASSERT_TRUE(c.moveNext());
    EXPECT_EQ(link.media->ZMETADATA, c.getBlob(QStringLiteral("ZMETADATA")));
    EXPECT_EQ(link.media->quote.stanzaId, QStringLiteral("3EB0AD"));

    // Both receipt rows, as stored, and what they hold.
    const _Message reacted = msg(QStringLiteral("msg.reacted"));
    ASSERT_EQ(reacted.receiptInfos.size(), 2);
    EXPECT_EQ(reacted.receipts.size(), 1);
    EXPECT_EQ(reactionsText(reacted), QStringLiteral("4915550011 \U0001F44D, ~Greta \u2764\uFE0F, You \U0001F602, Anna \U0001F389"));
    EXPECT_EQ(reacted.reactions.size(), 5);  // the withdrawn one is kept, not shown
    // Reading one message the slow way gives the same.
    Sqlite3Sql one("select * from ZWAMESSAGE where Z_PK=?");
    one.addInt64Param(reacted.Z_PK);
    Sqlite3Cursor row = db->db().queryThrow(one);
    ASSERT_TRUE(row.moveNext());
    const _Message again = db->rowToMessage(row, view->index());
    EXPECT_EQ(again.receiptInfos, reacted.receiptInfos);
    EXPECT_EQ(reactionsText(again), reactionsText(reacted));
}

TEST(JidDirectory, LidDatabaseInBothShapesAndMissingSources)
{
    for (bool accountShape : {true, false}) {
        QTemporaryDir dir;
        ChatDbBuilder b(dir.path(), ChatDbLayout::Modern);
        const qint64 chat = b.addGroup(QStringLiteral("1-2@g.us"), QStringLiteral("G"));
        b.addMember(chat, QStringLiteral("111@lid"), QString());
        b.addMember(chat, QStringLiteral("222@lid"), QString());
        b.writeLidDatabase({{accountShape ? QStringLiteral("111@lid") : QStringLiteral("111"), QStringLiteral("4915550111")},
                            {QStringLiteral("222@lid"), QStringLiteral("+49 (155) 50222")}},
                           accountShape);
        b.commit();
        auto db = openFolder(b.folder());
        ChatIndex index;
        db->listSessions(index);
        const PChatSession s = index.session(chat);
        ASSERT_TRUE(s);
        EXPECT_EQ(s->members.value(QStringLiteral("111@lid"))->phone, QStringLiteral("4915550111")) << accountShape;
        EXPECT_EQ(s->members.value(QStringLiteral("222@lid"))->phone, QStringLiteral("4915550222")) << accountShape;
        EXPECT_EQ(db->jidDirectory().twinOf(QStringLiteral("4915550111@s.whatsapp.net")), QStringLiteral("111@lid"));
    }

    // No LID.sqlite, no ContactsV2, no push-name table: fewer names, no error.
    QTemporaryDir dir;
    ChatDbBuilder b(dir.path(), ChatDbLayout::Local);
    const qint64 chat = b.addChat(QStringLiteral("333@lid"), QString());
    b.addMessage({.chat = chat, .type = 0, .text = QStringLiteral("hi")});
    b.commit();
    QFile(dir.filePath("LID.sqlite")).open(QIODevice::WriteOnly);  // empty file
    auto db = openFolder(b.folder());
    ChatIndex index;
    ASSERT_NO_THROW(db->listSessions(index));
    ASSERT_TRUE(index.session(chat));
    EXPECT_EQ(sessionDisplayName(*index.session(chat), true, false), QStringLiteral("333@lid"));
    EXPECT_EQ(db->countMessages(nullptr), 1);
}

TEST(JidDirectory, ContactsV2FoundBesideTheChatDatabaseByEitherIdForm)
{
    QTemporaryDir dir;
    ChatDbBuilder b(dir.path(), ChatDbLayout::Modern);
    b.writeContactsV2({{QStringLiteral("4915550001@s.whatsapp.net"), QStringLiteral("CN-WHOLE"), QString()},
                       {QStringLiteral("4915550002"), QStringLiteral("CN-DIGITS"), QStringLiteral("444@lid")}});
    b.commit();
    // No Contacts.sqlite path at all: ContactsV2 beside ChatStorage.sqlite is used.
    auto db = std::make_shared<IOSWhatsAppDb>(b.folder().databasePath, QString(), b.folder().mediaFolder,
                                              b.folder().profileFolder, false);
    struct Case {
        const char* id;
        const char* expected;
    };
    const Case cases[] = {
        {"4915550001@s.whatsapp.net", "CN-WHOLE"}, {"4915550001", "CN-WHOLE"},
        {"4915550002@s.whatsapp.net", "CN-DIGITS"}, {"4915550002", "CN-DIGITS"},
        {"4915550003", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(db->contactIdentifierFromContactV2Db(QString::fromLatin1(c.id)), QString::fromLatin1(c.expected))
            << c.id;
    EXPECT_EQ(db->jidDirectory().phoneOf(QStringLiteral("444@lid")), QStringLiteral("4915550002"));
}
