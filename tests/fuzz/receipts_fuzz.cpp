// Fuzz target: receipt blobs (with reactions and polls) and quoted-message
// payloads, decoded, encoded again and decoded once more.
#include "chatstore/quotedpayload.h"
#include "chatstore/receiptcodec.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QList<_Receipt> receipts = decodeReceipts(bytes);
    const QByteArray again = encodeReceipts(receipts);
    (void)decodeReceipts(again);
    const ReceiptExtras extras = decodeReceiptExtras(bytes);
    for (const _Reaction& r : extras.reactions)
        (void)r.emoji.size();
    if (extras.poll)
        for (const _PollVote& v : extras.poll->votes)
            (void)v.options.size();

    const WAQuotedMsg quoted = parseQuotedPayload(bytes);
    (void)quotedPayloadText(quoted);
    (void)quotedPayloadKind(quoted);
    (void)parseQuotedPayload(quotedPayloadBytes(quoted));
    return 0;
}
