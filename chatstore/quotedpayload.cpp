// The quoted-message payload: parse, serialize, and what a preview reads.
#include "chatstore/quotedpayload.h"

#include <limits>

WAQuotedMsg parseQuotedPayload(const QByteArray& bytes)
{
    WAQuotedMsg msg;
    if (bytes.isEmpty() || bytes.size() > std::numeric_limits<int>::max())
        return msg;
    // A failure is not reported: what parsed so far stays.
    msg.ParsePartialFromArray(bytes.constData(), static_cast<int>(bytes.size()));
    return msg;
}

QByteArray serializeQuotedPayload(const WAQuotedMsg& msg)
{
    const std::string out = msg.SerializePartialAsString();
    return QByteArray(out.data(), static_cast<qsizetype>(out.size()));
}

QString quotedPayloadText(const WAQuotedMsg& msg)
{
    if (!msg.has_text() && msg.has_extended_text()) {
        const std::string& text = msg.extended_text().text();
        return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    }
    return QString::fromUtf8(msg.text().data(), static_cast<qsizetype>(msg.text().size()));
}

QuotedKind quotedPayloadKind(const WAQuotedMsg& msg)
{
    if (msg.has_text())
        return QuotedKind::Text;
    if (msg.has_extended_text())
        return QuotedKind::ExtendedText;
    if (msg.has_image())
        return QuotedKind::Image;
    if (msg.has_location())
        return QuotedKind::Location;
    if (msg.has_vcard())
        return QuotedKind::VCard;
    if (msg.has_multi_vcard())
        return QuotedKind::MultiVCard;
    if (msg.has_video())
        return QuotedKind::Video;
    if (msg.has_voice())
        return QuotedKind::Voice;
    if (msg.has_document())
        return QuotedKind::Document;
    if (msg.has_sticker())
        return QuotedKind::Sticker;
    return QuotedKind::None;
}

QByteArray quotedPayloadBytes(const WAQuotedMsg& msg)
{
    if (quotedPayloadKind(msg) != QuotedKind::None)
        return serializeQuotedPayload(msg);
    WAQuotedMsg fresh;
    fresh.set_text("[QUOTED MESSAGE]");
    return serializeQuotedPayload(fresh);
}
