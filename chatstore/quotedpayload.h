// The quoted-message payload (WAQuotedMsg) kept with a media item, in
// QM_QUOTED_DATA or inside the ZMETADATA archive. Only the text and which
// kind of quoted message is present are read; every other field, named or
// not, travels through parse and serialize unchanged.
#pragma once

#include "proto/wa_quoted.pb.h"

#include <QByteArray>
#include <QString>

// The kinds of quoted message, in the order a preview names them.
enum class QuotedKind { None, Text, ExtendedText, Image, Location, VCard, MultiVCard, Video, Voice, Document, Sticker };

// Parses stored bytes; bad bytes leave a partly filled or empty message.
WAQuotedMsg parseQuotedPayload(const QByteArray& bytes);
QByteArray serializeQuotedPayload(const WAQuotedMsg& msg);

// The quoted text (UTF-8), empty when the payload has none: its own text, or
// the text of an extended text (a reply to a reply, a link).
QString quotedPayloadText(const WAQuotedMsg& msg);
// Text when the payload has its own text, ExtendedText for an extended text;
// otherwise the first media kind present in preview order (image, location,
// card, several cards, video, voice, document, sticker); None when nothing
// is present.
QuotedKind quotedPayloadKind(const WAQuotedMsg& msg);
// The serialized payload when any kind is present; otherwise a fresh
// payload whose only field is the text "[QUOTED MESSAGE]".
QByteArray quotedPayloadBytes(const WAQuotedMsg& msg);
