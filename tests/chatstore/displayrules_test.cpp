// The texts the list, the bubbles and the exports show for chats, members
// and messages, as tables of cases.
#include "chatstore/displayrules.h"
#include "tools/fixturebuilder/chatdbbuilder.h"

#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

PChatSession chat(const QString& jid, const QString& partner, bool group = false)
{
    auto s = std::make_shared<_ChatSession>();
    s->Z_PK = 1;
    s->ZCONTACTJID = jid;
    s->ZPARTNERNAME = partner;
    if (group)
        s->groupInfo = std::make_shared<_GroupInfo>();
    return s;
}

PGroupMember member(const QString& jid, const QString& name)
{
    auto m = std::make_shared<_GroupMember>();
    m->ZMEMBERJID = jid;
    m->ZCONTACTNAME = name;
    return m;
}

_QuotedRef quote(const QuoteSpec& spec, const QString& senderName = {})
{
    _QuotedRef q;
    q.payload = parseQuotedPayload(ChatDbBuilder::quotedPayload(spec));
    q.senderJid = spec.senderJid;
    q.senderName = senderName;
    q.stanzaId = spec.stanzaId;
    return q;
}

}  // namespace

TEST(DisplayRules, JidUserAndCoreDataDates)
{
    EXPECT_EQ(jidUser(QStringLiteral("4915550001@s.whatsapp.net")), QStringLiteral("4915550001"));
    EXPECT_EQ(jidUser(QStringLiteral("123-456@g.us")), QStringLiteral("123-456"));
    EXPECT_EQ(jidUser(QStringLiteral("plain")), QStringLiteral("plain"));
    EXPECT_EQ(jidUser(QStringLiteral("a@b@c")), QStringLiteral("a"));

    const QDateTime epoch(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC);
    EXPECT_EQ(coreDataToDateTime(0.0).toUTC(), epoch);
    EXPECT_EQ(coreDataToDateTime(1.9), coreDataToDateTime(1.0));
    EXPECT_EQ(coreDataToDateTime(1.0).toUTC(), epoch.addSecs(1));
    EXPECT_EQ(coreDataToDateTime(-0.5).toUTC(), epoch.addSecs(-1));  // the Unix time is truncated
    EXPECT_EQ(coreDataToDateTime(600000000.0).toUTC(), epoch.addSecs(600000000));
    EXPECT_EQ(coreDataToDateTime(dateTimeToCoreData(epoch.addSecs(1234))).toUTC(), epoch.addSecs(1234));
}

TEST(DisplayRules, SessionAndMemberNames)
{
    struct Case {
        const char* jid;
        const char* partner;
        bool group;
        bool withNumber;
        bool withMembers;
        const char* expected;
    };
    const Case cases[] = {
        {"4915550001@s.whatsapp.net", "Anna", false, false, false, "Anna"},
        {"4915550001@s.whatsapp.net", "Anna", false, true, false, "Anna(4915550001)"},
        {"4915550001@s.whatsapp.net", "4915550001@s.whatsapp.net", false, true, false, "4915550001"},
        {"4915550001@s.whatsapp.net", "4915550001@S.WHATSAPP.NET", false, false, false, "4915550001"},
        {"4915550001@s.whatsapp.net", "", false, true, false, "4915550001"},
        {"111-222@g.us", "Family", true, false, false, "Family"},
        {"111-222@g.us", "Family", true, true, false, "Family"},
        {"111-222@g.us", "", true, false, false, "Group111-222"},
        {"111-222@g.us", "111-222@G.US", true, false, false, "Group111-222"},
        {"111-222@g.us", "Family", true, false, true, "Family: Anna,4915550003"},
        {"111-222@g.us", "Family", true, true, true, "Family: Anna(4915550001),4915550003"},
    };
    for (const Case& c : cases) {
        PChatSession s = chat(QString::fromUtf8(c.jid), QString::fromUtf8(c.partner), c.group);
        s->members.insert(QStringLiteral("4915550001@s.whatsapp.net"),
                          member(QStringLiteral("4915550001@s.whatsapp.net"), QStringLiteral("Anna")));
        s->members.insert(QStringLiteral("4915550003@s.whatsapp.net"),
                          member(QStringLiteral("4915550003@s.whatsapp.net"), QString()));
        EXPECT_EQ(sessionDisplayName(*s, c.withNumber, c.withMembers), QString::fromUtf8(c.expected))
            << c.jid << " / " << c.partner;
    }

    struct MemberCase {
        const char* name;
        bool withNumber;
        const char* expected;
    };
    const MemberCase members[] = {
        {"Dora", false, "Dora"},
        {"Dora", true, "Dora(4915550004)"},
        {"", true, "4915550004"},
        {"4915550004@s.whatsapp.net", true, "4915550004"},
    };
    for (const MemberCase& c : members)
        EXPECT_EQ(memberDisplayName(*member(QStringLiteral("4915550004@s.whatsapp.net"), QString::fromUtf8(c.name)),
                                    c.withNumber),
                  QString::fromUtf8(c.expected));
}

TEST(DisplayRules, MessageTitle)
{
    _Message m;
    EXPECT_EQ(messageTitle(m), QString());
    m.session = chat(QStringLiteral("4915550001@s.whatsapp.net"), QStringLiteral("Anna"));
    EXPECT_EQ(messageTitle(m), QStringLiteral("Anna"));
    m.session = chat(QStringLiteral("111@g.us"), QStringLiteral("Family"), true);
    m.member = member(QStringLiteral("4915550004@s.whatsapp.net"), QStringLiteral("Dora"));
    EXPECT_EQ(messageTitle(m), QStringLiteral("Family - Dora"));
}

TEST(DisplayRules, MessageDisplayTextByType)
{
    struct Case {
        int type;
        const char* text;
        bool media;
        const char* caption;
        bool quoted;
        const char* expected;
    };
    const Case cases[] = {
        {0, "hello", false, "", false, "hello"},
        {0, "hello", true, "", true, "[QUOTED]You: hi[/QUOTED]\nhello"},
        {1, "look", true, "Beach", false, "look[IMAGE] Beach"},
        {1, "look", true, "", false, "look[IMAGE]"},
        {1, "", false, "", false, "[IMAGE]"},
        {2, "", true, "clip", false, "[VIDEO] clip"},
        {2, "x", true, "", false, "x[VIDEO]"},
        {3, "hidden", true, "", false, " [AUDIO]"},
        {3, "hidden", true, "", true, "[QUOTED]You: hi[/QUOTED]\n [AUDIO]"},
        {4, "hidden", true, "", false, " [VCARD]"},
        {5, "Berlin", true, "", false, "Berlin [LOCATION]"},
        {8, "x", false, "", false, " [DOCUMENT-NONAME]"},
        {8, "x", true, "a/b.pdf", false, " [DOCUMENT-a%2fb.pdf]"},
        {11, "", true, "funny", false, "[GIF] funny"},
        {15, "s", true, "", false, "s[STICKER]"},
        {9, "hidden", true, "", true, ""},
        {10, "hidden", false, "", false, ""},
        {12, "hidden", true, "", true, ""},
        {13, "hidden", false, "", false, ""},
        {14, "hidden", true, "", true, "[MESSAGE DELETED]"},
        {38, "once", true, "cap", true, "[QUOTED]You: hi[/QUOTED]\nonce[VIEW ONCE IMAGE]"},
        {38, "", false, "", false, "[VIEW ONCE IMAGE]"},
        {39, "v", true, "", false, "v[VIEW ONCE VIDEO]"},
        {53, "hidden", true, "", false, " [VIEW ONCE AUDIO]"},
        {54, "", true, "hi", false, "[VIDEO] hi"},
        {54, "x", true, "", true, "[QUOTED]You: hi[/QUOTED]\nx[VIDEO]"},
        {59, "hidden", false, "", false, "[CALL]"},
        {46, "Lunch?", false, "", false, "[POLL] Lunch? ()"},
        {66, "hidden", true, "", true, ""},
    };
    for (const Case& c : cases) {
        _Message m;
        m.ZMESSAGETYPE = c.type;
        m.ZTEXT = QString::fromUtf8(c.text);
        if (c.media) {
            m.media = std::make_shared<_MediaItem>();
            m.media->ZTITLE = QString::fromUtf8(c.caption);
            if (c.quoted)
                m.media->quote = quote({QuoteSpec::TextOnly, QStringLiteral("hi"), QString(), QStringLiteral("S1")});
        }
        EXPECT_EQ(messageDisplayText(m), QString::fromUtf8(c.expected)) << "type " << c.type;
    }
}

TEST(DisplayRules, EmojiBecomeLabelsOrCodes)
{
    EXPECT_EQ(emojiAsLabel(QStringLiteral("a\U0001F600b\uE415c")), QStringLiteral("a[EMOJI]b[EMOJI]c"));
    QStringList codes;
    const QString out = emojiRewrite(QStringLiteral("\U0001F600 \uE415 \u2714 \U0001F44D x"), [&](const QString& code) {
        codes << code;
        return QStringLiteral("<%1>").arg(code);
    });
    EXPECT_EQ(out, QStringLiteral("<1F600> <E415> <2714> <1F44D> x"));
    EXPECT_EQ(codes, (QStringList{QStringLiteral("E415"), QStringLiteral("2714"), QStringLiteral("1F600"),
                                  QStringLiteral("1F44D")}));
    // Other supplementary characters and ordinary text stay.
    EXPECT_EQ(emojiAsLabel(QStringLiteral("\U00020000 caf\u00e9")), QStringLiteral("\U00020000 caf\u00e9"));
    // A message text with an emoji shows the label in the list.
    _Message m;
    m.ZTEXT = QStringLiteral("hi \U0001F600");
    EXPECT_EQ(messageDisplayText(m), QStringLiteral("hi [EMOJI]"));
}

TEST(DisplayRules, GroupEventTexts)
{
    struct Case {
        int event;
        bool withMember;
        const char* expected;
    };
    const Case cases[] = {
        {1, true, "Dora changed the subject to \"New name\""},
        {1, false, "You changed the subject to \"New name\""},
        {2, true, "Dora joined"},
        {3, false, "You left"},
        {4, true, "Dora changed the group icon"},
        {7, true, "Group has been removed"},
        {5, true, "New name"},
    };
    for (const Case& c : cases) {
        _Message m;
        m.ZMESSAGETYPE = 6;
        m.ZGROUPEVENTTYPE = c.event;
        m.ZTEXT = QStringLiteral("New name");
        if (c.withMember)
            m.member = member(QStringLiteral("4915550004@s.whatsapp.net"), QStringLiteral("Dora"));
        // A quote never shows with an event.
        m.media = std::make_shared<_MediaItem>();
        m.media->quote = quote({QuoteSpec::TextOnly, QStringLiteral("hi"), QString(), QStringLiteral("S1")});
        EXPECT_EQ(groupEventText(m), QString::fromUtf8(c.expected));
        EXPECT_EQ(messageDisplayText(m), QString::fromUtf8(c.expected));
    }
}

TEST(DisplayRules, QuotedPreviews)
{
    const QString anna = QStringLiteral("4915550001@s.whatsapp.net");
    struct Case {
        QuoteSpec spec;
        const char* name;
        const char* expected;
    };
    const Case cases[] = {
        {{QuoteSpec::TextOnly, QStringLiteral("line1\r\nline2\tend"), anna, QStringLiteral("S")}, "Anna",
         "[QUOTED]Anna: line1  line2 end[/QUOTED]\n"},
        {{QuoteSpec::TextOnly, QStringLiteral("hi"), anna, QStringLiteral("S")}, "",
         "[QUOTED]4915550001: hi[/QUOTED]\n"},
        {{QuoteSpec::TextOnly, QStringLiteral("mine"), QString(), QStringLiteral("S")}, "Anna",
         "[QUOTED]You: mine[/QUOTED]\n"},
        {{QuoteSpec::Image, QString(), anna, QStringLiteral("S")}, "Anna", "[QUOTED]Anna: [IMAGE][/QUOTED]\n"},
        {{QuoteSpec::Image, QStringLiteral("caption"), anna, QStringLiteral("S")}, "Anna",
         "[QUOTED]Anna: caption[/QUOTED]\n"},
        {{QuoteSpec::Location, QString(), anna, QStringLiteral("S")}, "Anna", "[QUOTED]Anna: [LOCATION][/QUOTED]\n"},
        {{QuoteSpec::Card, QString(), anna, QStringLiteral("S")}, "Anna", "[QUOTED]Anna: [VCARD][/QUOTED]\n"},
        {{QuoteSpec::Cards, QString(), anna, QStringLiteral("S")}, "Anna", "[QUOTED]Anna: [VCARDS][/QUOTED]\n"},
        {{QuoteSpec::Video, QString(), anna, QStringLiteral("S")}, "Anna", "[QUOTED]Anna: [VIDEO][/QUOTED]\n"},
        {{QuoteSpec::Audio, QString(), anna, QStringLiteral("S")}, "Anna", "[QUOTED]Anna: [AUDIO][/QUOTED]\n"},
        {{QuoteSpec::Nothing, QString(), anna, QStringLiteral("S")}, "Anna",
         "[QUOTED]Anna: [QUOTED MESSAGE][/QUOTED]\n"},
        {{QuoteSpec::ExtendedText, QStringLiteral("re:\nre"), anna, QStringLiteral("S")}, "Anna",
         "[QUOTED]Anna: re: re[/QUOTED]\n"},
        {{QuoteSpec::Document, QString(), anna, QStringLiteral("S")}, "Anna", "[QUOTED]Anna: [DOCUMENT][/QUOTED]\n"},
        {{QuoteSpec::Sticker, QString(), anna, QStringLiteral("S")}, "Anna", "[QUOTED]Anna: [STICKER][/QUOTED]\n"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(quotedPreviewText(quote(c.spec, QString::fromUtf8(c.name))), QString::fromUtf8(c.expected));

    // Written back: a payload of no known kind becomes "[QUOTED MESSAGE]".
    const _QuotedRef empty = quote({QuoteSpec::Nothing, QString(), anna, QStringLiteral("S")});
    EXPECT_EQ(quotedPayloadText(parseQuotedPayload(quotedPayloadBytes(empty))), QStringLiteral("[QUOTED MESSAGE]"));
    const _QuotedRef video = quote({QuoteSpec::Video, QString(), anna, QStringLiteral("S")});
    EXPECT_EQ(quotedPayloadBytes(video), ChatDbBuilder::quotedPayload({QuoteSpec::Video, QString(), anna, {}}));
}

TEST(DisplayRules, DocumentAndCardNames)
{
    _MediaItem media;
    media.Z_PK = 7;
    media.ZTITLE = QStringLiteral("  Report: Q1?.pdf ");
    EXPECT_EQ(documentName(media), QStringLiteral("Report%3a Q1%3f.pdf"));
    media.ZTITLE = QStringLiteral("   ");
    media.mediaFile = QStringLiteral("/data/Library/Media/x/file name.pdf");
    EXPECT_EQ(documentName(media), QStringLiteral("file name.pdf"));
    media.mediaFile.clear();
    EXPECT_EQ(documentName(media), QString());

    media.ZVCARDNAME = QStringLiteral("Fiona");
    EXPECT_EQ(cardDisplayName(media), QStringLiteral("Fiona"));
    media.cardTexts = {QStringLiteral("BEGIN:VCARD\nEND:VCARD")};
    EXPECT_EQ(cardDisplayName(media), QStringLiteral("Fiona"));
    media.cardTexts << QStringLiteral("BEGIN:VCARD\nEND:VCARD") << QStringLiteral("BEGIN:VCARD\nEND:VCARD");
    EXPECT_EQ(cardDisplayName(media), QStringLiteral("3 contacts"));
    EXPECT_EQ(cardTempBaseName(media, 42), QStringLiteral("quillometry-wavcard-42-7-3 contacts"));
    media.cardTexts.clear();
    media.ZVCARDNAME = QStringLiteral("A/B: C");
    EXPECT_EQ(cardTempBaseName(media, 1), QStringLiteral("quillometry-wavcard-1-7-A%2fB%3a C"));
}

TEST(DisplayRules, CardFilesAreWrittenOnceWithThePhoto)
{
    QTemporaryDir dir;
    _MediaItem media;
    media.cardTexts = {ChatDbBuilder::vcard(QStringLiteral("Fiona"), QStringLiteral("4915550006"), true),
                       ChatDbBuilder::vcard(QStringLiteral("Gus"), QStringLiteral("4915550007"), false)};
    const QString photo = dir.filePath("card.jpg");
    const QString card = dir.filePath("card.vcf");
    ASSERT_TRUE(writeCardFiles(media, photo, card));
    QImage image;
    EXPECT_TRUE(image.load(photo, "JPEG"));
    EXPECT_EQ(image.size(), QSize(16, 16));
    QFile vcf(card);
    ASSERT_TRUE(vcf.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(vcf.readAll()), media.cardTexts.join(QLatin1Char('\n')));
    vcf.close();

    // Existing files are never overwritten.
    media.cardTexts = {ChatDbBuilder::vcard(QStringLiteral("Other"), QStringLiteral("1"), true)};
    ASSERT_TRUE(writeCardFiles(media, photo, card));
    ASSERT_TRUE(vcf.open(QIODevice::ReadOnly));
    EXPECT_TRUE(vcf.readAll().contains("FN:Fiona"));

    // A card without a photo writes only the card; no cards write nothing.
    media.cardTexts = {ChatDbBuilder::vcard(QStringLiteral("Hal"), QStringLiteral("2"), false)};
    EXPECT_TRUE(writeCardFiles(media, dir.filePath("hal.jpg"), dir.filePath("hal.vcf")));
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("hal.jpg")));
    EXPECT_TRUE(QFileInfo::exists(dir.filePath("hal.vcf")));
    media.cardTexts.clear();
    EXPECT_TRUE(writeCardFiles(media, dir.filePath("none.jpg"), dir.filePath("none.vcf")));
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("none.vcf")));
}

TEST(DisplayRules, LidJidsAreNeverShownAsPhoneNumbers)
{
    const QString lid = QStringLiteral("123456789012345@lid");
    struct Case {
        const char* jid;
        const char* phone;
        const char* push;
        const char* expected;
    };
    const Case cases[] = {
        {"4915550001@s.whatsapp.net", "", "Anna", "4915550001"},
        {"123456789012345@lid", "4915550011", "Ida", "4915550011"},
        {"123456789012345@lid", "", "Greta", "~Greta"},
        {"123456789012345@lid", "", "", "123456789012345@lid"},
        {"123456789012345@LID", "", "", "123456789012345@LID"},
    };
    for (const Case& c : cases) {
        const QString jid = QString::fromUtf8(c.jid);
        const QString phone = QString::fromUtf8(c.phone);
        const QString push = QString::fromUtf8(c.push);
        EXPECT_EQ(jidDisplayName(jid, phone, push), QString::fromUtf8(c.expected)) << c.jid;
        // A member and a one-to-one chat without names follow the same rule.
        auto m = member(jid, QString());
        m->phone = phone;
        m->pushName = push;
        EXPECT_EQ(memberDisplayName(*m, true), QString::fromUtf8(c.expected)) << c.jid;
        auto s = chat(jid, jid);
        s->contactPhone = phone;
        s->contactPushName = push;
        EXPECT_EQ(sessionDisplayName(*s, true, false), QString::fromUtf8(c.expected)) << c.jid;
    }

    // With a name: the number is appended only when the phone is known.
    struct Named {
        const char* phone;
        bool withNumber;
        const char* expected;
    };
    const Named named[] = {
        {"4915550011", true, "Ida(4915550011)"},
        {"", true, "Ida"},
        {"4915550011", false, "Ida"},
    };
    for (const Named& c : named) {
        auto m = member(lid, QStringLiteral("Ida"));
        m->phone = QString::fromUtf8(c.phone);
        EXPECT_EQ(memberDisplayName(*m, c.withNumber), QString::fromUtf8(c.expected));
        auto s = chat(lid, QStringLiteral("Ida"));
        s->contactPhone = QString::fromUtf8(c.phone);
        EXPECT_EQ(sessionDisplayName(*s, c.withNumber, false), QString::fromUtf8(c.expected));
    }

    // Quoted senders: a name wins, else the @lid rule; the owner is "You".
    struct Quoted {
        const char* jid;
        const char* name;
        const char* phone;
        const char* push;
        const char* sender;
    };
    const Quoted quoted[] = {
        {"123456789012345@lid", "Hanna", "4915550017", "", "Hanna"},
        {"123456789012345@lid", "", "4915550017", "", "4915550017"},
        {"123456789012345@lid", "", "", "Greta", "~Greta"},
        {"123456789012345@lid", "", "", "", "123456789012345@lid"},
        {"", "", "", "", "You"},
    };
    for (const Quoted& c : quoted) {
        _QuotedRef q = quote({QuoteSpec::TextOnly, QStringLiteral("t"), QString::fromUtf8(c.jid), QStringLiteral("S")},
                             QString::fromUtf8(c.name));
        q.senderPhone = QString::fromUtf8(c.phone);
        q.senderPushName = QString::fromUtf8(c.push);
        EXPECT_EQ(quotedPreviewText(q), QStringLiteral("[QUOTED]%1: t[/QUOTED]\n").arg(QString::fromUtf8(c.sender)));
    }
}

TEST(DisplayRules, ReactionsAndPolls)
{
    _Message m;
    auto reaction = [](bool owner, const char* jid, const char* name, const char* phone, const QString& emoji) {
        _Reaction r;
        r.fromOwner = owner;
        r.reactor = {QString::fromUtf8(jid), QString::fromUtf8(name), QString::fromUtf8(phone), QString()};
        r.emoji = emoji;
        return r;
    };
    EXPECT_EQ(reactionsText(m), QString());
    m.reactions = {reaction(false, "1@lid", "", "4915550011", QStringLiteral("\U0001F44D")),
                   reaction(false, "2@lid", "", "", QString()),  // withdrawn
                   reaction(false, "4915550001@s.whatsapp.net", "Anna", "", QStringLiteral("\u2764\uFE0F")),
                   reaction(true, "", "", "", QStringLiteral("\U0001F602"))};
    EXPECT_EQ(reactionsText(m), QStringLiteral("4915550011 \U0001F44D, Anna \u2764\uFE0F, You \U0001F602"));

    struct Case {
        QList<_PollVote> votes;
        const char* expected;
    };
    auto vote = [](const char* jid, QList<int> options) {
        _PollVote v;
        v.fromOwner = !*jid;
        v.voter.jid = QString::fromUtf8(jid);
        v.options = options;
        return v;
    };
    const Case cases[] = {
        {{}, "[POLL] Lunch? (Pizza: 0, Sushi: 0, Salad %1: 0)"},
        {{vote("a@lid", {0}), vote("b@lid", {0, 1}), vote("", {1})}, "[POLL] Lunch? (Pizza: 2, Sushi: 2, Salad %1: 0)"},
        // A voter who voted again counts once, with the later choice.
        {{vote("a@lid", {0}), vote("a@lid", {2})}, "[POLL] Lunch? (Pizza: 0, Sushi: 0, Salad %1: 1)"},
        // Indices outside the options and repeated indices are ignored.
        {{vote("a@lid", {7, 1, 1, -1})}, "[POLL] Lunch? (Pizza: 0, Sushi: 1, Salad %1: 0)"},
    };
    for (const Case& c : cases) {
        _Poll poll{QStringLiteral("Lunch?"), {QStringLiteral("Pizza"), QStringLiteral("Sushi"), QStringLiteral("Salad %1")},
                   c.votes};
        EXPECT_EQ(pollText(poll), QString::fromUtf8(c.expected));
        _Message pm;
        pm.ZMESSAGETYPE = msgtype::kPoll;
        pm.poll = std::make_shared<_Poll>(poll);
        EXPECT_EQ(messageDisplayText(pm), QString::fromUtf8(c.expected));
    }
}
