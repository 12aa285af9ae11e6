// Reply metadata inside ZMETADATA.
#include "chatstore/replymetadata.h"

#include "chatstore/utf8text.h"

namespace {

// Real metadata is a few KB (a quoted thumbnail at most); larger blobs are
// not read.
constexpr qsizetype kMaxMetadataBytes = qsizetype(4) << 20;

}  // namespace

bool isKeyedArchiveMetadata(const QByteArray& bytes)
{
    return bytes.startsWith("bplist");
}

bool decodeReplyMetadata(const QByteArray& bytes, _QuotedRef& quote)
{
    if (bytes.isEmpty() || bytes.size() > kMaxMetadataBytes)
        return false;
    WAReplyMetadata meta;
    if (!meta.ParseFromArray(bytes.constData(), static_cast<int>(bytes.size())))
        return false;
    QString stanza, sender, remote;
    if (!utf8Text(meta.quoted_stanza_id(), stanza) || stanza.isEmpty() ||
        !utf8Text(meta.quoted_sender_jid(), sender) || !utf8Text(meta.quoted_remote_jid(), remote))
        return false;
    quote.stanzaId = stanza;
    quote.senderJid = sender;
    quote.remoteJid = remote;
    quote.payload = meta.quoted_message();
    return true;
}
