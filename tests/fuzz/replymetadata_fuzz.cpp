// Fuzz target: reply metadata from ZMETADATA, decoded, and its quoted
// payload read the way a preview reads it.
#include "chatstore/replymetadata.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    if (isKeyedArchiveMetadata(bytes))
        return 0;
    _QuotedRef quote;
    if (decodeReplyMetadata(bytes, quote)) {
        (void)quotedPayloadText(quote.payload);
        (void)quotedPayloadKind(quote.payload);
        (void)parseQuotedPayload(quotedPayloadBytes(quote.payload));
    }
    return 0;
}
