// The quoted-message payload: kinds, the stand-in payload, and fields the
// schema does not name surviving a parse.
#include "chatstore/quotedpayload.h"
#include "protowire.h"

#include <QList>

#include <gtest/gtest.h>

using namespace wire;

TEST(QuotedPayload, KindFollowsPreviewOrder)
{
    struct Case { QByteArray bytes; QuotedKind kind; };
    const QList<Case> cases = {
        {lfield(9, vfield(4, 12)), QuotedKind::Video},                  // only field 9: "[VIDEO]"
        {lfield(9, {}), QuotedKind::Video},                              // present though empty
        {lfield(8, {}) + lfield(9, {}), QuotedKind::Video},             // video before voice
        {lfield(8, {}), QuotedKind::Voice},
        {lfield(3, {}) + lfield(5, {}), QuotedKind::Image},
        {lfield(4, {}) + lfield(5, {}), QuotedKind::Location},
        {lfield(4, {}) + lfield(13, {}), QuotedKind::VCard},
        {lfield(13, lfield(2, lfield(1, "A"))), QuotedKind::MultiVCard},
        {lfield(1, "hi") + lfield(3, {}), QuotedKind::Text},
        {QByteArray(), QuotedKind::None},
        {vfield(2, 1) + lfield(20, "x"), QuotedKind::None},             // only unnamed fields
    };
    for (const Case& c : cases)
        EXPECT_EQ(quotedPayloadKind(parseQuotedPayload(c.bytes)), c.kind) << c.bytes.toHex().toStdString();
}

TEST(QuotedPayload, TextIsUtf8)
{
    const WAQuotedMsg m = parseQuotedPayload(lfield(1, "Gr\xc3\xbc\xc3\x9f" "e\n:)"));
    EXPECT_EQ(quotedPayloadText(m), QString::fromUtf8("Gr\xc3\xbc\xc3\x9f" "e\n:)"));
}

TEST(QuotedPayload, PayloadBytesStandInWhenNothingIsPresent)
{
    const QByteArray stand = lfield(1, "[QUOTED MESSAGE]");
    EXPECT_EQ(quotedPayloadBytes(WAQuotedMsg()).toHex(), stand.toHex());
    EXPECT_EQ(quotedPayloadBytes(parseQuotedPayload(vfield(2, 1))).toHex(), stand.toHex());
    const QByteArray video = lfield(9, vfield(4, 12));
    EXPECT_EQ(quotedPayloadBytes(parseQuotedPayload(video)).toHex(), video.toHex());
}

TEST(QuotedPayload, UnnamedFieldsSurviveParseAndSerialize)
{
    // Named fields in number order, each message's unnamed fields after
    // them: that is the order the runtime writes, so the bytes come back
    // exactly.
    const QByteArray image = lfield(1, "image/jpeg") + lfield(4, QByteArray("\x00\xff", 2)) + vfield(5, 640)
                             + vfield(6, 480) + vfield(7, uint64_t(int64_t(-1))) + lfield(16, "thumb")
                             + vfield(30, 99) + lfield(31, "opaque");
    const QByteArray multi = lfield(1, "2 contacts") + lfield(2, lfield(1, "A") + lfield(16, "BEGIN:VCARD"))
                             + lfield(2, lfield(1, "B") + vfield(7, 1));
    const QByteArray location = lfield(5, QByteArray("\x09", 1) + QByteArray(8, '\x01') + QByteArray("\x11", 1)
                                              + QByteArray(8, '\x02'));
    const QByteArray in = lfield(1, "caption") + lfield(3, image) + location + lfield(13, multi) + vfield(2, 7)
                          + lfield(50, "tail");
    const WAQuotedMsg m = parseQuotedPayload(in);
    EXPECT_EQ(m.image().f5(), 640);
    EXPECT_EQ(m.image().f7(), -1);  // written back as a 10-byte varint
    EXPECT_EQ(serializeQuotedPayload(m).toHex(), in.toHex());
    EXPECT_EQ(quotedPayloadBytes(m).toHex(), in.toHex());
}

TEST(QuotedPayload, DamagedBytesLeaveAPartialMessage)
{
    const QByteArray text = lfield(1, "text");
    const QByteArray good = text + lfield(9, vfield(4, 3) + lfield(16, QByteArray(40, 'x')));
    for (qsizetype n = 0; n <= good.size(); ++n) {
        SCOPED_TRACE(n);
        const WAQuotedMsg m = parseQuotedPayload(good.left(n));
        // The text is there once its field is whole, and what was read
        // writes out and reads back as the same message.
        if (n >= text.size())
            EXPECT_EQ(quotedPayloadText(m), QStringLiteral("text"));
        const QByteArray written = serializeQuotedPayload(m);
        EXPECT_EQ(serializeQuotedPayload(parseQuotedPayload(written)).toHex(), written.toHex());
    }
    EXPECT_EQ(serializeQuotedPayload(parseQuotedPayload(good)).toHex(), good.toHex());
    // Nesting 5000 deep: below the card (which names no field 13) it is an
    // unnamed field, carried as opaque bytes without recursing, and written
    // back unchanged.
    QByteArray deep = lfield(1, "x");
    for (int i = 0; i < 5000; ++i)
        deep = lfield(13, lfield(2, deep));
    const WAQuotedMsg nested = parseQuotedPayload(deep);
    EXPECT_EQ(quotedPayloadKind(nested), QuotedKind::MultiVCard);
    EXPECT_TRUE(quotedPayloadText(nested).isEmpty());
    EXPECT_EQ(serializeQuotedPayload(nested), deep);
}
