// Reply metadata in ZMETADATA and what receipt blobs hold besides receipts
// (reactions, polls), decoded from blobs written by hand; hostile blobs give
// nothing and never fail.
#include "chatstore/displayrules.h"
#include "chatstore/receiptcodec.h"
#include "chatstore/replymetadata.h"
#include "protowire.h"
#include "tools/fixturebuilder/chatdbbuilder.h"

#include <gtest/gtest.h>

using namespace wire;

TEST(ReplyMetadata, DecodesEveryField)
{
    const QByteArray bytes = ChatDbBuilder::replyMetadata(
        {QuoteSpec::ExtendedText, QStringLiteral("re: re"), QStringLiteral("123@lid"), QStringLiteral("ABC"),
         QStringLiteral("status@broadcast")},
        true);
    EXPECT_FALSE(isKeyedArchiveMetadata(bytes));
    _QuotedRef q;
    ASSERT_TRUE(decodeReplyMetadata(bytes, q));
    EXPECT_EQ(q.stanzaId, QStringLiteral("ABC"));
    EXPECT_EQ(q.senderJid, QStringLiteral("123@lid"));
    EXPECT_EQ(q.remoteJid, QStringLiteral("status@broadcast"));
    EXPECT_EQ(quotedPayloadKind(q.payload), QuotedKind::ExtendedText);
    EXPECT_EQ(quotedPayloadText(q.payload), QStringLiteral("re: re"));

    // The owner's own message has no sender field.
    _QuotedRef own;
    ASSERT_TRUE(decodeReplyMetadata(
        ChatDbBuilder::replyMetadata({QuoteSpec::Sticker, QString(), QString(), QStringLiteral("S1")}), own));
    EXPECT_TRUE(own.senderJid.isEmpty());
    EXPECT_EQ(quotedPreviewText(own), QStringLiteral("[QUOTED]You: [STICKER][/QUOTED]\n"));

    EXPECT_TRUE(isKeyedArchiveMetadata(ChatDbBuilder::quoteMetadata("x", QString(), QStringLiteral("S"))));
}

TEST(ReplyMetadata, HostileBytesGiveNoQuote)
{
    const QByteArray good = ChatDbBuilder::replyMetadata(
        {QuoteSpec::TextOnly, QStringLiteral("hi"), QStringLiteral("1@lid"), QStringLiteral("S")});
    // Groups nested far beyond any real message (the schema itself does not
    // recurse; unknown groups do).
    QByteArray deep;
    for (int i = 0; i < 5000; ++i)
        deep += varint((20 << 3) | 3);
    const QByteArray cases[] = {
        good.left(good.size() - 2),                                   // truncated
        lfield(5, "S").left(2) + varint(uint64_t(1) << 40),           // a length far beyond the end
        vfield(5, 1) + lfield(19, lfield(1, "x")),                    // stanza id with the wrong wire type
        lfield(6, "a@lid"),                                            // no stanza id
        lfield(5, "S") + lfield(6, QByteArray("\xff\xfe@lid", 6)),    // sender not UTF-8
        lfield(5, QByteArray("\xc3", 1)),                              // stanza id not UTF-8
        lfield(5, "S") + deep,                                         // nesting beyond any real message
        QByteArray(1, '\0'),
        QByteArray(),
    };
    for (const QByteArray& bytes : cases) {
        _QuotedRef q;
        EXPECT_FALSE(decodeReplyMetadata(bytes, q)) << bytes.toHex().left(40).constData();
        EXPECT_FALSE(!q.stanzaId.isEmpty());
    }
}

TEST(ReceiptExtras, ReactionsInBothShapesAndWithdrawn)
{
    const QByteArray blob = ChatDbBuilder::receiptBlob(
        {{QStringLiteral("4915550001@s.whatsapp.net"), 1700000000, 1700000010, false}},
        {{QStringLiteral("1@lid"), QStringLiteral("\U0001F44D"), 1700000000123},
         {QStringLiteral("2@lid"), QString(), 5},
         {QString(), QStringLiteral("\U0001F602"), 7}});
    // Receipts beside them still decode.
    EXPECT_EQ(decodeReceipts(blob).size(), 1);
    const ReceiptExtras extras = decodeReceiptExtras(blob);
    ASSERT_EQ(extras.reactions.size(), 3);
    EXPECT_EQ(extras.reactions[0].reactor.jid, QStringLiteral("1@lid"));
    EXPECT_EQ(extras.reactions[0].emoji, QStringLiteral("\U0001F44D"));
    EXPECT_EQ(extras.reactions[0].timeMs, 1700000000123);
    EXPECT_TRUE(extras.reactions[1].withdrawn());
    EXPECT_TRUE(extras.reactions[2].fromOwner);
    EXPECT_EQ(extras.reactions[2].emoji, QStringLiteral("\U0001F602"));
    EXPECT_FALSE(extras.poll);

    // A row holding only reactions has no receipts.
    const QByteArray only = ChatDbBuilder::receiptBlob({}, {{QStringLiteral("3@lid"), QStringLiteral("x"), 1}});
    EXPECT_TRUE(decodeReceipts(only).isEmpty());
    EXPECT_EQ(decodeReceiptExtras(only).reactions.size(), 1);
}

TEST(ReceiptExtras, PollWithPackedAndPlainVotes)
{
    const PollSpec spec{QStringLiteral("Lunch?"),
                        {QStringLiteral("Pizza"), QStringLiteral("Sushi")},
                        {{QStringLiteral("1@lid"), {0, 1}, true}, {QStringLiteral("2@lid"), {1}, false}, {QString(), {0}, false}}};
    const ReceiptExtras extras = decodeReceiptExtras(ChatDbBuilder::receiptBlob({}, {}, &spec));
    ASSERT_TRUE(extras.poll);
    EXPECT_EQ(extras.poll->question, QStringLiteral("Lunch?"));
    EXPECT_EQ(extras.poll->options, (QStringList{QStringLiteral("Pizza"), QStringLiteral("Sushi")}));
    ASSERT_EQ(extras.poll->votes.size(), 3);
    EXPECT_EQ(extras.poll->votes[0].options, (QList<int>{0, 1}));
    EXPECT_EQ(extras.poll->votes[1].options, (QList<int>{1}));
    EXPECT_TRUE(extras.poll->votes[2].fromOwner);
    EXPECT_EQ(pollText(*extras.poll), QStringLiteral("[POLL] Lunch? (Pizza: 2, Sushi: 2)"));
}

TEST(ReceiptExtras, HostileBlobsGiveNothingButKeepReceipts)
{
    const QByteArray receipt = lfield(1, lfield(1, "a@s.whatsapp.net") + vfield(2, 1700000000));
    QByteArray deep;
    for (int i = 0; i < 5000; ++i)
        deep += varint((20 << 3) | 3);
    struct Case {
        QByteArray blob;
        int receipts;
    };
    const Case cases[] = {
        {receipt + lfield(7, lfield(1, lfield(2, "a@lid") + lfield(3, "x")).left(4)), 1},      // reaction cut short
        {receipt + lfield(7, lfield(1, lfield(2, QByteArray("\xff", 1)) + lfield(3, "x"))), 1}, // reactor not UTF-8
        {receipt + lfield(7, deep), 1},                                                        // nesting
        {receipt + lfield(8, deep), 1},
        {receipt + lfield(8, lfield(2, QByteArray("\xc0\x80", 2))), 1},                         // question not UTF-8
        {receipt + lfield(8, lfield(5, varint(10) + varint(uint64_t(1) << 33))), 1},             // over-long vote
        {receipt + varint((7 << 3) | 2) + varint(uint64_t(1) << 40), 0},                        // over-long field 7
    };
    for (const Case& c : cases) {
        EXPECT_EQ(decodeReceipts(c.blob).size(), c.receipts) << c.blob.toHex().constData();
        const ReceiptExtras extras = decodeReceiptExtras(c.blob);
        EXPECT_TRUE(extras.reactions.isEmpty());
        EXPECT_FALSE(extras.poll);
    }
}
