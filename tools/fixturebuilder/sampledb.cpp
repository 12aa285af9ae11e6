// The sample chat database used by the reader's tests, the command line's
// tests and the benchmarks: every kind of chat and message in a few rows,
// optionally followed by many plain ones.
#include "tools/fixturebuilder/chatdbbuilder.h"

#include <QDir>
#include <QFile>

namespace {

// What a recent app stores: people known only by @lid JIDs (their phones in
// LID.sqlite in the account shape, in the older pair table inside the chat
// database, in ContactsV2, or in an @lid chat's contact identifier; push
// names), replies in reply metadata of every quoted kind, reactions, a
// poll, and the message types of recent apps. Returns the chats it adds
// that the reader lists.
int addTodaySection(ChatDbBuilder& b, QHash<QString, qint64>& ids)
{
    const QString annaJid = QStringLiteral("4915550001@s.whatsapp.net");
    const QString lidPhoneInLidDb = QStringLiteral("100000000000001@lid");    // -> 4915550011 (LID.sqlite)
    const QString lidPushOnly = QStringLiteral("100000000000002@lid");        // push name "Greta" only
    const QString lidUnknown = QStringLiteral("100000000000003@lid");         // nothing known
    const QString lidPairInChatDb = QStringLiteral("100000000000004@lid");    // -> 4915550014 (pair table)
    const QString lidContactsV2 = QStringLiteral("100000000000005@lid");      // -> 4915550015 (ContactsV2)
    const QString lidChatJid = QStringLiteral("100000000000006@lid");         // -> 4915550016 (chat identifier)
    const QString lidNamed = QStringLiteral("100000000000007@lid");           // member "Hanna", -> 4915550017

    b.writeLidDatabase({{lidPhoneInLidDb, QStringLiteral("4915550011")},
                        {lidNamed, QStringLiteral("+49 1555 0017")}},
                       true);
    b.addLidPairsToChatDb({{QStringLiteral("100000000000004"), QStringLiteral("4915550014@s.whatsapp.net")}});
    b.writeContactsV2({{QStringLiteral("4915550015@s.whatsapp.net"), QStringLiteral("CN-15"), lidContactsV2},
                       {QStringLiteral("4915550001@s.whatsapp.net"), QStringLiteral("CN-ANNA"), QString()},
                       {QStringLiteral("4915550002"), QStringLiteral("CN-BEN"), QString()}});
    b.addPushName(lidPushOnly, QStringLiteral("Greta"));
    b.addPushName(lidPhoneInLidDb, QStringLiteral("Ida"));

    const qint64 today = ids["chat.today"] =
        b.addGroup(QStringLiteral("4915550001-1700000000@g.us"), QStringLiteral("Today"), annaJid);
    ids["member.today.anna"] = b.addMember(today, annaJid, QStringLiteral("Anna"));
    const qint64 m1 = ids["member.today.lid1"] = b.addMember(today, lidPhoneInLidDb, QString());
    const qint64 m2 = ids["member.today.lid2"] = b.addMember(today, lidPushOnly, QString());
    const qint64 m3 = ids["member.today.lid3"] = b.addMember(today, lidUnknown, QString());
    const qint64 m4 = ids["member.today.lid4"] = b.addMember(today, lidPairInChatDb, QString());
    const qint64 m5 = ids["member.today.lid5"] = b.addMember(today, lidContactsV2, QString());
    ids["member.today.hanna"] = b.addMember(today, lidNamed, QStringLiteral("Hanna"));

    const qint64 lidChat = ids["chat.lid"] = b.addChat(lidChatJid, QString());
    b.setContactIdentifier(lidChat, QStringLiteral("4915550016@s.whatsapp.net"));
    ids["msg.lidChat"] = b.addMessage({.chat = lidChat, .type = 0, .text = QStringLiteral("hello from a lid chat")});

    // Members' plain messages: the sender shown by each source.
    ids["msg.today.lid1"] = b.addMessage({.chat = today, .type = 0, .text = QStringLiteral("from lid1"), .member = m1});
    ids["msg.today.lid2"] = b.addMessage({.chat = today, .type = 0, .text = QStringLiteral("from lid2"), .member = m2});
    ids["msg.today.lid3"] = b.addMessage({.chat = today, .type = 0, .text = QStringLiteral("from lid3"), .member = m3});
    ids["msg.today.lid4"] = b.addMessage({.chat = today, .type = 0, .text = QStringLiteral("from lid4"), .member = m4});
    ids["msg.today.lid5"] = b.addMessage({.chat = today, .type = 0, .text = QStringLiteral("from lid5"), .member = m5});

    // Replies: a text message whose media item holds only reply metadata.
    struct Reply {
        const char* name;
        QuoteSpec quote;
        int type = 0;
    };
    const QList<Reply> replies = {
        {"reply.text", {QuoteSpec::TextOnly, QStringLiteral("quoted text"), lidPhoneInLidDb, QStringLiteral("3EB0A1")}},
        {"reply.extended",
         {QuoteSpec::ExtendedText, QStringLiteral("reply to a reply"), lidPushOnly, QStringLiteral("ABCDEF0123456789ABCDEF0123")}},
        {"reply.image", {QuoteSpec::Image, QString(), QString(), QStringLiteral("3EB0A3")}},
        {"reply.document", {QuoteSpec::Document, QString(), lidUnknown, QStringLiteral("3EB0A4")}},
        {"reply.sticker", {QuoteSpec::Sticker, QString(), lidPairInChatDb, QStringLiteral("3EB0A5")}},
        {"reply.card", {QuoteSpec::Card, QString(), annaJid, QStringLiteral("3EB0A6")}},
        {"reply.cards", {QuoteSpec::Cards, QString(), lidContactsV2, QStringLiteral("3EB0A7")}},
        {"reply.location", {QuoteSpec::Location, QString(), annaJid, QStringLiteral("3EB0A8")}},
        {"reply.audio", {QuoteSpec::Audio, QString(), annaJid, QStringLiteral("3EB0A9")}},
        {"reply.video", {QuoteSpec::Video, QString(), annaJid, QStringLiteral("3EB0AA")}},
        {"reply.twin",
         {QuoteSpec::TextOnly, QStringLiteral("twin"), QStringLiteral("4915550017@s.whatsapp.net"), QStringLiteral("3EB0AB")}},
        {"reply.status",
         {QuoteSpec::Image, QString(), annaJid, QStringLiteral("3EB0AC"), QStringLiteral("status@broadcast")}},
    };
    for (const Reply& r : replies) {
        const qint64 msg = ids[QStringLiteral("msg.") + QLatin1String(r.name)] =
            b.addMessage({.chat = today, .type = r.type, .text = QStringLiteral("re"), .member = m1});
        const qint64 media = ids[QStringLiteral("media.") + QLatin1String(r.name)] = b.addMediaItem(msg, {});
        b.setReplyMetadata(media, r.quote);
    }
    // A link that replies: it shows its URL and keeps its quote.
    const qint64 link = ids["msg.reply.link"] =
        b.addMessage({.chat = today, .type = 7, .text = QStringLiteral("look"), .fromMe = true});
    const qint64 linkMedia = ids["media.reply.link"] =
        b.addMediaItem(link, {.mediaUrl = QStringLiteral("https://example.org/today")});
    b.setReplyMetadata(linkMedia, {QuoteSpec::TextOnly, QStringLiteral("which one?"), lidPhoneInLidDb,
                                   QStringLiteral("3EB0AD")});
    // Metadata that is cut short: no quote, the message itself shows.
    const qint64 broken = ids["msg.reply.truncated"] =
        b.addMessage({.chat = today, .type = 0, .text = QStringLiteral("broken quote"), .member = m1});
    const qint64 brokenMedia = b.addMediaItem(broken, {});
    b.setMetadata(brokenMedia, ChatDbBuilder::replyMetadata({QuoteSpec::TextOnly, QStringLiteral("lost"),
                                                              lidPhoneInLidDb, QStringLiteral("3EB0AE")})
                                   .chopped(6));

    // Reactions: receipts and reactions in one row, a row holding only
    // reactions, a withdrawn one, the owner's.
    const qint64 t0 = 978307200 + 700000000;
    const qint64 reacted = ids["msg.reacted"] =
        b.addMessage({.chat = today, .type = 0, .text = QStringLiteral("party tonight"), .fromMe = true});
    b.addReceiptInfo(reacted, ChatDbBuilder::receiptBlob(
                                  {{annaJid, t0 + 5, t0 + 9, false}},
                                  {{lidPhoneInLidDb, QStringLiteral("👍"), t0 * 1000 + 1},
                                   {lidPushOnly, QStringLiteral("❤️"), t0 * 1000 + 2},
                                   {lidUnknown, QString(), t0 * 1000 + 3}}));
    b.addReceiptInfo(reacted, ChatDbBuilder::receiptBlob({}, {{QString(), QStringLiteral("😂"), t0 * 1000 + 4},
                                                              {annaJid, QStringLiteral("🎉"), t0 * 1000 + 5}}));

    // A poll: a voter who changed their mind counts once, the owner too.
    const qint64 poll = ids["msg.poll"] =
        b.addMessage({.chat = today, .type = 46, .text = QString(), .member = m2});
    PollSpec spec{QStringLiteral("Lunch?"),
                  {QStringLiteral("Pizza"), QStringLiteral("Sushi"), QStringLiteral("Salad")},
                  {{lidPhoneInLidDb, {0}, false},
                   {lidPushOnly, {0, 1}, true},
                   {lidPhoneInLidDb, {1}, false},
                   {QString(), {1}, false}}};
    b.addReceiptInfo(poll, ChatDbBuilder::receiptBlob({}, {}, &spec));
    // The internal message that ties a vote to its poll is never shown.
    ids["msg.pollVoteLink"] = b.addMessage({.chat = today, .type = 66, .member = m1});

    // The types of recent apps.
    const qint64 deleted = ids["msg.deleted"] = b.addMessage({.chat = today, .type = 14, .member = m3});
    b.setReplyMetadata(b.addMediaItem(deleted, {}),
                       {QuoteSpec::TextOnly, QStringLiteral("gone quote"), annaJid, QStringLiteral("3EB0AF")});
    ids["msg.viewOnceImage"] =
        b.addMessage({.chat = today, .type = 38, .text = QStringLiteral("once"), .member = m4});
    ids["msg.viewOnceVideo"] = b.addMessage({.chat = today, .type = 39, .member = m4});
    ids["msg.viewOnceAudio"] = b.addMessage({.chat = today, .type = 53, .text = QStringLiteral("hidden"), .member = m4});
    const qint64 round = ids["msg.roundVideo"] = b.addMessage({.chat = today, .type = 54, .member = m5});
    b.addMediaItem(round, {.localPath = QStringLiteral("Media/today/round.mp4"), .title = QStringLiteral("hi")});
    ids["msg.call"] = b.addMessage({.chat = today, .type = 59, .member = m5});
    ids["msg.type10"] = b.addMessage({.chat = today, .type = 10, .text = QStringLiteral("not shown"), .member = m5});
    return 2;
}

}  // namespace

SampleChatDb buildSampleChatDb(const QString& root, ChatDbLayout layout, qint64 bulkMessages, bool deviceStyle)
{
    ChatDbBuilder b(root, layout, deviceStyle);
    SampleChatDb s;
    auto& ids = s.ids;

    const QString annaJid = QStringLiteral("4915550001@s.whatsapp.net");
    const QString benJid = QStringLiteral("4915550002@s.whatsapp.net");
    const QString carlJid = QStringLiteral("4915550003@s.whatsapp.net");
    const QString doraJid = QStringLiteral("4915550004@s.whatsapp.net");
    const QString groupJid = QStringLiteral("4915550001-1500000000@g.us");
    const QString group2Jid = QStringLiteral("4915550009-1600000000@g.us");

    // Chats.
    const qint64 anna = ids["chat.anna"] = b.addChat(annaJid, QStringLiteral("Anna"));
    const qint64 ben = ids["chat.ben"] = b.addChat(benJid, benJid);
    const qint64 group = ids["chat.group"] = b.addGroup(groupJid, QStringLiteral("Family"), annaJid);
    ids["member.anna"] = b.addMember(group, annaJid, QStringLiteral("Anna"));
    ids["member.carl"] = b.addMember(group, carlJid, QString());
    ids["member.dora"] = b.addMember(group, doraJid, QStringLiteral("Dora"));
    const qint64 group2 = ids["chat.group2"] = b.addGroup(group2Jid, QString());
    ids["member.group2.ben"] = b.addMember(group2, benJid, QStringLiteral("Ben"));
    const qint64 broadcast = ids["chat.broadcast"] = b.addChat(QStringLiteral("1600000000@broadcast"), QString());
    const qint64 status = ids["chat.status"] = b.addChat(QStringLiteral("status@broadcast"), QString());
    b.writeProfilePicture(annaJid, ".thumb");
    b.writeProfilePicture(annaJid, ".jpg");

    // Every type in the one-to-one chat.
    ids["msg.text"] = b.addMessage({.chat = anna, .type = 0, .text = QStringLiteral("Hello Anna \U0001F600")});
    const QString annaMedia = QStringLiteral("Media/") + annaJid + QStringLiteral("/a/b/");
    const qint64 image = ids["msg.image"] =
        b.addMessage({.chat = anna, .type = 1, .text = QStringLiteral("look"), .fromMe = true});
    b.writeImage(annaMedia + QStringLiteral("IMG_1.jpg"), 32, 24, "JPEG");
    ids["media.image"] = b.addMediaItem(image, {.localPath = annaMedia + QStringLiteral("IMG_1.jpg"),
                                                .title = QStringLiteral("Beach")});
    const qint64 t0 = 978307200 + 600000000;
    b.addReceipts(image, {{annaJid, t0 + 10, t0 + 70, false}, {QStringLiteral("4915550002"), t0 + 12, 0, true}});
    const qint64 slash = ids["msg.imageSlash"] = b.addMessage({.chat = anna, .type = 1});
    b.writeImage(annaMedia + QStringLiteral("IMG_2.png"), 20, 20, "PNG");
    ids["media.imageSlash"] =
        b.addMediaItem(slash, {.localPath = QStringLiteral("/") + annaMedia + QStringLiteral("IMG_2.png")});
    const qint64 video = ids["msg.video"] = b.addMessage({.chat = anna, .type = 2});
    b.writeImage(annaMedia + QStringLiteral("VID_1.thumb"), 16, 9, "JPEG");
    ids["media.video"] = b.addMediaItem(video, {.localPath = annaMedia + QStringLiteral("VID_1.mp4"),
                                                .thumbnailPath = annaMedia + QStringLiteral("VID_1.thumb")});
    const qint64 audio = ids["msg.audio"] = b.addMessage({.chat = anna, .type = 3, .text = QStringLiteral("hidden")});
    b.writeMediaFile(annaMedia + QStringLiteral("PTT_1.opus"), QByteArray("OggS fake voice"));
    const qint64 audioMedia = ids["media.audio"] =
        b.addMediaItem(audio, {.localPath = annaMedia + QStringLiteral("PTT_1.opus")});
    b.setQuote(audioMedia, {QuoteSpec::TextOnly, QStringLiteral("Hello\tAnna\nagain"), annaJid,
                            QStringLiteral("3EB0QUOTED1")});
    const qint64 card = ids["msg.contact"] = b.addMessage({.chat = anna, .type = 4});
    ids["media.contact"] = b.addMediaItem(
        card, {.vcardName = QStringLiteral("Fiona"),
               .vcards = {ChatDbBuilder::vcard(QStringLiteral("Fiona"), QStringLiteral("4915550006"), true)}});
    const qint64 cards = ids["msg.contacts"] = b.addMessage({.chat = anna, .type = 4});
    ids["media.contacts"] = b.addMediaItem(
        cards, {.vcardName = QStringLiteral("Gus"),
                .vcards = {ChatDbBuilder::vcard(QStringLiteral("Gus"), QStringLiteral("4915550007"), false),
                           ChatDbBuilder::vcard(QStringLiteral("Hal"), QStringLiteral("4915550008"), false)}});
    const qint64 location = ids["msg.location"] =
        b.addMessage({.chat = anna, .type = 5, .text = QStringLiteral("Berlin")});
    ids["media.location"] = b.addMediaItem(location, {.latitude = 52.52, .longitude = 13.405});
    const qint64 link = ids["msg.link"] = b.addMessage({.chat = anna, .type = 7, .text = QStringLiteral("see")});
    b.addMediaItem(link, {.mediaUrl = QStringLiteral("https://example.org/page")});
    const qint64 doc = ids["msg.document"] =
        b.addMessage({.chat = anna, .type = 8, .text = QStringLiteral("report attached")});
    b.writeMediaFile(annaMedia + QStringLiteral("report.pdf"), QByteArray("%PDF-1.4 fake"));
    ids["media.document"] = b.addMediaItem(doc, {.localPath = annaMedia + QStringLiteral("report.pdf"),
                                                 .authorName = QStringLiteral("  Report: Q1.pdf ")});
    const qint64 doc2 = ids["msg.documentNoAuthor"] =
        b.addMessage({.chat = anna, .type = 8, .text = QStringLiteral("  notes.txt  ")});
    ids["media.documentNoAuthor"] = b.addMediaItem(doc2, {.localPath = annaMedia + QStringLiteral("notes.txt")});
    const qint64 gif = ids["msg.gif"] = b.addMessage({.chat = anna, .type = 11});
    ids["media.gif"] = b.addMediaItem(gif, {.title = QStringLiteral("funny")});
    const qint64 sticker = ids["msg.sticker"] = b.addMessage({.chat = anna, .type = 15});
    ids["media.sticker"] = b.addMediaItem(sticker, {.localPath = annaMedia + QStringLiteral("sticker.webp")});
    ids["msg.type9"] = b.addMessage({.chat = anna, .type = 9, .text = QStringLiteral("not shown")});
    ids["msg.type12"] = b.addMessage({.chat = anna, .type = 12, .text = QStringLiteral("not shown")});
    ids["msg.starred"] = b.addMessage({.chat = anna, .type = 0, .text = QStringLiteral("keep this"), .starred = 1});
    const qint64 reply = ids["msg.reply"] =
        b.addMessage({.chat = anna, .type = 0, .text = QStringLiteral("Nice photo"), .fromMe = false});
    const qint64 replyMedia = ids["media.reply"] = b.addMediaItem(reply, {});
    b.setQuote(replyMedia, {QuoteSpec::Image, QString(), QString(), QStringLiteral("3EB0QUOTED2")});
    // A stored path that climbs out of the media folder, with a file there.
    QFile outside(b.folder().appFolder + QStringLiteral("/outside.jpg"));
    if (outside.open(QIODevice::WriteOnly))
        outside.write(ChatDbBuilder::imageBytes(8, 8, "JPEG", Qt::red));
    outside.close();
    const qint64 escape = ids["msg.escape"] = b.addMessage({.chat = anna, .type = 1});
    ids["media.escape"] = b.addMediaItem(escape, {.localPath = QStringLiteral("../outside.jpg"),
                                                  .thumbnailPath = QStringLiteral("/../outside.jpg")});
    // Parents: a plain one, and two messages that name each other.
    if (b.hasColumn(QStringLiteral("ZWAMESSAGE"), QStringLiteral("ZPARENTMESSAGE"))) {
        const qint64 child = ids["msg.child"] = b.addMessage({.chat = anna, .type = 0, .text = QStringLiteral("child")});
        b.setParent(child, ids["msg.text"]);
        const qint64 loopA = ids["msg.loopA"] = b.addMessage({.chat = anna, .type = 0, .text = QStringLiteral("loop A")});
        const qint64 loopB = ids["msg.loopB"] = b.addMessage({.chat = anna, .type = 0, .text = QStringLiteral("loop B")});
        b.setParent(loopA, loopB);
        b.setParent(loopB, loopA);
    }

    // The partner whose name is its own JID.
    ids["msg.ben"] = b.addMessage({.chat = ben, .type = 0, .text = QStringLiteral("hi from ben")});

    // Group: an event, members' messages, a quote of a member.
    ids["msg.groupEvent"] =
        b.addMessage({.chat = group, .type = 6, .member = ids["member.carl"], .groupEventType = 2});
    ids["msg.groupDora"] = b.addMessage(
        {.chat = group, .type = 0, .text = QStringLiteral("dinner at 7"), .member = ids["member.dora"]});
    ids["msg.groupCarl"] =
        b.addMessage({.chat = group, .type = 0, .text = QStringLiteral("ok"), .member = ids["member.carl"]});
    const qint64 gimage = ids["msg.groupImage"] =
        b.addMessage({.chat = group, .type = 1, .member = ids["member.anna"]});
    const qint64 gmedia = ids["media.groupImage"] = b.addMediaItem(gimage, {.title = QStringLiteral("cake")});
    b.setQuote(gmedia, {QuoteSpec::Video, QString(), doraJid, QStringLiteral("3EB0QUOTED3")});
    ids["msg.group2"] = b.addMessage({.chat = group2, .type = 0, .text = QStringLiteral("anyone?"),
                                      .member = ids["member.group2.ben"]});

    // Chats the reader never lists.
    ids["msg.broadcast"] = b.addMessage({.chat = broadcast, .type = 0, .text = QStringLiteral("to all"), .fromMe = true});
    ids["msg.status"] = b.addMessage({.chat = status, .type = 0, .text = QStringLiteral("my status")});

    int chats = 4;
    if (b.hasColumn(QStringLiteral("ZWACHATSESSION"), QStringLiteral("ZREMOVED"))) {
        const qint64 removed = ids["chat.removed"] =
            b.addChat(QStringLiteral("4915550005@s.whatsapp.net"), QStringLiteral("Eve"), {.removed = true});
        const qint64 gone = ids["msg.removed"] =
            b.addMessage({.chat = removed, .type = 0, .text = QStringLiteral("gone")});
        b.addReceipts(gone, {{QStringLiteral("4915550005@s.whatsapp.net"), t0, t0 + 1, false}});
        const qint64 goneMedia = b.addMessage({.chat = removed, .type = 1});
        b.addMediaItem(goneMedia, {.localPath = QStringLiteral("Media/eve.jpg")});
        // A message of another chat whose parent lives in the removed chat.
        if (b.hasColumn(QStringLiteral("ZWAMESSAGE"), QStringLiteral("ZPARENTMESSAGE"))) {
            const qint64 orphan = ids["msg.parentInRemoved"] =
                b.addMessage({.chat = ben, .type = 0, .text = QStringLiteral("re: gone")});
            b.setParent(orphan, gone);
        }
    }

    if (layout == ChatDbLayout::Today)
        chats += addTodaySection(b, ids);

    if (deviceStyle)
        b.writeContacts({{QStringLiteral("Anna"), 101}, {QStringLiteral("Dora"), 104}},
                        {{QStringLiteral("4915550001"), QStringLiteral("AB12-CD34")}});

    if (bulkMessages > 0)
        b.addBulkMessages(bulkMessages, {anna, ben, group, broadcast});

    b.commit();
    s.folder = b.folder();
    s.expectedCount = b.expectedCount();
    s.expectedChats = chats;
    return s;
}
