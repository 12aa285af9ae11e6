// Receipt blobs of WhatsApp's chat database (ZWAMESSAGEINFO.ZRECEIPTINFO).
// The bytes come from outside: anything that does not parse decodes to an
// empty list, entries that do not match their form are dropped.
#pragma once

#include "chatstore/reaction.h"
#include "chatstore/receipt.h"

#include <QByteArray>
#include <QList>

#include <memory>

// JID entries first, then phone-number entries, each in stored order.
QList<_Receipt> decodeReceipts(const QByteArray& bytes);

// Phone-number entries are written in the packed form with times as offsets
// from a base time, JID entries with their own times; each receipt keeps the
// form it was read in (see _Receipt::Form). Empty when no receipt has a
// usable time.
QByteArray encodeReceipts(const QList<_Receipt>& receipts);

// What a receipt blob holds besides receipts (a blob may hold only these).
struct ReceiptExtras {
    QList<_Reaction> reactions;  // others' in stored order, then the owner's; withdrawn ones included
    std::shared_ptr<_Poll> poll; // none unless the blob holds a poll
};
// Reactions (field 7) and a poll (field 8). A part that does not parse, or
// whose texts are not UTF-8, is left out; an entry without its JID too.
ReceiptExtras decodeReceiptExtras(const QByteArray& bytes);
