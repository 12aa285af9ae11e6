// The merge writer: duplicates, stanza matching, the renumbering and its
// bookkeeping, optional columns, a recent phone's layout as target, files,
// parent cycles, deleting messages, and what a cancelled, failed or killed
// merge leaves behind.
#include "chatstore/backupmessagesthread.h"
#include "chatstore/deletelocaldbmessagesthread.h"
#include "chatstore/displayrules.h"
#include "chatstore/localdatabases.h"
#include "chatstore/wamsgslistsource.h"
#include "mergetestutil.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace mergetest;

namespace {

const QString kAnna = QStringLiteral("4915550001@s.whatsapp.net");
const QString kBen = QStringLiteral("4915550002@s.whatsapp.net");
const QString kGroup = QStringLiteral("4915550001-1500000000@g.us");

bool runJob(Job& job, RecordingMonitor& monitor)
{
    job.run(monitor);
    return monitor.succeeded();
}

// An empty target in a recent phone's layout.
ChatDbFolder modernTarget(const QString& root)
{
    ChatDbBuilder b(root, ChatDbLayout::Modern);
    b.commit();
    return b.folder();
}

PChatSession personalChat(const QString& jid, const QString& name)
{
    auto s = std::make_shared<_ChatSession>();
    s->ZCONTACTJID = jid;
    s->ZPARTNERNAME = name;
    return s;
}

_Message textMessage(const PChatSession& chat, const QString& stanza, bool fromMe, double date, qint64 sort = 1)
{
    _Message m;
    m.session = chat;
    m.ZSTANZAID = stanza;
    m.ZISFROMME = fromMe ? 1 : 0;
    (fromMe ? m.ZTOJID : m.ZFROMJID) = chat->ZCONTACTJID;
    m.ZMESSAGEDATE = date;
    m.ZSORT = sort;
    m.ZTEXT = QStringLiteral("text ") + stanza;
    return m;
}

}  // namespace

// ---- duplicates and matching ---------------------------------------------

TEST(MergeWriter, SecondMergeOfTheSameSourceAddsNothingButCopiesMissingFiles)
{
    QTemporaryDir dir;
    const SampleChatDb sample = buildSampleChatDb(dir.filePath(QStringLiteral("src")), ChatDbLayout::Local, 300);
    Source source = openSource(sample.folder, true);
    const LocalDatabase target = findOrCreateLocalDatabase(QStringLiteral("Anna_Backup"), dir.filePath(QStringLiteral("ldb")));

    BackupMessagesThread first(target.db, source.all);
    RecordingMonitor m1;
    ASSERT_TRUE(runJob(first, m1)) << m1.errors().join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(first.addedCount(), sample.expectedCount);
    // The sample lacks some attachments on purpose: the text says how many
    // after the count of new messages.
    ASSERT_GT(first.missingMediaCount(), 0);
    EXPECT_EQ(m1.successes().value(0),
              QStringLiteral("IDS_SUC_BACKUP_%1_MESSAGES (%1 new) %2 attachments were missing in the source and were not copied.")
                  .arg(sample.expectedCount)
                  .arg(first.missingMediaCount()));

    Probe probe(target.db->databasePath());
    const qint64 rowsAfterFirst = probe.integer(QStringLiteral("select count(*) from ZWAMESSAGE"));
    const qint64 mediaAfterFirst = probe.integer(QStringLiteral("select count(*) from ZWAMEDIAITEM"));
    EXPECT_EQ(target.db->countMessages(nullptr), sample.expectedCount);

    const QString copied = target.folder + QStringLiteral("/Library/Media/") + kAnna + QStringLiteral("/a/b/IMG_1.jpg");
    const QString picture = target.folder + QStringLiteral("/Library/Media/Profile/4915550001.jpg");
    ASSERT_TRUE(QFileInfo(copied).isFile());
    EXPECT_EQ(fileBytes(copied), fileBytes(sample.folder.mediaFolder + QStringLiteral("/Media/") + kAnna +
                                           QStringLiteral("/a/b/IMG_1.jpg")));
    ASSERT_TRUE(QFileInfo(picture).isFile());
    // A file the user lost from the backup comes back with the next run.
    ASSERT_TRUE(QFile::remove(copied));
    ASSERT_TRUE(QFile::remove(picture));

    BackupMessagesThread second(target.db, source.all);
    RecordingMonitor m2;
    ASSERT_TRUE(runJob(second, m2));
    EXPECT_EQ(second.addedCount(), 0);
    // The sample lacks some attachments on purpose: the text says how many
    // after the count of new messages.
    ASSERT_GT(second.missingMediaCount(), 0);
    EXPECT_EQ(m2.successes().value(0),
              QStringLiteral("IDS_SUC_BACKUP_%1_MESSAGES (0 new) %2 attachments were missing in the source and were not copied.")
                  .arg(sample.expectedCount)
                  .arg(second.missingMediaCount()));
    EXPECT_EQ(probe.integer(QStringLiteral("select count(*) from ZWAMESSAGE")), rowsAfterFirst);
    EXPECT_EQ(probe.integer(QStringLiteral("select count(*) from ZWAMEDIAITEM")), mediaAfterFirst);
    EXPECT_TRUE(QFileInfo(copied).isFile());
    EXPECT_TRUE(QFileInfo(picture).isFile());
    // Nothing is left under a temporary name.
    const QStringList left = QDir(QFileInfo(copied).path()).entryList(QDir::Files | QDir::Hidden);
    for (const QString& name : left)
        EXPECT_FALSE(name.contains(QLatin1String(".jpg.")) || name.contains(QLatin1String(".png."))) << name.toStdString();
}

TEST(MergeWriter, StanzaMatchingRules)
{
    QTemporaryDir dir;
    const ChatDbFolder f = modernTarget(dir.path());
    auto target = openTarget(f);
    const PChatSession anna = personalChat(kAnna, QStringLiteral("Anna"));
    auto group = std::make_shared<_ChatSession>();
    group->ZCONTACTJID = kGroup;
    group->groupInfo = std::make_shared<_GroupInfo>();
    auto carl = std::make_shared<_GroupMember>();
    carl->ZMEMBERJID = QStringLiteral("4915550003@s.whatsapp.net");
    group->members.insert(carl->ZMEMBERJID, carl);

    target->beginTransaction();
    _Message event;
    event.session = group;
    event.member = carl;
    event.ZMESSAGETYPE = msgtype::kGroupEvent;
    event.ZGROUPEVENTTYPE = 2;
    event.ZSTANZAID = QStringLiteral("EV-1");
    event.ZFROMJID = kGroup;
    const qint64 eventId = target->mergeMessage(event, -2);
    const _Message outgoing = textMessage(anna, QStringLiteral("S-1"), true, 100);
    const qint64 outId = target->mergeMessage(outgoing, -2);
    const _Message incoming = textMessage(anna, QStringLiteral("S-2"), false, 110);
    const qint64 inId = target->mergeMessage(incoming, -2);

    struct Case {
        const char* name;
        _Message message;
        bool found;
    };
    _Message eventElsewhere = event;  // same stanza, other sender and direction
    eventElsewhere.ZFROMJID = QStringLiteral("someone@s.whatsapp.net");
    eventElsewhere.ZISFROMME = 1;
    _Message incomingTwin = textMessage(anna, QStringLiteral("S-1"), false, 100);
    _Message outgoingOtherChat = textMessage(personalChat(kBen, QStringLiteral("Ben")), QStringLiteral("S-1"), true, 100);
    _Message noStanza = textMessage(anna, QString(), true, 100);
    _Message incomingFromBen = textMessage(personalChat(kBen, QStringLiteral("Ben")), QStringLiteral("S-2"), false, 110);
    const Case cases[] = {
        {"group event by stanza alone", eventElsewhere, true},
        {"same outgoing message", outgoing, true},
        {"incoming copy of an outgoing stanza", incomingTwin, false},
        {"outgoing to another partner", outgoingOtherChat, false},
        {"same incoming message", incoming, true},
        {"incoming from another sender, same stanza", incomingFromBen, false},
        {"no stanza id never matches", noStanza, false},
    };
    for (const Case& c : cases) {
        const qint64 found = target->findMessageByStanza(c.message);
        EXPECT_EQ(found != 0, c.found) << c.name;
    }
    EXPECT_EQ(target->findMessageByStanza(eventElsewhere), eventId);
    EXPECT_EQ(target->findMessageByStanza(outgoing), outId);
    EXPECT_EQ(target->findMessageByStanza(incoming), inId);
    // The incoming twin becomes a message of its own.
    EXPECT_GT(target->mergeMessage(incomingTwin, -2), outId);
    target->commitThrow();
    Probe probe(f.databasePath);
    EXPECT_EQ(probe.integer(QStringLiteral("select count(*) from ZWAMESSAGE where ZSTANZAID='S-1'")), 2);
    // One chat for Anna, created once, and Z_MAX written before the commit.
    EXPECT_EQ(probe.integer(QStringLiteral("select count(*) from ZWACHATSESSION where ZCONTACTJID='%1'").arg(kAnna)), 1);
    EXPECT_EQ(probe.integer(QStringLiteral("select Z_MAX from Z_PRIMARYKEY where Z_NAME='WAMessage'")),
              probe.integer(QStringLiteral("select max(Z_PK) from ZWAMESSAGE")));
}

// ---- renumbering -----------------------------------------------------------

TEST(MergeWriter, OrderSortItemsAppliesTheRuleToNeighboursAndAlwaysEnds)
{
    using Item = IOSWhatsAppDb::SortItem;
    struct Case {
        const char* name;
        std::vector<Item> items;
        std::vector<qint64> expected;  // row ids in the resulting order
    };
    const Case cases[] = {
        {"30 s apart: sort values decide", {{1, 5, 1000}, {2, 3, 1030}}, {2, 1}},
        {"2 min apart: dates decide", {{1, 5, 1000}, {2, 3, 1120}}, {1, 2}},
        {"sort values 11 apart: dates decide", {{1, 14, 1000}, {2, 3, 1010}}, {1, 2}},
        {"bounds are inclusive", {{1, 13, 1000}, {2, 3, 1060}}, {2, 1}},
        {"equal sort values 30 s apart: dates decide", {{1, 4, 1030}, {2, 4, 1000}}, {2, 1}},
        // 70 s/sort 1 before 35 s/sort 10 before 0 s/sort 15 before 70 s/sort 1.
        {"a cycle of the rule", {{1, 1, 70}, {2, 10, 35}, {3, 15, 0}}, {2, 3, 1}},
    };
    for (const Case& c : cases) {
        std::vector<Item> items = c.items;
        IOSWhatsAppDb::orderSortItems(items);
        std::vector<qint64> order;
        for (const Item& i : items)
            order.push_back(i.pk);
        EXPECT_EQ(order, c.expected) << c.name;
    }

    // Many items close together with sort values against the dates: the
    // result is a permutation, and items far apart keep their date order.
    std::vector<Item> items;
    QRandomGenerator rng(7);
    for (int i = 0; i < 3000; ++i)
        items.push_back({i + 1, qint64(rng.bounded(40)), double(rng.bounded(600))});
    IOSWhatsAppDb::orderSortItems(items);
    ASSERT_EQ(items.size(), 3000u);
    QSet<qint64> seen;
    for (const Item& i : items)
        seen.insert(i.pk);
    EXPECT_EQ(seen.size(), 3000);
    for (size_t a = 0; a < items.size(); a += 7)
        for (size_t b = a + 1; b < items.size(); b += 11)
            EXPECT_FALSE(items[b].date < items[a].date - 60.0) << "far apart out of date order: " << a << " " << b;
}

TEST(MergeWriter, RenumberSortRepairsTheBookkeepingOfEveryChat)
{
    QTemporaryDir dir;
    // Source: a personal chat whose sort values disagree with the dates in a
    // cycle, and a group with two members.
    ChatDbFolder src;
    {
        ChatDbBuilder b(dir.filePath(QStringLiteral("src")), ChatDbLayout::Local);
        const qint64 anna = b.addChat(kAnna, QStringLiteral("Anna"));
        const qint64 group = b.addGroup(kGroup, QStringLiteral("Family"), kAnna);
        const qint64 carl = b.addMember(group, QStringLiteral("4915550003@s.whatsapp.net"), QStringLiteral("Carl"));
        const qint64 dora = b.addMember(group, QStringLiteral("4915550004@s.whatsapp.net"), QStringLiteral("Dora"));
        b.addMessage({.chat = anna, .text = QStringLiteral("A"), .date = 600000070, .stanzaId = QStringLiteral("A"), .sort = 1});
        b.addMessage({.chat = anna, .text = QStringLiteral("B"), .date = 600000035, .stanzaId = QStringLiteral("B"), .sort = 10});
        b.addMessage({.chat = anna, .text = QStringLiteral("C"), .date = 600000000, .stanzaId = QStringLiteral("C"), .sort = 15});
        b.addMessage({.chat = anna, .text = QStringLiteral("D"), .date = 600009000, .stanzaId = QStringLiteral("D"), .sort = 2});
        b.addMessage({.chat = group, .text = QStringLiteral("g1"), .date = 600000100, .member = dora, .stanzaId = QStringLiteral("G1")});
        b.addMessage({.chat = group, .text = QStringLiteral("g2"), .date = 600000500, .member = carl, .stanzaId = QStringLiteral("G2")});
        b.commit();
        src = b.folder();
    }
    const ChatDbFolder tf = modernTarget(dir.filePath(QStringLiteral("dst")));
    Source source = openSource(src, true);
    auto target = openTarget(tf);
    BackupMessagesThread job(target, source.all);
    RecordingMonitor monitor;
    ASSERT_TRUE(runJob(job, monitor)) << monitor.errors().join(QLatin1Char('\n')).toStdString();
    EXPECT_FALSE(target->isOpen());

    Probe probe(tf.databasePath);
    const qint64 annaPk = probe.integer(QStringLiteral("select Z_PK from ZWACHATSESSION where ZCONTACTJID='%1'").arg(kAnna));
    const qint64 groupPk = probe.integer(QStringLiteral("select Z_PK from ZWACHATSESSION where ZCONTACTJID='%1'").arg(kGroup));
    // Put a stale mark on the first message and renumber again.
    probe.db().executeThrow(Sqlite3Sql(QStringLiteral("update ZWAMESSAGE set ZLASTSESSION=%1 where ZTEXT='C'").arg(annaPk)));
    target->renumberSort();

    for (qint64 chat : {annaPk, groupPk}) {
        const QList<qint64> sorts =
            probe.column(QStringLiteral("select ZSORT from ZWAMESSAGE where ZCHATSESSION=%1 order by ZSORT").arg(chat));
        QList<qint64> expected;
        for (int i = 1; i <= sorts.size(); ++i)
            expected << i;
        EXPECT_EQ(sorts, expected) << "chat " << chat;
        const qint64 last = probe.integer(
            QStringLiteral("select Z_PK from ZWAMESSAGE where ZCHATSESSION=%1 and ZSORT=%2").arg(chat).arg(sorts.size()));
        EXPECT_EQ(probe.integer(QStringLiteral("select ZMESSAGECOUNTER from ZWACHATSESSION where Z_PK=%1").arg(chat)),
                  sorts.size());
        EXPECT_EQ(probe.integer(QStringLiteral("select ZLASTMESSAGE from ZWACHATSESSION where Z_PK=%1").arg(chat)), last);
        EXPECT_EQ(probe.value(QStringLiteral("select ZLASTMESSAGEDATE from ZWACHATSESSION where Z_PK=%1").arg(chat)),
                  probe.value(QStringLiteral("select ZMESSAGEDATE from ZWAMESSAGE where Z_PK=%1").arg(last)));
        EXPECT_EQ(probe.column(QStringLiteral("select Z_PK from ZWAMESSAGE where ZLASTSESSION=%1").arg(chat)),
                  QList<qint64>{last});
    }
    // A value that only reads as the right number (a real, a NULL) is
    // written again as the integer, and the chat's order stays.
    for (const char* odd : {"2.5", "NULL", "'4'"}) {
        probe.db().executeThrow(Sqlite3Sql(
            QStringLiteral("update ZWAMESSAGE set ZSORT=%1 where ZCHATSESSION=%2 and ZSORT=%3")
                .arg(QLatin1String(odd)).arg(annaPk).arg(QLatin1String(odd) == QLatin1String("2.5") ? 2 : 4)));
        target->renumberSort();
        EXPECT_EQ(probe.column(QStringLiteral("select ZSORT from ZWAMESSAGE where ZCHATSESSION=%1 and "
                                              "typeof(ZSORT)='integer' order by ZSORT").arg(annaPk)),
                  (QList<qint64>{1, 2, 3, 4}))
            << odd;
    }

    // The cycle sorted without fault: B, C, A by the rule, D last by date.
    QStringList annaOrder;
    for (const QVariantList& r : probe.rows(
             QStringLiteral("select ZTEXT from ZWAMESSAGE where ZCHATSESSION=%1 order by ZSORT").arg(annaPk)))
        annaOrder << r.value(0).toString();
    EXPECT_EQ(annaOrder, (QStringList{QStringLiteral("B"), QStringLiteral("C"), QStringLiteral("A"), QStringLiteral("D")}));

    // The group: the last sender owns the last message and alone carries
    // the recent-group mark.
    const qint64 carlPk = probe.integer(
        QStringLiteral("select Z_PK from ZWAGROUPMEMBER where ZCHATSESSION=%1 and ZCONTACTNAME='Carl'").arg(groupPk));
    const qint64 infoPk = probe.integer(QStringLiteral("select Z_PK from ZWAGROUPINFO where ZCHATSESSION=%1").arg(groupPk));
    EXPECT_GT(carlPk, 0);
    EXPECT_EQ(probe.integer(QStringLiteral("select ZLASTMESSAGEOWNER from ZWAGROUPINFO where Z_PK=%1").arg(infoPk)), carlPk);
    EXPECT_EQ(probe.column(QStringLiteral("select Z_PK from ZWAGROUPMEMBER where ZRECENTGROUPCHAT=%1").arg(infoPk)),
              QList<qint64>{carlPk});
    // NULL flags repaired, key counters equal each table's largest row id.
    EXPECT_EQ(probe.integer(QStringLiteral("select count(*) from ZWACHATSESSION where ZARCHIVED is null")), 0);
    EXPECT_EQ(probe.integer(QStringLiteral("select count(*) from ZWAGROUPMEMBER where ZISADMIN is null")), 0);
    const QStringList tables = {QStringLiteral("WAMessage"), QStringLiteral("WAChatSession"),
                                QStringLiteral("WAGroupInfo"), QStringLiteral("WAGroupMember"),
                                QStringLiteral("WAMediaItem"), QStringLiteral("WAMessageInfo")};
    for (const QString& entity : tables)
        EXPECT_EQ(probe.integer(QStringLiteral("select Z_MAX from Z_PRIMARYKEY where Z_NAME='%1'").arg(entity)),
                  probe.integer(QStringLiteral("select ifnull(max(Z_PK),0) from Z%1").arg(entity.toUpper())))
            << entity.toStdString();
}

// ---- columns and layouts -----------------------------------------------------

TEST(MergeWriter, OptionalColumnsAreWrittenWhenTheTargetHasThem)
{
    QTemporaryDir dir;
    const ChatDbFolder modern = modernTarget(dir.filePath(QStringLiteral("modern")));
    const LocalDatabase local = findOrCreateLocalDatabase(QStringLiteral("L"), dir.filePath(QStringLiteral("ldb")));
    const PChatSession anna = personalChat(kAnna, QStringLiteral("Anna"));
    const double date = 652000000.5;  // 2021-08-30
    const QString month = QDateTime::fromSecsSinceEpoch(978307200 + 652000000).toLocalTime().toString(QStringLiteral("yyyy-MM"));

    struct Case {
        int type;
        QVariant section;
    };
    const Case cases[] = {{0, QVariant()}, {1, month}, {2, month}, {11, month}, {8, QStringLiteral("doc-") + month},
                          {3, QVariant()}, {5, QVariant()}};
    for (const auto& targetDb : {openTarget(modern), local.db}) {
        const bool isModern = targetDb.get() != local.db.get();
        targetDb->beginTransaction();
        QList<qint64> ids;
        for (const Case& c : cases) {
            _Message m = textMessage(anna, QStringLiteral("T%1").arg(c.type), true, date);
            m.ZMESSAGETYPE = c.type;
            m.ZSTARRED = c.type == 1 ? 1 : 0;
            m.ZFLAGS = 5;
            ids << targetDb->mergeMessage(m, 77);
        }
        targetDb->commitThrow();
        Probe probe(targetDb->databasePath());
        for (int i = 0; i < int(std::size(cases)); ++i) {
            const QString row = QStringLiteral(" from ZWAMESSAGE where Z_PK=%1").arg(ids[i]);
            EXPECT_EQ(probe.integer(QStringLiteral("select ZSTARRED") + row), cases[i].type == 1 ? 1 : 0);
            EXPECT_EQ(probe.integer(QStringLiteral("select ZFILTEREDRECIPIENTCOUNT") + row), 1);
            EXPECT_EQ(probe.integer(QStringLiteral("select ZMESSAGESTATUS") + row), 8);
            EXPECT_EQ(probe.integer(QStringLiteral("select ZFLAGS") + row), 5);
            if (isModern) {
                EXPECT_EQ(probe.value(QStringLiteral("select ZMEDIASECTIONID") + row), cases[i].section)
                    << "type " << cases[i].type;
                EXPECT_EQ(probe.integer(QStringLiteral("select ZDOCID") + row), 77);
                EXPECT_EQ(probe.integer(QStringLiteral("select ZDATAITEMVERSION") + row), 3);
                EXPECT_EQ(probe.value(QStringLiteral("select ZMESSAGEERRORSTATUS") + row), QVariant(qint64(0)));
            }
        }
    }
}

TEST(MergeWriter, RecentLayoutTargetKeepsQuotesReceiptsAndParents)
{
    const QString schema = QStringLiteral(Q_SHARED_FIXTURES) + QStringLiteral("/chatstorage-modern-schema.sql");
    if (!QFileInfo(schema).isFile())
        GTEST_SKIP() << "no shared fixtures at " << Q_SHARED_FIXTURES;
    QTemporaryDir dir;
    ChatDbFolder tf;
    tf.root = tf.appFolder = dir.filePath(QStringLiteral("phone"));
    tf.databasePath = tf.root + QStringLiteral("/ChatStorage.sqlite");
    tf.mediaFolder = tf.root + QStringLiteral("/Library");
    tf.profileFolder = tf.mediaFolder + QStringLiteral("/Media/Profile");
    QDir().mkpath(tf.profileFolder);
    {
        Sqlite3DB db;
        db.openThrow(tf.databasePath, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
        QString error;
        ASSERT_EQ(db.exec(QString::fromUtf8(fileBytes(schema)), &error), 0) << error.toStdString();
    }
    const SampleChatDb sample = buildSampleChatDb(dir.filePath(QStringLiteral("src")), ChatDbLayout::Local);
    Source source = openSource(sample.folder, true);
    auto target = openTarget(tf);
    BackupMessagesThread job(target, source.all);
    RecordingMonitor monitor;
    ASSERT_TRUE(runJob(job, monitor)) << monitor.errors().join(QLatin1Char('\n')).toStdString();

    Probe probe(tf.databasePath);
    EXPECT_GT(probe.integer(QStringLiteral("select count(*) from ZWAMEDIAITEM where ZMETADATA is not null")), 0);
    Source back = openSource(tf, false);
    const QList<_Message> before = readAll(*source.all);
    const QList<_Message> after = readAll(*back.all);
    ASSERT_EQ(after.size(), before.size());
    QHash<QString, _Message> byKey;
    for (const _Message& m : after)
        byKey.insert(m.ZSTANZAID + QString::number(m.ZISFROMME), m);
    int quotes = 0, receipts = 0, parents = 0;
    for (const _Message& m : before) {
        const _Message t = byKey.value(m.ZSTANZAID + QString::number(m.ZISFROMME));
        ASSERT_FALSE(t.isEmpty()) << m.ZSTANZAID.toStdString();
        EXPECT_EQ(t.ZTEXT, m.ZTEXT);
        EXPECT_EQ(t.session ? t.session->ZCONTACTJID : QString(), m.session ? m.session->ZCONTACTJID : QString());
        if (m.media && m.media->hasQuote()) {
            ++quotes;
            ASSERT_TRUE(t.media && t.media->hasQuote()) << m.ZSTANZAID.toStdString();
            // The stored payload itself, every field of it, not only what a
            // preview shows.
            EXPECT_EQ(serializeQuotedPayload(t.media->quote.payload).toHex(),
                      quotedPayloadBytes(m.media->quote.payload).toHex());
            EXPECT_EQ(t.media->quote.senderJid, m.media->quote.senderJid);
            EXPECT_EQ(t.media->quote.stanzaId, m.media->quote.stanzaId);
            EXPECT_EQ(t.media->quote.senderName, m.media->quote.senderName);
        }
        if (!m.receipts.isEmpty())
            ++receipts;
        EXPECT_EQ(t.receipts, m.receipts) << m.ZSTANZAID.toStdString();
        // Two messages naming each other: the loop is cut where the reader cut it.
        if (m.ZTEXT.startsWith(QLatin1String("loop")))
            continue;
        EXPECT_EQ(bool(t.parent), bool(m.parent)) << m.ZSTANZAID.toStdString();
        if (m.parent && t.parent) {
            ++parents;
            EXPECT_EQ(t.parent->ZSTANZAID, m.parent->ZSTANZAID);
            EXPECT_EQ(t.parent->ZTEXT, m.parent->ZTEXT);
        }
    }
    EXPECT_GE(quotes, 3);
    EXPECT_GE(receipts, 1);
    EXPECT_GE(parents, 1);
}

TEST(MergeWriter, QuotesGoWhereTheTargetKeepsThemOrNowhere)
{
    QTemporaryDir dir;
    const PChatSession anna = personalChat(kAnna, QStringLiteral("Anna"));
    _Message m = textMessage(anna, QStringLiteral("Q1"), false, 1000);
    m.media = std::make_shared<_MediaItem>();
    m.media->quote.stanzaId = QStringLiteral("QUOTED");
    m.media->quote.senderJid = kBen;
    m.media->quote.payload.set_text("what you said");
    m.media->quote.payload.mutable_video()->set_f4(12);

    struct Case {
        ChatDbLayout layout;
        const char* column;
    };
    for (const Case& c : {Case{ChatDbLayout::Script, nullptr}, Case{ChatDbLayout::Local, "QM_QUOTED_DATA"},
                          Case{ChatDbLayout::Modern, "ZMETADATA"}}) {
        QTemporaryDir sub;
        ChatDbBuilder b(sub.path(), c.layout);
        b.commit();
        auto target = openTarget(b.folder());
        target->beginTransaction();
        const qint64 id = target->mergeMessage(m, -2);
        target->commitThrow();
        Source back = openSource(b.folder(), false);
        const QList<_Message> all = readAll(*back.all);
        ASSERT_EQ(all.size(), 1);
        EXPECT_EQ(all[0].Z_PK, id);
        ASSERT_TRUE(all[0].media);
        if (!c.column) {
            EXPECT_FALSE(all[0].media->hasQuote());
            continue;
        }
        ASSERT_TRUE(all[0].media->hasQuote()) << c.column;
        EXPECT_EQ(all[0].media->quote.stanzaId, QStringLiteral("QUOTED"));
        EXPECT_EQ(all[0].media->quote.senderJid, kBen);
        EXPECT_EQ(serializeQuotedPayload(all[0].media->quote.payload).toHex(),
                  serializeQuotedPayload(m.media->quote.payload).toHex());
    }
}

// ---- files -------------------------------------------------------------------

TEST(MergeWriter, CopyMediaFileStaysInsideTheMediaFolderAndNeverLeavesHalfFiles)
{
    QTemporaryDir dir;
    const QString media = dir.filePath(QStringLiteral("Library"));
    const QString outside = dir.filePath(QStringLiteral("outside"));
    QDir().mkpath(media + QStringLiteral("/Media"));
    QDir().mkpath(outside);
    ASSERT_TRUE(QFile::link(outside, media + QStringLiteral("/Media/link")));
    const QString source = dir.filePath(QStringLiteral("source.jpg"));
    {
        QFile f(source);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(300000, 'x'));
    }
    struct Case {
        const char* stored;
        bool copied;
        const char* expectedFile;  // relative to the media folder
    };
    const Case cases[] = {
        {"Media/a/photo.jpg", true, "Media/a/photo.jpg"},
        {"/Media/b/photo.jpg", true, "Media/b/photo.jpg"},
        {"Media/c/Report: Q1?.pdf", true, "Media/c/Report%3A Q1%3F.pdf"},
        {"../escape.jpg", false, nullptr},
        {"/../escape.jpg", false, nullptr},
        {"Media/../../escape.jpg", false, nullptr},
        {"Media/link/escape.jpg", false, nullptr},
        {"", false, nullptr},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IOSWhatsAppDb::copyMediaFile(media, QString::fromUtf8(c.stored), source), c.copied) << c.stored;
        if (c.expectedFile)
            EXPECT_EQ(fileBytes(media + QLatin1Char('/') + QString::fromUtf8(c.expectedFile)), fileBytes(source)) << c.stored;
    }
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("escape.jpg"))));
    EXPECT_TRUE(QDir(outside).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden).isEmpty());
    // A media folder that does not exist yet is made.
    const QString fresh = dir.filePath(QStringLiteral("Fresh/Library"));
    EXPECT_TRUE(IOSWhatsAppDb::copyMediaFile(fresh, QStringLiteral("Media/a/photo.jpg"), source));
    EXPECT_EQ(fileBytes(fresh + QStringLiteral("/Media/a/photo.jpg")), fileBytes(source));

    // An existing file is never overwritten.
    const QString kept = media + QStringLiteral("/Media/d/kept.jpg");
    QDir().mkpath(QFileInfo(kept).path());
    {
        QFile f(kept);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("original");
    }
    EXPECT_FALSE(IOSWhatsAppDb::copyMediaFile(media, QStringLiteral("Media/d/kept.jpg"), source));
    EXPECT_EQ(fileBytes(kept), QByteArray("original"));
    // A missing source copies nothing.
    EXPECT_FALSE(IOSWhatsAppDb::copyMediaFile(media, QStringLiteral("Media/e/x.jpg"), dir.filePath(QStringLiteral("none"))));
    EXPECT_FALSE(QFileInfo::exists(media + QStringLiteral("/Media/e/x.jpg")));
    // A source that fails in the middle of reading leaves nothing under the
    // real name and no temporary file either.
    if (QFileInfo(QStringLiteral("/proc/self/mem")).exists()) {
        EXPECT_FALSE(IOSWhatsAppDb::copyMediaFile(media, QStringLiteral("Media/f/cut.jpg"), QStringLiteral("/proc/self/mem")));
        EXPECT_TRUE(QDir(media + QStringLiteral("/Media/f")).entryList(QDir::Files | QDir::Hidden).isEmpty());
    }
}

// One job copies many files into the same folders, and remembers where
// those folders really are; a folder replaced by a link leading out while
// the job runs must still not be written through.
TEST(MergeWriter, AMediaFolderReplacedByALinkDuringAJobIsNotWrittenThrough)
{
    QTemporaryDir dir;
    const ChatDbFolder f = modernTarget(dir.path());
    auto target = openTarget(f);
    const QString outside = dir.filePath(QStringLiteral("outside"));
    QDir().mkpath(outside);
    const QString sources = dir.filePath(QStringLiteral("sources"));
    QDir().mkpath(sources);
    const PChatSession anna = personalChat(kAnna, QStringLiteral("Anna"));
    auto withFile = [&](const QString& stanza, const QString& stored) {
        _Message m = textMessage(anna, stanza, false, 10);
        m.media = std::make_shared<_MediaItem>();
        m.media->ZMEDIALOCALPATH = stored;
        m.media->mediaFile = QDir(sources).filePath(QFileInfo(stored).fileName());
        QFile file(m.media->mediaFile);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(stanza.toUtf8());
        return m;
    };
    const QString folder = f.mediaFolder + QStringLiteral("/Media/x");
    target->beginTransaction();
    target->copyMessageFiles(withFile(QStringLiteral("A"), QStringLiteral("Media/x/a.jpg")));
    ASSERT_EQ(fileBytes(folder + QStringLiteral("/a.jpg")), QByteArray("A"));
    // The folder the job has just written into becomes a link leading out.
    ASSERT_TRUE(QDir(folder).removeRecursively());
    ASSERT_TRUE(QFile::link(outside, folder));
    target->copyMessageFiles(withFile(QStringLiteral("B"), QStringLiteral("Media/x/b.jpg")));
    target->copyMessageFiles(withFile(QStringLiteral("C"), QStringLiteral("Media/x/sub/c.jpg")));
    // A folder the job did not know yet works as before.
    target->copyMessageFiles(withFile(QStringLiteral("D"), QStringLiteral("Media/y/d.jpg")));
    target->endTransaction(false);
    EXPECT_EQ(QDir(outside).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden), QStringList());
    EXPECT_EQ(fileBytes(f.mediaFolder + QStringLiteral("/Media/y/d.jpg")), QByteArray("D"));
}

// ---- parents -------------------------------------------------------------------

TEST(MergeWriter, ParentChainsStopAtACycle)
{
    QTemporaryDir dir;
    const ChatDbFolder f = modernTarget(dir.path());
    auto target = openTarget(f);
    const PChatSession anna = personalChat(kAnna, QStringLiteral("Anna"));
    auto a = std::make_shared<_Message>(textMessage(anna, QStringLiteral("PA"), false, 10));
    auto b = std::make_shared<_Message>(textMessage(anna, QStringLiteral("PB"), false, 20));
    auto c = std::make_shared<_Message>(textMessage(anna, QStringLiteral("PC"), false, 30));
    a->parent = b;
    b->parent = c;
    c->parent = a;  // a loop of three
    target->beginTransaction();
    const qint64 id = target->mergeMessage(*a, -2);
    target->commitThrow();
    c->parent.reset();
    Probe probe(f.databasePath);
    EXPECT_EQ(probe.integer(QStringLiteral("select count(*) from ZWAMESSAGE")), 3);
    const qint64 pb = probe.integer(QStringLiteral("select Z_PK from ZWAMESSAGE where ZSTANZAID='PB'"));
    const qint64 pc = probe.integer(QStringLiteral("select Z_PK from ZWAMESSAGE where ZSTANZAID='PC'"));
    EXPECT_EQ(probe.integer(QStringLiteral("select ZPARENTMESSAGE from ZWAMESSAGE where Z_PK=%1").arg(id)), pb);
    EXPECT_EQ(probe.integer(QStringLiteral("select ZPARENTMESSAGE from ZWAMESSAGE where Z_PK=%1").arg(pb)), pc);

    // A parent already in the target is linked, not copied again.
    target->beginTransaction();
    auto child = std::make_shared<_Message>(textMessage(anna, QStringLiteral("PD"), false, 40));
    child->parent = std::make_shared<_Message>(textMessage(anna, QStringLiteral("PB"), false, 20));
    const qint64 childId = target->mergeMessage(*child, -2);
    target->commitThrow();
    EXPECT_EQ(probe.integer(QStringLiteral("select count(*) from ZWAMESSAGE")), 4);
    EXPECT_EQ(probe.integer(QStringLiteral("select ZPARENTMESSAGE from ZWAMESSAGE where Z_PK=%1").arg(childId)), pb);
}

// A message row names its own media item and its first receipt row, also
// when the rows of its parent, merged from inside it, were written between
// its own row and its receipt rows.
TEST(MergeWriter, AMessageRowNamesItsOwnMediaItemAndFirstReceiptRow)
{
    QTemporaryDir dir;
    const ChatDbFolder f = modernTarget(dir.path());
    auto target = openTarget(f);
    const PChatSession anna = personalChat(kAnna, QStringLiteral("Anna"));
    auto withRows = [&](const QString& stanza, double date, int receiptRows) {
        auto m = std::make_shared<_Message>(textMessage(anna, stanza, false, date));
        m->media = std::make_shared<_MediaItem>();
        m->media->ZMEDIALOCALPATH = QStringLiteral("Media/%1.jpg").arg(stanza);
        for (int i = 0; i < receiptRows; ++i)
            m->receiptInfos << (stanza + QString::number(i)).toUtf8();
        return m;
    };
    auto child = withRows(QStringLiteral("CH"), 10, 2);
    child->parent = withRows(QStringLiteral("PA"), 20, 3);
    auto plain = std::make_shared<_Message>(textMessage(anna, QStringLiteral("PL"), false, 30));
    auto last = withRows(QStringLiteral("LA"), 40, 1);
    target->beginTransaction();
    for (const auto& m : {child, plain, last})
        target->mergeMessage(*m, -2);
    target->commitThrow();

    Probe probe(f.databasePath);
    EXPECT_EQ(probe.integer(QStringLiteral("select count(*) from ZWAMESSAGE")), 4);
    EXPECT_EQ(probe.integer(QStringLiteral("select count(*) from ZWAMESSAGEINFO")), 6);
    for (const QVariantList& row : probe.rows(QStringLiteral(
             "select m.ZSTANZAID, ifnull(m.ZMEDIAITEM, 0), "
             "ifnull((select Z_PK from ZWAMEDIAITEM where ZMESSAGE=m.Z_PK), 0), ifnull(m.ZMESSAGEINFO, 0), "
             "ifnull((select min(Z_PK) from ZWAMESSAGEINFO where ZMESSAGE=m.Z_PK), 0) from ZWAMESSAGE m"))) {
        const std::string stanza = row.value(0).toString().toStdString();
        EXPECT_EQ(row.value(1).toLongLong(), row.value(2).toLongLong()) << stanza;
        EXPECT_EQ(row.value(3).toLongLong(), row.value(4).toLongLong()) << stanza;
        EXPECT_EQ(row.value(1).toLongLong() == 0, stanza == "PL") << stanza;
    }
}

// ---- deleting ------------------------------------------------------------------

TEST(MergeWriter, DeletingMessagesLeavesNoDanglingRowsAndClosesSortGaps)
{
    QTemporaryDir dir;
    const SampleChatDb sample = buildSampleChatDb(dir.filePath(QStringLiteral("src")), ChatDbLayout::Local, 40);
    Source source = openSource(sample.folder, true);
    const LocalDatabase local = findOrCreateLocalDatabase(QStringLiteral("D"), dir.filePath(QStringLiteral("ldb")));
    {
        BackupMessagesThread job(local.db, source.all);
        RecordingMonitor monitor;
        ASSERT_TRUE(runJob(job, monitor));
    }
    Source target = openSource({.databasePath = local.db->databasePath(),
                                .mediaFolder = local.db->mediaFolder(),
                                .profileFolder = local.db->profileFolder()},
                               true);
    const QList<_Message> all = readAll(*target.all);
    auto byText = [&all](const QString& text) {
        for (const _Message& m : all)
            if (m.ZTEXT == text)
                return m;
        return _Message();
    };
    const _Message parent = byText(QStringLiteral("Hello Anna \U0001F600"));
    _Message image;
    for (const _Message& m : all)
        if (m.media && m.media->ZMEDIALOCALPATH.endsWith(QLatin1String("IMG_1.jpg")))
            image = m;
    ASSERT_GT(parent.Z_PK, 0);
    ASSERT_GT(image.Z_PK, 0);
    Probe probe(local.db->databasePath());
    const qint64 chat = parent.ZCHATSESSION;
    const qint64 chatCount = probe.integer(QStringLiteral("select count(*) from ZWAMESSAGE where ZCHATSESSION=%1").arg(chat));
    ASSERT_GT(probe.integer(QStringLiteral("select count(*) from ZWAMESSAGEINFO where ZMESSAGE=%1").arg(image.Z_PK)), 0);
    ASSERT_GT(probe.integer(QStringLiteral("select count(*) from ZWAMESSAGE where ZPARENTMESSAGE=%1").arg(parent.Z_PK)), 0);
    const QString imageFile = local.db->resolveMediaPath(image.media->ZMEDIALOCALPATH);
    ASSERT_TRUE(QFileInfo(imageFile).isFile());
    // A bulk image whose file other bulk images share.
    _Message shared;
    for (const _Message& m : all)
        if (m.media && m.media->ZMEDIALOCALPATH.contains(QLatin1String("Media/bulk/IMG_")))
            shared = m;
    ASSERT_GT(shared.Z_PK, 0);
    const QString sharedFile = local.db->resolveMediaPath(shared.media->ZMEDIALOCALPATH);
    ASSERT_TRUE(QFileInfo(sharedFile).isFile());

    // A cancelled deletion changes nothing, files included.
    {
        DeleteLocalDbMessagesThread job(local.db, std::make_shared<WAMsgsListSource>(QList<_Message>{parent, image}));
        RecordingMonitor monitor;
        monitor.requestCancel();
        job.run(monitor);
        EXPECT_TRUE(job.wasCancelled());
        EXPECT_EQ(probe.integer(QStringLiteral("select count(*) from ZWAMESSAGE where ZCHATSESSION=%1").arg(chat)), chatCount);
        EXPECT_TRUE(QFileInfo(imageFile).isFile());
    }

    DeleteLocalDbMessagesThread job(local.db,
                                    std::make_shared<WAMsgsListSource>(QList<_Message>{parent, image, shared}));
    RecordingMonitor monitor;
    ASSERT_TRUE(runJob(job, monitor)) << monitor.errors().join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(monitor.successes().value(0), QStringLiteral("IDS_SUC_DELETE_%1_MESSAGES").arg(3));
    EXPECT_EQ(job.deletedCount(), 3);
    const QList<qint64> sorts =
        probe.column(QStringLiteral("select ZSORT from ZWAMESSAGE where ZCHATSESSION=%1 order by ZSORT").arg(chat));
    ASSERT_EQ(sorts.size(), chatCount - 2);
    for (int i = 0; i < sorts.size(); ++i)
        EXPECT_EQ(sorts[i], i + 1);
    EXPECT_EQ(probe.integer(QStringLiteral("select count(*) from ZWAMESSAGEINFO where ZMESSAGE=%1").arg(image.Z_PK)), 0);
    EXPECT_EQ(probe.integer(QStringLiteral("select count(*) from ZWAMESSAGE where ZPARENTMESSAGE in (%1,%2,%3)")
                                .arg(parent.Z_PK)
                                .arg(image.Z_PK)
                                .arg(shared.Z_PK)),
              0);
    EXPECT_EQ(probe.integer(QStringLiteral("select count(*) from ZWAMEDIAITEM where Z_PK=%1").arg(image.ZMEDIAITEM)), 0);
    EXPECT_FALSE(QFileInfo::exists(imageFile));
    EXPECT_TRUE(QFileInfo(sharedFile).isFile()) << "still used by other messages";
}

TEST(MergeWriter, DeletingABroadcastMessageKeepsTheBroadcastWhileOthersUseIt)
{
    QTemporaryDir dir;
    ChatDbBuilder b(dir.path(), ChatDbLayout::Local);
    const qint64 chat = b.addChat(kAnna, QStringLiteral("Anna"));
    b.db().executeThrow("insert into ZWABROADCAST(Z_PK, Z_ENT, Z_OPT) values(50, 2, 1)");
    const qint64 m1 = b.addMessage({.chat = chat, .text = QStringLiteral("one"), .fromMe = true, .broadcast = 50});
    const qint64 m2 = b.addMessage({.chat = chat, .text = QStringLiteral("two"), .fromMe = true, .broadcast = 50});
    b.commit();
    auto db = openTarget(b.folder());
    Probe probe(b.folder().databasePath);
    _Message first;
    first.Z_PK = m1;
    _Message second;
    second.Z_PK = m2;
    db->beginTransaction();
    EXPECT_TRUE(db->deleteMessage(first));
    db->commitThrow();
    EXPECT_EQ(probe.integer(QStringLiteral("select count(*) from ZWABROADCAST where Z_PK=50")), 1);
    db->beginTransaction();
    EXPECT_TRUE(db->deleteMessage(second));
    EXPECT_FALSE(db->deleteMessage(second));
    db->commitThrow();
    EXPECT_EQ(probe.integer(QStringLiteral("select count(*) from ZWABROADCAST where Z_PK=50")), 0);
}

// ---- what a stopped job leaves -------------------------------------------------

TEST(MergeWriter, CancelledOrFailedMergeLeavesTheTargetAsItWas)
{
    QTemporaryDir dir;
    const LocalDatabase local = findOrCreateLocalDatabase(QStringLiteral("C"), dir.filePath(QStringLiteral("ldb")));
    // The target holds a few messages already.
    {
        ChatDbBuilder b(dir.filePath(QStringLiteral("pre")), ChatDbLayout::Local);
        const qint64 chat = b.addChat(kBen, QStringLiteral("Ben"));
        for (int i = 0; i < 5; ++i)
            b.addMessage({.chat = chat, .text = QStringLiteral("pre %1").arg(i), .stanzaId = QStringLiteral("PRE-%1").arg(i)});
        b.commit();
        Source pre = openSource(b.folder(), true);
        BackupMessagesThread job(local.db, pre.all);
        RecordingMonitor monitor;
        ASSERT_TRUE(runJob(job, monitor));
    }
    const SampleChatDb big = buildSampleChatDb(dir.filePath(QStringLiteral("src")), ChatDbLayout::Local, 3000);
    Source source = openSource(big.folder, true);
    const QString path = local.db->databasePath();
    const QByteArray bytesBefore = fileBytes(path);
    const QList<_Message> messagesBefore = readAll(*openSource({.databasePath = path,
                                                               .mediaFolder = local.db->mediaFolder(),
                                                               .profileFolder = local.db->profileFolder()},
                                                              true)
                                                         .all);
    ASSERT_EQ(messagesBefore.size(), 5);
    auto unchanged = [&](const char* what) {
        EXPECT_FALSE(QFileInfo::exists(path + QStringLiteral("-journal"))) << what;
        EXPECT_EQ(fileBytes(path), bytesBefore) << what;
        Probe probe(path);
        EXPECT_EQ(probe.value(QStringLiteral("PRAGMA integrity_check")).toString(), QStringLiteral("ok")) << what;
        EXPECT_EQ(probe.integer(QStringLiteral("select count(*) from ZWAMESSAGE")), 5) << what;
    };

    {
        BackupMessagesThread job(local.db, source.all);
        RecordingMonitor monitor;
        monitor.cancelAfterReports(200);
        job.run(monitor);
        EXPECT_TRUE(job.wasCancelled());
        EXPECT_TRUE(monitor.successes().isEmpty());
        EXPECT_TRUE(monitor.errors().isEmpty());
        local.db->closeDb();
        unchanged("cancel");
    }
    {
        // A write that fails in the middle of the job.
        local.db->ensureOpen();
        ASSERT_EQ(local.db->db().exec(QStringLiteral(
                      "create temp trigger failing after insert on main.ZWAMESSAGE when new.Z_PK > 1500 "
                      "begin select raise(abort, 'disk says no'); end")),
                  0);
        BackupMessagesThread job(local.db, source.all);
        RecordingMonitor monitor;
        job.run(monitor);
        ASSERT_EQ(monitor.errors().size(), 1);
        EXPECT_TRUE(monitor.errors().first().contains(QLatin1String("disk says no")));
        EXPECT_TRUE(monitor.successes().isEmpty());
        local.db->closeDb();
        unchanged("error");
    }
}

TEST(MergeWriter, AKilledMergeLeavesAnIntactTargetWithNoneOrAllOfItsMessages)
{
    QTemporaryDir dir;
    const SampleChatDb big = buildSampleChatDb(dir.filePath(QStringLiteral("src")), ChatDbLayout::Local, 20000);
    const QString base = dir.filePath(QStringLiteral("ldb"));
    const QString path = findOrCreateLocalDatabase(QStringLiteral("K"), base).db->databasePath();

    // Killed once the merge is well under way.
    ASSERT_TRUE(killWhileRunning(100, [&](RecordingMonitor& monitor) {
        Source source = openSource(big.folder, true);
        const LocalDatabase target = findOrCreateLocalDatabase(QStringLiteral("K"), base);
        BackupMessagesThread job(target.db, source.all);
        job.run(monitor);
    }));

    Probe probe(path);
    EXPECT_EQ(probe.value(QStringLiteral("PRAGMA integrity_check")).toString(), QStringLiteral("ok"));
    const qint64 rows = probe.integer(QStringLiteral("select count(*) from ZWAMESSAGE where ZSTANZAID is not null"));
    EXPECT_TRUE(rows == 0 || rows >= big.expectedCount) << rows;
    // The database opens and reads as a chat database again.
    auto db = openLocalDatabase(QFileInfo(path).path());
    EXPECT_EQ(db->countMessages(nullptr), rows == 0 ? 0 : big.expectedCount);
}

// ---- group events and links ----------------------------------------------

TEST(MergeWriter, GroupEventsAndLinksAreReadAndMergedAsStored)
{
    QTemporaryDir dir;
    ChatDbBuilder b(dir.filePath(QStringLiteral("src")), ChatDbLayout::Modern);
    const qint64 group = b.addGroup(kGroup, QStringLiteral("Trip"));
    const qint64 carl = b.addMember(group, QStringLiteral("4915550003@s.whatsapp.net"), QStringLiteral("Carl"));
    const qint64 anna = b.addChat(kAnna, QStringLiteral("Anna"));
    b.addMessage({.chat = group, .type = 0, .text = QStringLiteral("hi all"), .member = carl});
    b.addMessage({.chat = group, .type = 6, .member = carl, .groupEventType = 2});
    b.addMessage({.chat = group, .type = 6, .text = QStringLiteral("Trip 2"), .member = carl, .groupEventType = 1});
    b.addMessage({.chat = group, .type = 6, .groupEventType = 3});
    const qint64 link = b.addMessage({.chat = anna, .type = 7, .text = QStringLiteral("see")});
    b.addMediaItem(link, {.mediaUrl = QStringLiteral("https://example.org/page")});
    b.commit();

    Source source = openSource(b.folder());
    const PChatSession trip = source.view->index().sessionByJid(kGroup);
    ASSERT_TRUE(trip);
    WAMsgsDataSource groupMessages(source.view, trip, true);
    const QList<_Message> read = readAll(groupMessages);
    EXPECT_EQ(source.db->countMessages(trip.get()), 4);
    ASSERT_EQ(read.size(), 4);
    QStringList shown;
    for (const _Message& m : read)
        shown << messageDisplayText(m);
    EXPECT_EQ(shown, (QStringList{QStringLiteral("hi all"), QStringLiteral("Carl joined"),
                                  QStringLiteral("Carl changed the subject to \"Trip 2\""), QStringLiteral("You left")}));

    const LocalDatabase target = findOrCreateLocalDatabase(QStringLiteral("T"), dir.filePath(QStringLiteral("ldb")));
    for (int run = 0; run < 2; ++run) {
        BackupMessagesThread job(target.db, source.all);
        RecordingMonitor monitor;
        ASSERT_TRUE(runJob(job, monitor)) << monitor.errors().join(QLatin1Char('\n')).toStdString();
        // The second run finds every message, group events by stanza alone.
        EXPECT_EQ(job.addedCount(), run == 0 ? 5 : 0) << run;
    }

    Source merged = openSource({.databasePath = target.db->databasePath(), .mediaFolder = target.folder + "/Library",
                                .profileFolder = target.folder + "/Library/Media/Profile"},
                               true);
    EXPECT_EQ(merged.db->countMessages(nullptr), 5);
    const QList<_Message> all = readAll(*merged.all);
    ASSERT_EQ(all.size(), 5);
    int events = 0;
    for (const _Message& m : all) {
        if (m.ZMESSAGETYPE == msgtype::kGroupEvent) {
            ++events;
            EXPECT_EQ(m.ZISFROMME, 0);
            continue;
        }
        if (m.ZMESSAGETYPE != msgtype::kLink)
            continue;
        // The link comes back as stored: its type, its own text, its media item.
        EXPECT_EQ(m.ZTEXT, QStringLiteral("see"));
        ASSERT_TRUE(m.media);
        EXPECT_EQ(m.media->ZMEDIAURL, QStringLiteral("https://example.org/page"));
        EXPECT_EQ(messageDisplayText(m), QStringLiteral("https://example.org/page"));
    }
    EXPECT_EQ(events, 3);
    Probe probe(target.db->databasePath());
    EXPECT_EQ(probe.integer(QStringLiteral("select count(*) from ZWAMESSAGE where ZMESSAGETYPE=7 and ZTEXT='see' and "
                                           "ZMEDIAITEM>0")),
              1);
}
