// Receipt blobs of WhatsApp's chat database (ZWAMESSAGEINFO.ZRECEIPTINFO).
// The bytes come from outside: anything that does not parse decodes to an
// empty list, entries that do not match their form are dropped.
#pragma once

#include "chatstore/receipt.h"

#include <QByteArray>
#include <QList>

// JID entries first, then phone-number entries, each in stored order.
QList<_Receipt> decodeReceipts(const QByteArray& bytes);

// Phone-number recipients are written in the packed form with times as
// offsets from a base time; JID recipients (they hold an "@") as JID entries
// with their own times. Empty when no receipt has a usable time.
QByteArray encodeReceipts(const QList<_Receipt>& receipts);
