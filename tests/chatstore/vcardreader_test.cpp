// vCard texts: cards and properties, unfolding, both value encodings,
// parameters, aborted parses and streaming input.
#include "chatstore/vcardreader.h"
#include "chatstore/vcardtokenizer.h"

#include <QRandomGenerator>

#include <gtest/gtest.h>

TEST(VCardReader, OneCardWithOneProperty)
{
    for (const QByteArray& text : {QByteArray("BEGIN:VCARD\nFN:A\nEND:VCARD\n"),
                                   QByteArray("BEGIN:VCARD\r\nFN:A\r\nEND:VCARD\r\n"),
                                   QByteArray("BEGIN:VCARD\n\n\nFN:  A\n\r\nEND:VCARD")}) {
        const QList<VCard> cards = parseVCards(text);
        ASSERT_EQ(cards.size(), 1) << text.toStdString();
        ASSERT_EQ(cards[0].properties.size(), 1);
        EXPECT_EQ(cards[0].properties[0].name, "FN");
        EXPECT_TRUE(cards[0].properties[0].params.isEmpty());
        EXPECT_EQ(cards[0].properties[0].value, "A");
    }
}

TEST(VCardReader, FoldedBase64PhotoIsDecoded)
{
    const QByteArray image = QByteArray::fromHex("ffd8ffe000104a46494600010100000100010000ffd9") + QByteArray(300, '\x7f');
    const QByteArray b64 = image.toBase64();
    QByteArray folded;
    for (qsizetype i = 0; i < b64.size(); i += 61)
        folded += (i ? "\n " : "") + b64.mid(i, 61);  // odd width: quads straddle the folds
    for (const QByteArray& head : {QByteArray("PHOTO;ENCODING=b;TYPE=JPEG:"), QByteArray("PHOTO;BASE64:"),
                                   QByteArray("PHOTO;encoding=BASE64;TYPE=JPEG:\n  ")}) {
        const QByteArray text = "BEGIN:VCARD\nVERSION:3.0\n" + head + folded + "\nTEL:1\nEND:VCARD\n";
        const QList<VCard> cards = parseVCards(text);
        ASSERT_EQ(cards.size(), 1) << head.toStdString();
        const VCardProperty* photo = cards[0].property("PHOTO");
        ASSERT_NE(photo, nullptr);
        EXPECT_EQ(photo->value.toHex(), image.toHex());
        ASSERT_NE(cards[0].property("TEL"), nullptr);
        EXPECT_EQ(cards[0].property("TEL")->value, "1");
    }
    // Unpadded data at the end of the value is completed with "=".
    const QList<VCard> cards = parseVCards("BEGIN:VCARD\nPHOTO;BASE64:QUJD\n REU\nEND:VCARD");
    EXPECT_EQ(cards[0].property("PHOTO")->value, "ABCDE");
}

TEST(VCardReader, ValueLines)
{
    struct Case { QByteArray line; QByteArray value; };
    const QList<Case> cases = {
        {"NOTE;ENCODING=QUOTED-PRINTABLE:A=3DB", "A=B"},
        {"NOTE;QUOTED-PRINTABLE:=C3=BCber", "\xc3\xbc" "ber"},
        {"NOTE;ENCODING=QUOTED-PRINTABLE:bad=ZZend", "bad=ZZend"},
        {"NOTE;ENCODING=QUOTED-PRINTABLE:half=4", "half"},
        {"NOTE;CHARSET=UTF-8;ENCODING=8BIT:plain=3D", "plain=3D"},
        {"NOTE;BASE64;ENCODING=QUOTED-PRINTABLE:x=41", "xA"},  // the last encoding wins
        {"NOTE:folded\n line", "folded line"},
        {"NOTE:a\n\tb\n  c", "a b  c"},
        {"NOTE:keeps: colons; and;semicolons", "keeps: colons; and;semicolons"},
        {"NOTE:", ""},
    };
    for (const Case& c : cases) {
        const QList<VCard> cards = parseVCards("BEGIN:VCARD\n" + c.line + "\nEND:VCARD\n");
        ASSERT_EQ(cards.size(), 1) << c.line.toStdString();
        ASSERT_EQ(cards[0].properties.size(), 1) << c.line.toStdString();
        EXPECT_EQ(cards[0].properties[0].value, c.value) << c.line.toStdString();
    }
}

TEST(VCardReader, Parameters)
{
    const QList<VCard> cards = parseVCards(
        "BEGIN:VCARD\nitem1.TEL;type=CELL;type=VOICE;PREF;X-NOTE=a\\;b\\\\c :+49 170\nEND:VCARD\n");
    ASSERT_EQ(cards.size(), 1);
    ASSERT_EQ(cards[0].properties.size(), 1);
    const VCardProperty& p = cards[0].properties[0];
    EXPECT_EQ(p.name, "item1.TEL");
    EXPECT_EQ(p.params.value("type"), "VOICE");  // a later duplicate replaces
    EXPECT_TRUE(p.params.contains("PREF"));
    EXPECT_EQ(p.params.value("PREF"), "");
    EXPECT_EQ(p.params.value("X-NOTE"), "a;b\\c");
    EXPECT_EQ(p.value, "+49 170");
}

TEST(VCardReader, CardsAndWhatLiesOutsideThem)
{
    const QList<VCard> cards = parseVCards("NOTE:before\nBEGIN:VCARD\nFN:One\nEND:VCARD\nNOTE:between\n"
                                           "BEGIN:VCARD\nFN:Two\nN:T;w;o\nEND:VCARD\nbegin:vcard\nFN:x\n");
    ASSERT_EQ(cards.size(), 2);
    ASSERT_EQ(cards[0].properties.size(), 1);
    EXPECT_EQ(cards[0].properties[0].value, "One");
    ASSERT_EQ(cards[1].properties.size(), 2);
    EXPECT_EQ(cards[1].properties[1].value, "T;w;o");
}

TEST(VCardReader, LastValueWithoutLineFeedIsDelivered)
{
    const QList<VCard> cards = parseVCards("BEGIN:VCARD\nFN:Last");
    ASSERT_EQ(cards.size(), 1);
    ASSERT_EQ(cards[0].properties.size(), 1);
    EXPECT_EQ(cards[0].properties[0].value, "Last");
    // A property cut off in its parameters is dropped.
    EXPECT_TRUE(parseVCards("BEGIN:VCARD\nFN;X=1").value(0).properties.isEmpty());
    // A line that ends inside its parameters does not swallow the next one.
    const QList<VCard> broken = parseVCards("BEGIN:VCARD\nX;A=1\nFN:Kept\nEND:VCARD");
    ASSERT_EQ(broken.size(), 1);
    ASSERT_EQ(broken[0].properties.size(), 1);
    EXPECT_EQ(broken[0].properties[0].value, "Kept");
}

TEST(VCardReader, AbortedParseKeepsWhatWasRead)
{
    for (const QByteArray& bad : {QByteArray("TEL;:1"), QByteArray("TEL;X=:1"), QByteArray("TEL;X=;1"),
                                  QByteArray("PHOTO;BASE64:A!AA"), QByteArray("PHOTO;BASE64:AA!A"),
                                  QByteArray("PHOTO;BASE64:QUJDR")}) {
        const QList<VCard> cards = parseVCards("BEGIN:VCARD\nFN:A\nEND:VCARD\nBEGIN:VCARD\nFN:B\n" + bad
                                               + "\nNOTE:after\nEND:VCARD\nBEGIN:VCARD\nFN:C\nEND:VCARD\n");
        ASSERT_EQ(cards.size(), 2) << bad.toStdString();
        EXPECT_EQ(cards[1].properties[0].value, "B");
        EXPECT_EQ(cards[1].property("NOTE"), nullptr) << bad.toStdString();
    }
}

namespace {
void recordStart(void* user, const char* name, size_t n, const VCardParam* params, size_t count)
{
    auto* log = static_cast<QByteArray*>(user);
    *log += "<" + QByteArray(name, qsizetype(n));
    for (size_t i = 0; i < count; ++i)
        *log += ";" + QByteArray(params[i].name, qsizetype(params[i].nameLength)) + "="
                + QByteArray(params[i].value, qsizetype(params[i].valueLength));
    *log += ">";
}
void recordValue(void* user, const char* data, size_t n)
{
    auto* log = static_cast<QByteArray*>(user);
    *log += data ? QByteArray(data, qsizetype(n)) : QByteArray("|");
}
QByteArray tokenize(const QByteArray& text, qsizetype chunk)
{
    QByteArray log;
    VCardTokenizer t;
    t.setCallbacks(recordStart, recordValue, &log);
    for (qsizetype i = 0; i < text.size(); i += chunk)
        t.feed(text.constData() + i, size_t(std::min(chunk, text.size() - i)), false);
    t.feed(nullptr, 0, true);
    return log;
}
} // namespace

TEST(VCardTokenizer, FeedingInPiecesGivesTheSameEvents)
{
    const QByteArray text = "BEGIN:VCARD\r\nN;CHARSET=UTF-8:Doe;J\r\n ohn\r\nNOTE;ENCODING=QUOTED-PRINTABLE:a=3\r\n"
                            "PHOTO;ENCODING=b:QUJD\r\n  REVG\r\nEND:VCARD";
    const QByteArray whole = tokenize(text, text.size());
    EXPECT_EQ(whole, "<BEGIN>VCARD|<N;CHARSET=UTF-8>Doe;J ohn|<NOTE;ENCODING=QUOTED-PRINTABLE>a|"
                     "<PHOTO;ENCODING=b>ABCDEF|<END>VCARD|");
    for (qsizetype chunk : {1, 2, 3, 7})
        EXPECT_EQ(tokenize(text, chunk), whole) << chunk;
}

TEST(VCardTokenizer, HostileTextStaysBounded)
{
    // A big value is collected in linear time and released afterwards.
    const QByteArray big = QByteArray(8 << 20, 'A');
    const QList<VCard> cards = parseVCards("BEGIN:VCARD\nPHOTO;BASE64:" + big + "\nEND:VCARD");
    ASSERT_EQ(cards.size(), 1);
    EXPECT_EQ(cards[0].properties[0].value.size(), 6 << 20);

    // Properties past the cap are not kept; the parse still ends normally.
    QByteArray many = "BEGIN:VCARD\n";
    for (int i = 0; i < 100005; ++i)
        many += "A:\n";
    const QList<VCard> capped = parseVCards(many + "END:VCARD\nBEGIN:VCARD\nFN:x\nEND:VCARD\n");
    ASSERT_EQ(capped.size(), 2);
    EXPECT_EQ(capped[0].properties.size(), 100000);

    // Random bytes drawn from the characters that drive the machine.
    const char alphabet[] = "BEGIN:VCARD;=\\\n\r \tENCODING=BASE64QUOTED-PRINTABLE:=3D+/AZaz09";
    QRandomGenerator rng(1234);
    for (int round = 0; round < 2000; ++round) {
        QByteArray text;
        const int n = int(rng.bounded(200));
        for (int i = 0; i < n; ++i)
            text += alphabet[rng.bounded(int(sizeof(alphabet) - 1))];
        (void)parseVCards(text);
    }
}
