// Reply metadata inside ZMETADATA.
#include "chatstore/replymetadata.h"

#include "chatstore/utf8text.h"

namespace {

// Real metadata is a few KB (a quoted thumbnail at most); larger blobs are
// not read.
constexpr qsizetype kMaxMetadataBytes = qsizetype(4) << 20;

void appendVarint(QByteArray& out, quint64 value)
{
    while (value >= 0x80) {
        out.append(char((value & 0x7f) | 0x80));
        value >>= 7;
    }
    out.append(char(value));
}

void appendBytesField(QByteArray& out, int field, const QByteArray& bytes)
{
    appendVarint(out, (quint64(field) << 3) | 2);
    appendVarint(out, quint64(bytes.size()));
    out.append(bytes);
}

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

QByteArray encodeReplyMetadata(const _QuotedRef& quote, const QByteArray& payloadBytes)
{
    QByteArray out;
    appendBytesField(out, 5, quote.stanzaId.toUtf8());
    if (!quote.senderJid.isEmpty())
        appendBytesField(out, 6, quote.senderJid.toUtf8());
    appendBytesField(out, 19, payloadBytes);
    return out;
}
