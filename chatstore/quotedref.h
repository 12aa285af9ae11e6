// The reference a media item keeps to the message it quotes: who sent the
// quoted message, its stanza id, and the quoted payload (a WAQuotedMsg, as
// stored in QM_QUOTED_DATA or inside ZMETADATA).
#pragma once

#include "chatstore/quotedpayload.h"

#include <QString>

struct _QuotedRef {
    QString senderJid;   // empty when the quoted message was the owner's
    QString senderName;  // filled by the reader from the chat's members or partner
    QString senderPhone; // filled by the reader: phone digits behind an @lid sender
    QString senderPushName;
    QString stanzaId;    // a media item has a quote when this is not empty
    QString remoteJid;   // the chat the quoted message came from, when another one
    WAQuotedMsg payload;
};
