// The quote of a media item as a recent app stores it in ZMETADATA: a
// protocol-buffers reply metadata message (older stores keep a keyed archive
// there, which begins with "bplist"). The bytes come from outside: anything
// that does not parse, or holds a text that is not UTF-8, gives no quote.
#pragma once

#include "chatstore/quotedref.h"

#include <QByteArray>

// True when the bytes are a keyed archive (binary property list).
bool isKeyedArchiveMetadata(const QByteArray& bytes);

// Fills stanza id, sender JID, the chat the quoted message came from and the
// quoted payload. False (quote left untouched) when the bytes do not parse
// or carry no quoted stanza id.
bool decodeReplyMetadata(const QByteArray& bytes, _QuotedRef& quote);
