// Receipt blobs of WhatsApp's chat database (ZWAMESSAGEINFO.ZRECEIPTINFO).
// The bytes come from outside: anything that does not parse decodes to an
// empty list, entries that do not match their form are dropped.
#pragma once

#include "chatstore/receipt.h"

#include <QByteArray>
#include <QList>

// JID entries first, then phone-number entries, each in stored order.
QList<_Receipt> decodeReceipts(const QByteArray& bytes);

// Phone-number entries are written in the packed form with times as offsets
// from a base time, JID entries with their own times; each receipt keeps the
// form it was read in (see _Receipt::Form). Empty when no receipt has a
// usable time.
QByteArray encodeReceipts(const QList<_Receipt>& receipts);
