// The in-memory records of one WhatsApp iOS chat database: a message, its
// chat, the chat's group and members, a message's media item with its quote,
// and delivery receipts. Every field that mirrors a column keeps that
// column's name. The reader fills them, the merge writer writes them back,
// the display rules (messagetext.h) turn them into the texts users see.
//
// Links between records are shared pointers so that a message never points
// at a chat record that has already been released; the ChatIndex of the
// database owns the chat, group and member records in the first place.
#pragma once

#include "chatstore/quotedref.h"
#include "chatstore/reaction.h"
#include "chatstore/receipt.h"

#include <QDateTime>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <memory>

struct _ChatSession;
struct _GroupInfo;
struct _GroupMember;
struct _MediaItem;
struct _Message;

// Message types that the program tells apart (ZMESSAGETYPE).
namespace msgtype {
inline constexpr int kText = 0;
inline constexpr int kImage = 1;
inline constexpr int kVideo = 2;
inline constexpr int kAudio = 3;
inline constexpr int kContact = 4;
inline constexpr int kLocation = 5;
inline constexpr int kGroupEvent = 6;
inline constexpr int kLink = 7;
inline constexpr int kDocument = 8;
inline constexpr int kGif = 11;
inline constexpr int kDeleted = 14;
inline constexpr int kSticker = 15;
inline constexpr int kViewOnceImage = 38;
inline constexpr int kViewOnceVideo = 39;
inline constexpr int kPoll = 46;
inline constexpr int kViewOnceAudio = 53;
inline constexpr int kRoundVideo = 54;
inline constexpr int kCall = 59;
inline constexpr int kPollVoteLink = 66;  // internal, never shown
}  // namespace msgtype

// One ZWAGROUPMEMBER row.
struct _GroupMember {
    qint64 Z_PK = 0;
    int Z_OPT = 0;
    int ZISACTIVE = 0;
    qint64 ZCHATSESSION = 0;
    QString ZCONTACTNAME;
    QString ZMEMBERJID;
    // Filled by the reader: the phone digits behind an @lid member JID and
    // the member's push name, empty when not known.
    QString phone;
    QString pushName;
};

// One ZWAGROUPINFO row.
struct _GroupInfo {
    qint64 Z_PK = 0;
    int Z_OPT = 0;
    int ZSTATE = 0;
    qint64 ZCHATSESSION = 0;
    qint64 ZLASTMESSAGEOWNER = 0;
    double ZCREATIONDATE = 0.0;
    double ZSUBJECTTIMESTAMP = 0.0;
    QString ZOWNERJID;
    QString ZPICTUREID;
    QString ZPICTUREPATH;
    QString ZSUBJECTOWNERJID;
    // Back link to the chat; not owning (the chat owns its group info).
    std::weak_ptr<_ChatSession> session;
};

// One ZWACHATSESSION row with its group and members.
struct _ChatSession {
    qint64 Z_PK = 0;
    int Z_OPT = 4;
    int ZFLAGS = 0;
    qint64 ZGROUPINFO = 0;
    double ZLASTMESSAGEDATE = 0.0;
    QString ZCONTACTJID;
    QString ZPARTNERNAME;
    // Filled by the reader: the phone digits behind an @lid chat JID and the
    // partner's push name, empty when not known.
    QString contactPhone;
    QString contactPushName;
    // Absolute paths in the profile-picture folder: jidUser(ZCONTACTJID) + ".jpg" / ".thumb".
    QString picturePath;
    QString thumbnailPath;
    // Set when ZGROUPINFO > 0 and the row exists.
    std::shared_ptr<_GroupInfo> groupInfo;
    // Every member of the chat by member JID.
    QMap<QString, std::shared_ptr<_GroupMember>> members;

    bool isGroup() const { return groupInfo != nullptr; }
};

// One ZWAMEDIAITEM row, its card texts, its resolved files and its quote.
struct _MediaItem {
    qint64 Z_PK = 0;
    int Z_OPT = 4;
    qint64 ZFILESIZE = 0;
    int ZMEDIAORIGIN = 0;
    int ZMOVIEDURATION = 0;
    qint64 ZMESSAGE = 0;
    double ZASPECTRATIO = 0.0;
    double ZHACCURACY = 0.0;
    double ZLATITUDE = 0.0;
    double ZLONGITUDE = 0.0;
    QString ZAUTHORNAME;
    QString ZCOLLECTIONNAME;
    QString ZMEDIALOCALPATH;
    QString ZMEDIAURL;
    QString ZTHUMBNAILLOCALPATH;
    QString ZTITLE;
    QString ZVCARDNAME;
    // ZVCARDSTRING split at "_$!<VCard-Separator>!$_": one vCard text each.
    QStringList cardTexts;
    QString ZXMPPTHUMBPATH;
    // ZMETADATA as stored (a keyed archive or reply metadata); writers copy
    // it back byte for byte.
    QByteArray ZMETADATA;
    // Absolute paths inside the media folder, empty when nothing could be
    // resolved (or the stored path would leave the media folder).
    QString mediaFile;
    QString thumbnailFile;
    QString xmppThumbnailFile;
    _QuotedRef quote;

    bool hasQuote() const { return !quote.stanzaId.isEmpty(); }
};

using PMediaItem = std::shared_ptr<_MediaItem>;
using PChatSession = std::shared_ptr<_ChatSession>;
using PGroupMember = std::shared_ptr<_GroupMember>;
using PGroupInfo = std::shared_ptr<_GroupInfo>;

// One ZWAMESSAGE row with its links.
struct _Message {
    qint64 Z_PK = 0;
    int Z_OPT = 4;
    int ZFLAGS = 0;
    int ZGROUPEVENTTYPE = 0;
    int ZISFROMME = 0;
    int ZMESSAGESTATUS = 0;
    int ZMESSAGETYPE = 0;
    qint64 ZBROADCAST = 0;
    qint64 ZCHATSESSION = 0;
    qint64 ZGROUPMEMBER = 0;
    qint64 ZMEDIAITEM = 0;
    double ZMESSAGEDATE = 0.0;
    QString ZFROMJID;
    QString ZPUSHNAME;
    QString ZSTANZAID;
    QString ZTEXT;
    QString ZTOJID;
    qint64 ZSORT = 0;
    int ZSTARRED = 0;
    QList<_Receipt> receipts;
    // Every ZWAMESSAGEINFO.ZRECEIPTINFO blob of the message as stored, and
    // what they hold besides receipts: reactions and a poll.
    QList<QByteArray> receiptInfos;
    QList<_Reaction> reactions;
    std::shared_ptr<_Poll> poll;
    PChatSession session;                // found in the ChatIndex by ZCHATSESSION
    PGroupMember member;                 // found by ZGROUPMEMBER when above 0
    PMediaItem media;                    // copies of a message share it
    std::shared_ptr<_Message> parent;    // the message named by ZPARENTMESSAGE

    bool isEmpty() const { return Z_PK == 0 && !session && ZSTANZAID.isEmpty(); }
};

using PMessage = std::shared_ptr<_Message>;
