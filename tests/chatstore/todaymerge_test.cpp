// Merging what a recent app stores: reply metadata, receipt blobs with
// reactions and polls, media keys and @lid people travel through a local
// database into a phone's database as they were stored; quotes take the
// format the target keeps; rows the target had are never changed; the
// count of new messages counts listed messages only.
#include "chatstore/backupmessagesthread.h"
#include "chatstore/displayrules.h"
#include "chatstore/localdatabases.h"
#include "chatstore/replymetadata.h"
#include "mergetestutil.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace mergetest;

namespace {

bool runJob(Job& job, RecordingMonitor& monitor)
{
    job.run(monitor);
    return monitor.succeeded();
}

// A user's folder as the command line reads it: read-only, nothing removed.
Source openReadOnly(const ChatDbFolder& f)
{
    Source s;
    s.db = std::make_shared<IOSWhatsAppDb>(f.databasePath, f.contactsPath, f.mediaFolder, f.profileFolder, false,
                                           false);
    s.db->setReadOnly(true);
    s.view = std::make_shared<ChatDbView>(s.db);
    s.db->listSessions(s.view->index());
    s.all = std::make_shared<WAMsgsDataSource>(s.view, nullptr, true);
    return s;
}

ChatDbFolder localFolder(const LocalDatabase& local)
{
    return {.root = local.folder,
            .appFolder = local.folder,
            .databasePath = local.db->databasePath(),
            .mediaFolder = local.db->mediaFolder(),
            .profileFolder = local.db->profileFolder()};
}

// An empty phone-layout target (device style), optionally with an empty LID.sqlite.
ChatDbFolder emptyPhone(const QString& root, ChatDbLayout layout, bool lidDb)
{
    ChatDbBuilder b(root, layout, true);
    b.commit();
    if (lidDb)
        b.writeLidDatabase({}, true);
    return b.folder();
}

// What identifies a message across databases: stanza id, direction, JIDs.
const char* const kKey = "m.ZSTANZAID||'|'||m.ZISFROMME||'|'||ifnull(m.ZFROMJID,'')||'|'||ifnull(m.ZTOJID,'')";

// key -> the message's receipt blobs in stored order, as hex.
QMap<QString, QStringList> receiptBlobs(Probe& p)
{
    QMap<QString, QStringList> out;
    for (const QVariantList& r :
         p.rows(QStringLiteral("select %1, hex(i.ZRECEIPTINFO) from ZWAMESSAGEINFO i join ZWAMESSAGE m on "
                               "m.Z_PK=i.ZMESSAGE order by i.Z_PK")
                    .arg(QLatin1String(kKey))))
        out[r.value(0).toString()] << r.value(1).toString();
    return out;
}

// key -> the stored metadata bytes of the message's media item, as hex.
QMap<QString, QString> metadataBytes(Probe& p, const char* column)
{
    QMap<QString, QString> out;
    for (const QVariantList& r :
         p.rows(QStringLiteral("select %1, hex(i.%2) from ZWAMEDIAITEM i join ZWAMESSAGE m on m.ZMEDIAITEM=i.Z_PK "
                               "where length(i.%2)>0")
                    .arg(QLatin1String(kKey), QLatin1String(column))))
        out.insert(r.value(0).toString(), r.value(1).toString());
    return out;
}

QString keyOf(const _Message& m)
{
    return QStringLiteral("%1|%2|%3|%4").arg(m.ZSTANZAID).arg(m.ZISFROMME).arg(m.ZFROMJID, m.ZTOJID);
}

// The database is sound and every key counter names its table's largest row.
void expectSoundBookkeeping(const QString& path)
{
    Probe p(path);
    EXPECT_EQ(p.value(QStringLiteral("PRAGMA integrity_check")).toString(), QStringLiteral("ok")) << path.toStdString();
    for (const QVariantList& r : p.rows(QStringLiteral(
             "select p.Z_NAME, p.Z_MAX, s.name from Z_PRIMARYKEY p join sqlite_master s on s.type='table' and "
             "upper(s.name)=upper('Z'||p.Z_NAME)"))) {
        const qint64 max = p.integer(QStringLiteral("select ifnull(max(Z_PK),0) from %1").arg(r.value(2).toString()));
        EXPECT_EQ(r.value(1).toLongLong(), max) << r.value(0).toString().toStdString();
    }
}

}  // namespace

TEST(TodayMerge, NewCountsOnlyListedMessagesAdded)
{
    // The sample has a listed message whose parent lies in a removed chat:
    // the parent is merged too, but it is not one of the listed messages.
    QTemporaryDir dir;
    const SampleChatDb sample = buildSampleChatDb(dir.filePath(QStringLiteral("src")), ChatDbLayout::Today);
    Source source = openReadOnly(sample.folder);
    ASSERT_EQ(readAll(*source.all).size(), sample.expectedCount);
    const LocalDatabase local = findOrCreateLocalDatabase(QStringLiteral("L"), dir.filePath(QStringLiteral("ldb")));

    for (int run = 0; run < 2; ++run) {
        BackupMessagesThread job(local.db, source.all);
        RecordingMonitor monitor;
        ASSERT_TRUE(runJob(job, monitor)) << monitor.errors().join(QLatin1Char('\n')).toStdString();
        const qint64 added = run == 0 ? sample.expectedCount : 0;
        EXPECT_EQ(job.addedCount(), added) << run;
        // (Attachments the sample lacks are named after the count.)
        const QString text = monitor.successes().value(0);
        EXPECT_TRUE(text.startsWith(
            QStringLiteral("IDS_SUC_BACKUP_%1_MESSAGES (%2 new)").arg(sample.expectedCount).arg(added)))
            << text.toStdString();
    }
    // The parent did land, so the table holds one row more than was listed.
    Probe probe(local.db->databasePath());
    EXPECT_EQ(probe.integer(QStringLiteral("select count(*) from ZWAMESSAGE")), sample.expectedCount + 1);
}

TEST(TodayMerge, StoredBytesTravelThroughALocalDatabaseIntoAPhone)
{
    QTemporaryDir dir;
    const SampleChatDb sample = buildSampleChatDb(dir.filePath(QStringLiteral("src")), ChatDbLayout::Today);
    Source source = openReadOnly(sample.folder);
    const LocalDatabase local = findOrCreateLocalDatabase(QStringLiteral("L"), dir.filePath(QStringLiteral("ldb")));
    {
        BackupMessagesThread job(local.db, source.all);
        RecordingMonitor monitor;
        ASSERT_TRUE(runJob(job, monitor)) << monitor.errors().join(QLatin1Char('\n')).toStdString();
        EXPECT_GT(job.lidRowsAdded(), 0);
    }
    const ChatDbFolder phone = emptyPhone(dir.filePath(QStringLiteral("phone")), ChatDbLayout::Today, true);
    Source fromLocal = openSource(localFolder(local), true);
    auto target = openTarget(phone);
    BackupMessagesThread job(target, fromLocal.all);
    RecordingMonitor monitor;
    ASSERT_TRUE(runJob(job, monitor)) << monitor.errors().join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(job.addedCount(), sample.expectedCount);

    Probe src(sample.folder.databasePath);
    Probe mid(local.db->databasePath());
    Probe dst(phone.databasePath);

    // Every protocol-buffer ZMETADATA (the cut-short one included) byte for byte.
    QMap<QString, QString> stored = metadataBytes(src, "ZMETADATA");
    for (auto it = stored.begin(); it != stored.end();)
        it = QByteArray::fromHex(it.value().toLatin1()).startsWith("bplist") ? stored.erase(it) : std::next(it);
    ASSERT_GE(stored.size(), 14);
    const QMap<QString, QString> inLocal = metadataBytes(mid, "QM_METADATA");
    const QMap<QString, QString> inPhone = metadataBytes(dst, "ZMETADATA");
    for (auto it = stored.cbegin(); it != stored.cend(); ++it) {
        EXPECT_EQ(inLocal.value(it.key()), it.value()) << it.key().toStdString();
        EXPECT_EQ(inPhone.value(it.key()), it.value()) << it.key().toStdString();
    }

    // Every receipt blob of the listed messages byte for byte, one row each.
    const QMap<QString, QStringList> blobs = receiptBlobs(src);
    const QMap<QString, QStringList> blobsLocal = receiptBlobs(mid);
    const QMap<QString, QStringList> blobsPhone = receiptBlobs(dst);
    int compared = 0;
    for (const _Message& m : readAll(*source.all)) {
        if (!blobs.contains(keyOf(m)))
            continue;
        ++compared;
        EXPECT_EQ(blobsLocal.value(keyOf(m)), blobs.value(keyOf(m))) << keyOf(m).toStdString();
        EXPECT_EQ(blobsPhone.value(keyOf(m)), blobs.value(keyOf(m))) << keyOf(m).toStdString();
    }
    EXPECT_GE(compared, 3);
    // ZMESSAGEINFO names the first of a message's rows.
    EXPECT_EQ(dst.integer(QStringLiteral("select count(*) from ZWAMESSAGE m where ZMESSAGEINFO is not (select "
                                         "min(Z_PK) from ZWAMESSAGEINFO where ZMESSAGE=m.Z_PK)")),
              0);

    // Read back: reactions, poll, senders, members, the link, on both.
    const QList<_Message> before = readAll(*source.all);
    Source localBack = openSource(localFolder(local), true);
    Source phoneBack = openSource(phone, false);
    for (Source* back : {&localBack, &phoneBack}) {
        const bool isLocal = back == &localBack;
        QHash<QString, _Message> byKey;
        for (const _Message& m : readAll(*back->all))
            byKey.insert(keyOf(m), m);
        ASSERT_EQ(byKey.size(), before.size());
        int reacted = 0, polls = 0, lidSenders = 0, links = 0;
        for (const _Message& m : before) {
            const _Message t = byKey.value(keyOf(m));
            ASSERT_FALSE(t.isEmpty()) << keyOf(m).toStdString();
            EXPECT_EQ(t.ZMESSAGETYPE, m.ZMESSAGETYPE);
            EXPECT_EQ(t.ZTEXT, m.ZTEXT);
            ASSERT_EQ(t.reactions.size(), m.reactions.size());
            for (int i = 0; i < m.reactions.size(); ++i) {
                EXPECT_EQ(t.reactions[i].reactor.jid, m.reactions[i].reactor.jid);
                EXPECT_EQ(t.reactions[i].emoji, m.reactions[i].emoji);
                EXPECT_EQ(t.reactions[i].reactor.phone, m.reactions[i].reactor.phone);
            }
            // The local database knows push names too: the very same text.
            if (isLocal)
                EXPECT_EQ(reactionsText(t), reactionsText(m)) << keyOf(m).toStdString();
            reacted += m.reactions.isEmpty() ? 0 : 1;
            ASSERT_EQ(bool(t.poll), bool(m.poll));
            if (m.poll) {
                ++polls;
                EXPECT_EQ(pollText(*t.poll), pollText(*m.poll));
            }
            ASSERT_EQ(bool(t.member), bool(m.member)) << keyOf(m).toStdString();
            if (m.member) {
                EXPECT_EQ(t.member->ZMEMBERJID, m.member->ZMEMBERJID);
                EXPECT_EQ(t.member->ZCONTACTNAME, m.member->ZCONTACTNAME);
                EXPECT_EQ(t.member->phone, m.member->phone) << m.member->ZMEMBERJID.toStdString();
                lidSenders += m.member->ZMEMBERJID.endsWith(QLatin1String("@lid")) ? 1 : 0;
            }
            if (m.ZMESSAGETYPE == msgtype::kLink) {
                ++links;
                ASSERT_TRUE(t.media);
                EXPECT_EQ(t.media->ZMEDIAURL, m.media->ZMEDIAURL);
            }
            ASSERT_EQ(bool(t.media && t.media->hasQuote()), bool(m.media && m.media->hasQuote()));
            if (m.media && m.media->hasQuote())
                EXPECT_EQ(t.media->quote.senderJid, m.media->quote.senderJid);
        }
        EXPECT_GE(reacted, 1);
        EXPECT_EQ(polls, 1);
        EXPECT_GE(lidSenders, 5);
        EXPECT_GE(links, 2);
        // Every member of the today group, @lid ones included, with its name.
        const PChatSession group = back->view->index().sessionByJid(QStringLiteral("4915550001-1700000000@g.us"));
        const PChatSession origin = source.view->index().sessionByJid(QStringLiteral("4915550001-1700000000@g.us"));
        ASSERT_TRUE(group && origin);
        EXPECT_EQ(group->members.keys(), origin->members.keys());
        EXPECT_EQ(group->members.value(QStringLiteral("100000000000007@lid"))->ZCONTACTNAME, QStringLiteral("Hanna"));
        // The @lid chat keeps its JID and its identifier.
        const PChatSession lidChat = back->view->index().sessionByJid(QStringLiteral("100000000000006@lid"));
        ASSERT_TRUE(lidChat);
        EXPECT_EQ(lidChat->contactPhone, QStringLiteral("4915550016"));
    }
    for (Probe* p : {&mid, &dst})
        EXPECT_EQ(p->value(QStringLiteral("select ZCONTACTIDENTIFIER from ZWACHATSESSION where "
                                          "ZCONTACTJID='100000000000006@lid'"))
                      .toString(),
                  QStringLiteral("4915550016@s.whatsapp.net"));
    // Straight from a phone, an @lid chat also keeps its contact identifier.
    {
        const ChatDbFolder direct = emptyPhone(dir.filePath(QStringLiteral("direct")), ChatDbLayout::Today, false);
        BackupMessagesThread straight(openTarget(direct), source.all);
        RecordingMonitor m;
        ASSERT_TRUE(runJob(straight, m));
        Probe p(direct.databasePath);
        EXPECT_EQ(p.value(QStringLiteral("select ZCONTACTIDENTIFIER from ZWACHATSESSION where "
                                         "ZCONTACTJID='100000000000006@lid'"))
                      .toString(),
                  QStringLiteral("4915550016@s.whatsapp.net"));
    }

    // The mappings: phone and push name in the local database's own table,
    // the phones in the phone's LID.sqlite.
    EXPECT_EQ(mid.rows(QStringLiteral("select ZPHONE, ZPUSHNAME from QM_LIDMAP where ZLID='100000000000001@lid'")),
              (QList<QVariantList>{{QStringLiteral("4915550011"), QStringLiteral("Ida")}}));
    EXPECT_EQ(mid.rows(QStringLiteral("select ZPHONE, ZPUSHNAME from QM_LIDMAP where ZLID='100000000000002@lid'")),
              (QList<QVariantList>{{QVariant(), QStringLiteral("Greta")}}));
    EXPECT_EQ(mid.integer(QStringLiteral("select count(*) from QM_LIDMAP where ZLID='100000000000003@lid'")), 0);
    const QString lidPath = QFileInfo(phone.databasePath).absolutePath() + QStringLiteral("/LID.sqlite");
    {
        Probe lid(lidPath);
        const QList<QVariantList> rows =
            lid.rows(QStringLiteral("select ZIDENTIFIER, ZPHONENUMBER from ZWAZACCOUNT order by ZIDENTIFIER"));
        EXPECT_EQ(rows.size(), job.lidRowsAdded());
        EXPECT_TRUE(rows.contains(QVariantList{QStringLiteral("100000000000001@lid"), QStringLiteral("4915550011")}));
        EXPECT_TRUE(rows.contains(QVariantList{QStringLiteral("100000000000006@lid"), QStringLiteral("4915550016")}));
        EXPECT_EQ(lid.integer(QStringLiteral("select count(*) from ZWAZACCOUNT where ZIDENTIFIER like '%0003@lid'")), 0);
        EXPECT_EQ(lid.integer(QStringLiteral("select count(*) from ZWAZACCOUNT where Z_ENT is not "
                                             "(select Z_ENT from Z_PRIMARYKEY where Z_NAME='WAZAccount')")),
                  0);
    }
    expectSoundBookkeeping(lidPath);
    expectSoundBookkeeping(phone.databasePath);
    expectSoundBookkeeping(local.db->databasePath());

    // A second merge adds nothing anywhere.
    const QByteArray lidBytes = fileBytes(lidPath);
    const qint64 rows = dst.integer(QStringLiteral("select count(*) from ZWAMESSAGE"));
    const qint64 infos = dst.integer(QStringLiteral("select count(*) from ZWAMESSAGEINFO"));
    const qint64 members = dst.integer(QStringLiteral("select count(*) from ZWAGROUPMEMBER"));
    BackupMessagesThread again(target, fromLocal.all);
    RecordingMonitor m2;
    ASSERT_TRUE(runJob(again, m2));
    EXPECT_EQ(again.addedCount(), 0);
    EXPECT_EQ(again.lidRowsAdded(), 0);
    EXPECT_EQ(dst.integer(QStringLiteral("select count(*) from ZWAMESSAGE")), rows);
    EXPECT_EQ(dst.integer(QStringLiteral("select count(*) from ZWAMESSAGEINFO")), infos);
    EXPECT_EQ(dst.integer(QStringLiteral("select count(*) from ZWAGROUPMEMBER")), members);
    EXPECT_EQ(fileBytes(lidPath), lidBytes);
}

TEST(TodayMerge, QuotesArriveInTheFormatTheTargetKeeps)
{
    struct Case {
        ChatDbLayout source;
        ChatDbLayout target;
        bool targetHasArchive;  // an older phone: its newest metadata is a keyed archive
        bool expectArchive;
    };
    const Case cases[] = {
        {ChatDbLayout::Today, ChatDbLayout::Modern, true, true},
        {ChatDbLayout::Modern, ChatDbLayout::Today, false, false},
        // A phone without any metadata yet gets what today's app writes.
        {ChatDbLayout::Modern, ChatDbLayout::Modern, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(&c - cases));
        QTemporaryDir dir;
        const SampleChatDb sample = buildSampleChatDb(dir.filePath(QStringLiteral("src")), c.source);
        ChatDbBuilder b(dir.filePath(QStringLiteral("phone")), c.target, true);
        if (c.targetHasArchive) {
            const qint64 chat = b.addChat(QStringLiteral("4915559999@s.whatsapp.net"), QStringLiteral("Old"));
            const qint64 msg = b.addMessage({.chat = chat, .text = QStringLiteral("old reply")});
            b.setQuote(b.addMediaItem(msg, {}), {QuoteSpec::TextOnly, QStringLiteral("x"), QString(),
                                                 QStringLiteral("OLDQ")});
        }
        b.commit();
        Source source = openReadOnly(sample.folder);
        auto target = openTarget(b.folder());
        BackupMessagesThread job(target, source.all);
        RecordingMonitor monitor;
        ASSERT_TRUE(runJob(job, monitor)) << monitor.errors().join(QLatin1Char('\n')).toStdString();

        Probe dst(b.folder().databasePath);
        const QMap<QString, QString> written = metadataBytes(dst, "ZMETADATA");
        Source back = openSource(b.folder(), false);
        QHash<QString, _Message> byKey;
        for (const _Message& m : readAll(*back.all))
            byKey.insert(keyOf(m), m);
        int quotes = 0;
        for (const _Message& m : readAll(*source.all)) {
            if (!m.media || !m.media->hasQuote())
                continue;
            ++quotes;
            const QByteArray bytes = QByteArray::fromHex(written.value(keyOf(m)).toLatin1());
            EXPECT_EQ(isKeyedArchiveMetadata(bytes), c.expectArchive) << keyOf(m).toStdString();
            const _Message t = byKey.value(keyOf(m));
            ASSERT_TRUE(t.media && t.media->hasQuote()) << keyOf(m).toStdString();
            EXPECT_EQ(t.media->quote.stanzaId, m.media->quote.stanzaId);
            EXPECT_EQ(t.media->quote.senderJid, m.media->quote.senderJid);
            EXPECT_EQ(quotedPayloadBytes(t.media->quote).toHex(), quotedPayloadBytes(m.media->quote).toHex());
            EXPECT_EQ(quotedPayloadText(t.media->quote.payload), quotedPayloadText(m.media->quote.payload));
        }
        EXPECT_GE(quotes, 3);
    }
}

TEST(TodayMerge, RowsTheTargetHadStayAndTwinsAreOnePerson)
{
    QTemporaryDir dir;
    const QString group = QStringLiteral("4915550001-1700000000@g.us");
    const QString idaPhone = QStringLiteral("4915550011@s.whatsapp.net");
    const QString idaLid = QStringLiteral("100000000000001@lid");
    const QString ninaLid = QStringLiteral("100000000000009@lid");
    const QString paulPhone = QStringLiteral("4915550016@s.whatsapp.net");
    const QString paulLid = QStringLiteral("100000000000006@lid");
    const qint64 t0 = 978307200 + 700000000;
    const QByteArray ownBlob = ChatDbBuilder::receiptBlob({{idaPhone, t0 + 5, t0 + 9, false}});

    // The phone knows Ida by her phone JID and Paul's chat by his.
    ChatDbBuilder tb(dir.filePath(QStringLiteral("phone")), ChatDbLayout::Today, true);
    const qint64 tg = tb.addGroup(group, QStringLiteral("Today"));
    const qint64 ida = tb.addMember(tg, idaPhone, QStringLiteral("Ida"));
    const qint64 x = tb.addMessage({.chat = tg, .text = QStringLiteral("x"), .member = ida, .stanzaId = "X1"});
    tb.addReceiptInfo(x, ownBlob);
    const qint64 paul = tb.addChat(paulPhone, QStringLiteral("Paul"));
    tb.addMessage({.chat = paul, .text = QStringLiteral("p"), .stanzaId = "P1", .fromJid = paulPhone});
    tb.commit();

    // The source knows them by their @lid JIDs, and Nina, whom the phone lacks.
    ChatDbBuilder sb(dir.filePath(QStringLiteral("src")), ChatDbLayout::Today);
    sb.writeLidDatabase({{idaLid, QStringLiteral("4915550011")}, {paulLid, QStringLiteral("4915550016")}}, true);
    const qint64 sg = sb.addGroup(group, QStringLiteral("Today"));
    const qint64 sIda = sb.addMember(sg, idaLid, QString());
    const qint64 sNina = sb.addMember(sg, ninaLid, QStringLiteral("Nina"));
    const qint64 sx = sb.addMessage({.chat = sg, .text = QStringLiteral("x"), .member = sIda, .stanzaId = "X1",
                                     .fromJid = group});
    sb.addReceiptInfo(sx, ChatDbBuilder::receiptBlob({{idaPhone, t0 + 5, t0 + 9, false}},
                                                     {{ninaLid, QStringLiteral("👍"), t0 * 1000}}));
    sb.addMessage({.chat = sg, .text = QStringLiteral("y"), .member = sIda, .stanzaId = "Y1", .fromJid = group});
    sb.addMessage({.chat = sg, .text = QStringLiteral("z"), .member = sNina, .stanzaId = "Z1", .fromJid = group});
    const qint64 sp = sb.addChat(paulLid, QString());
    sb.addMessage({.chat = sp, .text = QStringLiteral("p"), .stanzaId = "P1", .fromJid = paulLid});
    sb.commit();

    // Everything the phone had, but the renumbering's bookkeeping (order,
    // counters, last message, and the NULL flags it sets to 0).
    const QStringList tables = {QStringLiteral("ZWAMESSAGE"),     QStringLiteral("ZWAMESSAGEINFO"),
                                QStringLiteral("ZWAMEDIAITEM"),   QStringLiteral("ZWAGROUPMEMBER"),
                                QStringLiteral("ZWACHATSESSION"), QStringLiteral("ZWAGROUPINFO")};
    const QSet<QString> bookkeeping = {QStringLiteral("ZSORT"),           QStringLiteral("ZLASTSESSION"),
                                       QStringLiteral("ZRECENTGROUPCHAT"), QStringLiteral("ZLASTMESSAGE"),
                                       QStringLiteral("ZLASTMESSAGEDATE"), QStringLiteral("ZMESSAGECOUNTER"),
                                       QStringLiteral("ZLASTMESSAGEOWNER"), QStringLiteral("ZARCHIVED"),
                                       QStringLiteral("ZISADMIN")};
    QHash<QString, qint64> had;
    {
        Probe p(tb.folder().databasePath);
        for (const QString& table : tables)
            had.insert(table, p.integer(QStringLiteral("select ifnull(max(Z_PK),0) from %1").arg(table)));
    }
    auto dump = [&] {
        Probe p(tb.folder().databasePath);
        QStringList out;
        for (const QString& table : tables) {
            QStringList cols;
            for (const QVariantList& c : p.rows(QStringLiteral("pragma table_info(%1)").arg(table)))
                if (!bookkeeping.contains(c.value(1).toString()))
                    cols << QStringLiteral("quote(%1)").arg(c.value(1).toString());
            for (const QVariantList& r : p.rows(QStringLiteral("select %1 from %2 where Z_PK<=%3 order by Z_PK")
                                                    .arg(cols.join(QStringLiteral("||','||")), table)
                                                    .arg(had.value(table))))
                out << table + QLatin1Char(':') + r.value(0).toString();
        }
        return out;
    };
    const QStringList before = dump();
    ASSERT_EQ(before.size(), 7);

    Source source = openReadOnly(sb.folder());
    auto target = openTarget(tb.folder());
    BackupMessagesThread job(target, source.all);
    RecordingMonitor monitor;
    ASSERT_TRUE(runJob(job, monitor)) << monitor.errors().join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(job.addedCount(), 2);  // Y and Z; X and P are there already
    EXPECT_EQ(dump().join(QLatin1Char('\n')).toStdString(), before.join(QLatin1Char('\n')).toStdString());

    Probe p(tb.folder().databasePath);
    // The reaction the source added to X is not merged: X's row stays.
    EXPECT_EQ(p.rows(QStringLiteral("select hex(ZRECEIPTINFO) from ZWAMESSAGEINFO where ZMESSAGE=%1").arg(x)),
              (QList<QVariantList>{{QString::fromLatin1(ownBlob.toHex().toUpper())}}));
    // Y from Ida's @lid address is Ida's member row; Nina is a former member.
    EXPECT_EQ(p.integer(QStringLiteral("select ZGROUPMEMBER from ZWAMESSAGE where ZSTANZAID='Y1'")), ida);
    EXPECT_EQ(p.rows(QStringLiteral("select m.ZMEMBERJID, m.ZCONTACTNAME, m.ZISACTIVE from ZWAGROUPMEMBER m join "
                                    "ZWAMESSAGE x on x.ZGROUPMEMBER=m.Z_PK where x.ZSTANZAID='Z1'")),
              (QList<QVariantList>{{ninaLid, QStringLiteral("Nina"), 0}}));
    EXPECT_EQ(p.integer(QStringLiteral("select count(*) from ZWAGROUPMEMBER")), 2);
    // Paul's message under his @lid address is the one the phone has.
    EXPECT_EQ(p.integer(QStringLiteral("select count(*) from ZWAMESSAGE where ZSTANZAID='P1'")), 1);
    // No LID.sqlite is ever created.
    EXPECT_FALSE(QFileInfo::exists(QFileInfo(tb.folder().databasePath).absolutePath() + QStringLiteral("/LID.sqlite")));
    expectSoundBookkeeping(tb.folder().databasePath);
}

TEST(TodayMerge, AFailedLidWriteLeavesTheChatsMergedAndSaysWhich)
{
    QTemporaryDir dir;
    const SampleChatDb sample = buildSampleChatDb(dir.filePath(QStringLiteral("src")), ChatDbLayout::Today);
    const ChatDbFolder phone = emptyPhone(dir.filePath(QStringLiteral("phone")), ChatDbLayout::Today, true);
    const QString lidPath = QFileInfo(phone.databasePath).absolutePath() + QStringLiteral("/LID.sqlite");
    {
        // The phone's file refuses new rows.
        Sqlite3DB lid;
        lid.openThrow(lidPath, SQLITE_OPEN_READWRITE);
        lid.executeThrow("create trigger refuse before insert on ZWAZACCOUNT begin select raise(abort, 'locked "
                         "by the phone'); end");
    }
    const QByteArray lidBefore = fileBytes(lidPath);
    Source source = openReadOnly(sample.folder);
    BackupMessagesThread job(openTarget(phone), source.all);
    RecordingMonitor monitor;
    ASSERT_TRUE(runJob(job, monitor)) << monitor.errors().join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(job.addedCount(), sample.expectedCount);
    EXPECT_EQ(job.lidRowsAdded(), 0);
    EXPECT_TRUE(job.unwrittenLids().contains(QStringLiteral("100000000000001@lid")));
    const QString text = monitor.successes().value(0);
    EXPECT_TRUE(text.contains(QStringLiteral("100000000000001@lid")) && text.contains(QStringLiteral("locked by the phone")))
        << text.toStdString();
    EXPECT_EQ(fileBytes(lidPath), lidBefore);
}

TEST(TodayMerge, ACancelledFailedOrKilledMergeLeavesThePhoneAsItWasOrComplete)
{
    QTemporaryDir dir;
    const SampleChatDb sample = buildSampleChatDb(dir.filePath(QStringLiteral("src")), ChatDbLayout::Today, 4000);
    const ChatDbFolder phone = emptyPhone(dir.filePath(QStringLiteral("phone")), ChatDbLayout::Today, true);
    const QString lidPath = QFileInfo(phone.databasePath).absolutePath() + QStringLiteral("/LID.sqlite");
    const QByteArray dbBefore = fileBytes(phone.databasePath);
    const QByteArray lidBefore = fileBytes(lidPath);
    auto unchanged = [&](const char* what) {
        EXPECT_EQ(fileBytes(phone.databasePath), dbBefore) << what;
        EXPECT_EQ(fileBytes(lidPath), lidBefore) << what;
        EXPECT_FALSE(QFileInfo::exists(phone.databasePath + QStringLiteral("-journal"))) << what;
    };
    Source source = openReadOnly(sample.folder);
    {
        auto target = openTarget(phone);
        BackupMessagesThread job(target, source.all);
        RecordingMonitor monitor;
        monitor.cancelAfterReports(300);
        job.run(monitor);
        EXPECT_TRUE(job.wasCancelled());
        EXPECT_TRUE(monitor.successes().isEmpty());
        target->closeDb();
        unchanged("cancel");
    }
    {
        auto target = openTarget(phone);
        target->ensureOpen();
        ASSERT_EQ(target->db().exec(QStringLiteral("create temp trigger failing after insert on main.ZWAMESSAGEINFO "
                                                   "when new.Z_PK > 20 begin select raise(abort, 'disk says no'); end")),
                  0);
        BackupMessagesThread job(target, source.all);
        RecordingMonitor monitor;
        job.run(monitor);
        ASSERT_EQ(monitor.errors().size(), 1);
        EXPECT_TRUE(monitor.errors().first().contains(QLatin1String("disk says no")));
        target->closeDb();
        unchanged("error");
    }

    ASSERT_TRUE(killWhileRunning(200, [&](RecordingMonitor& monitor) {
        BackupMessagesThread job(openTarget(phone), openReadOnly(sample.folder).all);
        job.run(monitor);
    }));
    Probe probe(phone.databasePath);
    EXPECT_EQ(probe.value(QStringLiteral("PRAGMA integrity_check")).toString(), QStringLiteral("ok"));
    const qint64 rows = probe.integer(QStringLiteral("select count(*) from ZWAMESSAGE"));
    EXPECT_TRUE(rows == 0 || rows >= sample.expectedCount) << rows;
    // Killed before its own commit, LID.sqlite is untouched.
    if (rows == 0)
        EXPECT_EQ(fileBytes(lidPath), lidBefore);
}
