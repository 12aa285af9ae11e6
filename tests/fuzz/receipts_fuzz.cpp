// Fuzz target: receipt blobs (with reactions and polls) and quoted-message
// payloads. Whatever decodes must survive being written and read again: a
// merge writes every receipt and quote it reads, so a value that changes on
// the way is lost data.
#include "chatstore/quotedpayload.h"
#include "chatstore/receiptcodec.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace {

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "round trip changed the value: %s\n", what);
    std::abort();
}

// What a receipt can keep when written: times the 32-bit fields can hold.
QDateTime storable(const QDateTime& t)
{
    if (!t.isValid())
        return {};
    const qint64 s = t.toSecsSinceEpoch();
    return s >= 1 && s <= std::numeric_limits<int32_t>::max() ? t : QDateTime();
}

void checkReceipts(const QByteArray& bytes)
{
    const QList<_Receipt> read = decodeReceipts(bytes);
    // Receipts without recipient are not written; the others keep their
    // recipient, form and every time that fits the format.
    QList<_Receipt> expected;
    bool anyTime = false;
    for (const _Receipt& r : read) {
        _Receipt e = r;
        e.time1 = storable(r.time1);
        e.time2 = storable(r.time2);
        anyTime = anyTime || e.time1.isValid() || e.time2.isValid();
        if (!r.recipient.isEmpty())
            expected.append(e);
    }
    const QByteArray written = encodeReceipts(read);
    if (!anyTime) {
        if (!written.isEmpty())
            fail("receipts without a time were written");
        return;
    }
    if (decodeReceipts(written) != expected)
        fail("receipts");
}

// Reactions and polls ride in the same blob; hostile bytes give nothing
// rather than a crash.
void checkExtras(const QByteArray& bytes)
{
    const ReceiptExtras extras = decodeReceiptExtras(bytes);
    for (const _Reaction& r : extras.reactions)
        (void)r.emoji.size();
    if (extras.poll)
        for (const _PollVote& v : extras.poll->votes)
            (void)v.options.size();
}

void checkQuoted(const QByteArray& bytes)
{
    const WAQuotedMsg quoted = parseQuotedPayload(bytes);
    // A payload cut short keeps what was read so far, and that partial
    // message need not serialize stably; only whole payloads are held to
    // the round trip.
    WAQuotedMsg whole;
    if (!whole.ParseFromArray(bytes.constData(), static_cast<int>(bytes.size())))
        return;
    const QByteArray written = serializeQuotedPayload(quoted);
    const WAQuotedMsg again = parseQuotedPayload(written);
    if (serializeQuotedPayload(again) != written)
        fail("quoted payload bytes");
    if (quotedPayloadText(again) != quotedPayloadText(quoted) || quotedPayloadKind(again) != quotedPayloadKind(quoted))
        fail("quoted text or kind");
    // The bytes a merge stores read back as the same quote (or as the
    // stand-in when there was nothing to quote).
    const WAQuotedMsg stored = parseQuotedPayload(quotedPayloadBytes(quoted));
    if (quotedPayloadKind(quoted) != QuotedKind::None &&
        (quotedPayloadKind(stored) != quotedPayloadKind(quoted) || quotedPayloadText(stored) != quotedPayloadText(quoted)))
        fail("stored quote");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    checkReceipts(bytes);
    checkExtras(bytes);
    checkQuoted(bytes);
    return 0;
}
