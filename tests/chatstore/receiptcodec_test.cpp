// Receipt blobs: both entry forms, the packed phone numbers, base-time
// offsets, JID receipts surviving a round trip, and damaged blobs.
#include "chatstore/receiptcodec.h"
#include "protowire.h"

#include <gtest/gtest.h>

using namespace wire;

namespace {
QDateTime unix(qint64 s) { return QDateTime::fromSecsSinceEpoch(s); }
constexpr _Receipt::Form kJid = _Receipt::Form::Jid;
constexpr _Receipt::Form kNumber = _Receipt::Form::PhoneNumber;
}

TEST(Receipts, PhoneNumberEntryDecodesToDigitsAndBasePlusOffset)
{
    const qint64 base = 1600000000;
    const QByteArray rec2 = lfield(1, QByteArray::fromHex("8149151234567f")) + vfield(4, 5);
    const QByteArray blob = lfield(2, rec2) + vfield(3, base) + vfield(4, 2);
    const QList<_Receipt> r = decodeReceipts(blob);
    ASSERT_EQ(r.size(), 1);
    EXPECT_EQ(r[0].recipient, "49151234567");
    EXPECT_EQ(r[0].time1, unix(base + 5));
    EXPECT_FALSE(r[0].time2.isValid());
}

TEST(Receipts, JidEntriesAndTheirTimes)
{
    const QByteArray rec1 = lfield(1, "4915@s.whatsapp.net") + vfield(2, 1500000000) + vfield(3, 0);
    const QByteArray blob = lfield(1, rec1) + lfield(1, lfield(1, "x@g.us") + vfield(3, 1500000100));
    const QList<_Receipt> r = decodeReceipts(blob);
    ASSERT_EQ(r.size(), 2);
    EXPECT_EQ(r[0].recipient, "4915@s.whatsapp.net");
    EXPECT_EQ(r[0].time1, unix(1500000000));
    EXPECT_FALSE(r[0].time2.isValid());  // 0 is no time
    EXPECT_FALSE(r[1].time1.isValid());
    EXPECT_EQ(r[1].time2, unix(1500000100));
}

TEST(Receipts, PhoneEntriesThatDoNotMatchTheFormAreDropped)
{
    const QList<QByteArray> numbers = {
        QByteArray::fromHex("8212"),      // wrong marker
        QByteArray::fromHex("81"),        // no digits
        QByteArray::fromHex("811a"),      // a nibble that is no digit
        QByteArray::fromHex("81ff"),      // padding twice
        QByteArray(),
    };
    for (const QByteArray& n : numbers) {
        const QByteArray blob = lfield(2, lfield(1, n) + vfield(4, 1)) + vfield(3, 100);
        EXPECT_TRUE(decodeReceipts(blob).isEmpty()) << n.toHex().toStdString();
    }
}

TEST(Receipts, EncodeWritesOffsetsFromTheEarliestTime)
{
    const QList<_Receipt> in = {
        {"4917612345678", unix(1600000100), unix(1600000200), kNumber},
        {"123", unix(1600000050), QDateTime(), kNumber},
    };
    const QByteArray blob = encodeReceipts(in);
    // base = t0 - 1, offsets = t - t0 + 1, version 2, Unknown10 {0, 2}.
    const QByteArray unknown10 = lfield(10, vfield(1, 0) + vfield(2, 2));
    const QByteArray expected =
        lfield(2, lfield(1, QByteArray::fromHex("814917612345678f")) + vfield(4, 51) + vfield(5, 151) + unknown10)
        + lfield(2, lfield(1, QByteArray::fromHex("81123f")) + vfield(4, 1) + unknown10)
        + vfield(3, 1600000049) + vfield(4, 2);
    EXPECT_EQ(blob.toHex(), expected.toHex());
    EXPECT_EQ(decodeReceipts(blob), in);
}

TEST(Receipts, OddAndEvenNumbersRoundTrip)
{
    for (const QString& number : {"1", "12", "12345", "491701234567", "0049"}) {
        const QList<_Receipt> in = {{number, unix(1650000000), unix(1650000003), kNumber}};
        EXPECT_EQ(decodeReceipts(encodeReceipts(in)), in) << number.toStdString();
    }
}

// JID receipts must come back as JIDs after a merge writes them out again.
TEST(Receipts, JidReceiptsSurviveARoundTrip)
{
    const QList<_Receipt> in = {
        {"491701234567@s.whatsapp.net", unix(1650000000), unix(1650000100), kJid},
        {"abc@s.whatsapp.net", unix(1650000010), QDateTime(), kJid},
    };
    const QByteArray blob = encodeReceipts(in);
    EXPECT_EQ(decodeReceipts(blob), in);
    // Read from a stored blob and written back: nothing lost.
    const QByteArray stored = lfield(1, lfield(1, "4915@s.whatsapp.net") + vfield(2, 1500000000) + vfield(3, 1500000009))
                              + lfield(2, lfield(1, QByteArray::fromHex("8112")) + vfield(4, 7)) + vfield(3, 1500000000);
    const QList<_Receipt> read = decodeReceipts(stored);
    ASSERT_EQ(read.size(), 2);
    EXPECT_EQ(decodeReceipts(encodeReceipts(read)), read);
}

// Each entry is written back in the form it was read in: a JID entry whose
// JID lacks the "@" must not be packed as phone-number digits (where its
// letters are dropped and the receipt is lost).
TEST(Receipts, EntriesKeepTheirFormWhateverTheirText)
{
    const QByteArray stored = QByteArray::fromHex(
        "0a210a133439313543732e77686174736170702e6e65741080a0f8fa0518e4a0f8d80512060a028112200118ff9ff8fafbe802");
    const QList<_Receipt> read = decodeReceipts(stored);
    ASSERT_EQ(read.size(), 2);
    EXPECT_EQ(read[0], (_Receipt{"4915Cs.whatsapp.net", unix(1600000000), unix(1528696932), kJid}));
    EXPECT_EQ(read[1].recipient, "12");
    EXPECT_EQ(read[1].form, kNumber);
    const QList<_Receipt> again = decodeReceipts(encodeReceipts(read));
    ASSERT_EQ(again.size(), 2);
    EXPECT_EQ(again[0], read[0]);
    // The base time overflowed the 32-bit field: 1935 cannot be written, so
    // that receipt keeps its number without times.
    EXPECT_EQ(again[1], (_Receipt{"12", QDateTime(), QDateTime(), kNumber}));

    // A digits-only JID stays a JID entry, and a receipt made by the program
    // chooses its form by the "@".
    const QList<_Receipt> mixed = {{"4915", unix(1650000000), QDateTime(), kJid},
                                   {"4916", unix(1650000001), QDateTime(), kNumber}};
    EXPECT_EQ(decodeReceipts(encodeReceipts(mixed)), mixed);
    const QList<_Receipt> made = decodeReceipts(encodeReceipts(
        {{"4917", unix(1650000002), QDateTime()}, {"a@b", unix(1650000003), QDateTime()}}));
    ASSERT_EQ(made.size(), 2);
    EXPECT_EQ(made[0], (_Receipt{"a@b", unix(1650000003), QDateTime(), kJid}));
    EXPECT_EQ(made[1], (_Receipt{"4917", unix(1650000002), QDateTime(), kNumber}));
}

TEST(Receipts, NothingToWriteGivesEmptyBytes)
{
    EXPECT_TRUE(encodeReceipts({}).isEmpty());
    EXPECT_TRUE(encodeReceipts({{"123", QDateTime(), QDateTime()}}).isEmpty());
    // Times that a 32-bit field cannot hold count as absent.
    EXPECT_TRUE(encodeReceipts({{"123", unix(-5), unix(5000000000)}}).isEmpty());
    // An empty recipient is skipped, but its time still sets the base.
    const QByteArray blob = encodeReceipts({{"", unix(1000), QDateTime()}});
    EXPECT_EQ(blob.toHex(), (vfield(3, 999) + vfield(4, 2)).toHex());
    EXPECT_TRUE(decodeReceipts(blob).isEmpty());
}

TEST(Receipts, DamagedBlobsDecodeToNothingOrWhatIsWhole)
{
    const QList<_Receipt> all = {{"4915@s.whatsapp.net", unix(1650000000), unix(1650000001), kJid},
                                 {"49151", unix(1650000002), unix(1650000003), kNumber}};
    const QByteArray good = encodeReceipts(all);
    ASSERT_EQ(decodeReceipts(good), all);
    // Cut anywhere, a blob gives nothing or only whole entries, in order
    // (a phone-number entry cut off from its base time keeps its number).
    for (qsizetype n = 0; n < good.size(); ++n) {
        const QList<_Receipt> part = decodeReceipts(good.left(n));
        ASSERT_LE(part.size(), all.size()) << n;
        for (qsizetype i = 0; i < part.size(); ++i) {
            EXPECT_EQ(part[i].recipient, all[i].recipient) << n;
            EXPECT_EQ(part[i].form, all[i].form) << n;
            if (part[i].form == kJid)
                EXPECT_EQ(part[i], all[i]) << n;
        }
    }
    EXPECT_TRUE(decodeReceipts(QByteArray("\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff", 11)).isEmpty());
    EXPECT_TRUE(decodeReceipts(lfield(2, QByteArray(3, '\x12'))).isEmpty());
    // A length far beyond the data is refused, not allocated.
    EXPECT_TRUE(decodeReceipts(varint(2 << 3 | 2) + varint(0x7fffffff) + "ab").isEmpty());
    // An oversized blob is not read at all.
    QByteArray huge;
    const QByteArray entry = lfield(1, lfield(1, "a@b") + vfield(2, 10));
    while (huge.size() <= (4 << 20))
        huge += entry;
    EXPECT_TRUE(decodeReceipts(huge).isEmpty());
    EXPECT_EQ(decodeReceipts(huge.left(1 << 20).left((1 << 20) / entry.size() * entry.size())).size(),
              (1 << 20) / entry.size());
    // Unknown fields and wire types are skipped.
    const QByteArray withUnknown = vfield(15, 3) + lfield(1, lfield(1, "a@b") + vfield(2, 10) + lfield(9, "zz"));
    const QList<_Receipt> r = decodeReceipts(withUnknown);
    ASSERT_EQ(r.size(), 1);
    EXPECT_EQ(r[0].recipient, "a@b");
    // A negative base with offsets still gives dates (no overflow).
    const QByteArray negative = lfield(2, lfield(1, QByteArray::fromHex("8112")) + vfield(4, 0x7fffffff))
                                + vfield(3, uint64_t(int64_t(-2147483647 - 1)));
    const QList<_Receipt> early = decodeReceipts(negative);
    ASSERT_EQ(early.size(), 1);
    EXPECT_EQ(early[0], (_Receipt{"12", unix(-1), QDateTime(), kNumber}));
}
