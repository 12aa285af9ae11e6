// The rules that turn chat records into the texts users see: chat and member
// names, the one-line message text of the list and the exports, group-event
// texts, quote previews, attachment and card names, Core Data dates and the
// emoji rewriting. All are pure functions of the records except
// writeCardFiles, which writes the card's photo and text to files.
#pragma once

#include "chatstore/chatrecords.h"

#include <QDateTime>
#include <QImage>
#include <QString>

#include <functional>

// Text before the first "@" of a JID, or the whole text without one.
QString jidUser(const QString& jid);

// Core Data seconds (since 2001-01-01 00:00:00 UTC) as a local date-time,
// truncated toward zero to whole seconds.
QDateTime coreDataToDateTime(double seconds);
// The reverse, for writers and fixtures.
double dateTimeToCoreData(const QDateTime& dateTime);

// A JID without a name: the user part of a phone JID; for an "@lid" JID the
// phone digits when known, else "~" and the push name, else the whole JID.
QString jidDisplayName(const QString& jid, const QString& phone, const QString& pushName);
// The phone digits a with-number name shows: the user part of a phone JID,
// the known phone of an @lid JID (empty when unknown).
QString jidPhoneDigits(const QString& jid, const QString& phone);
// A person in a message (reactor, voter): their name when the chat knows
// one, else the JID rule above.
QString jidNameText(const _JidName& who);

QString sessionDisplayName(const _ChatSession& session, bool withNumber, bool withMembers);
QString memberDisplayName(const _GroupMember& member, bool withNumber);
// Chat name, plus " - " and the member's name for a group member's message.
QString messageTitle(const _Message& message);
// The message's own text as it is shown: for a link (type 7) its media
// item's URL when that is not empty, else ZTEXT. The record itself keeps
// both as stored.
QString messageBodyText(const _Message& message);
// With emojiAsCharacters (the window's list and search) emoji stay as they
// were written; otherwise each becomes "[EMOJI]" (the command line and the
// text formats of exports).
QString messageDisplayText(const _Message& message, bool emojiAsCharacters = false);
QString groupEventText(const _Message& message);
QString quotedPreviewText(const _QuotedRef& quote);
// The two parts of the preview: who wrote the quoted message ("You" for the
// owner) and its text on one line.
QString quotedSenderName(const _QuotedRef& quote);
QString quotedBodyText(const _QuotedRef& quote);
// The serialized quoted payload to write back; a payload with none of the
// seven known kinds becomes a fresh one with the text "[QUOTED MESSAGE]".
QByteArray quotedPayloadBytes(const _QuotedRef& quote);
// The reactions of a message: "%1 %2" (who, emoji as characters) joined by
// ", " in stored order; withdrawn reactions are left out; "You" for the owner.
QString reactionsText(const _Message& message);
// Votes per option (one entry per option), each voter counted once: a later
// vote of the same voter replaces the earlier, the owner's vote included.
QList<int> pollCounts(const _Poll& poll);
// "[POLL] question (option: n, ...)" with those counts.
QString pollText(const _Poll& poll);
QString documentName(const _MediaItem& media);
QString cardDisplayName(const _MediaItem& media);
QString cardTempBaseName(const _MediaItem& media, qint64 messageId);
// Writes the first card's photo to photoPath and all card texts to cardPath,
// each only when no file is there yet. Returns false when a file that was to
// be written could not be.
bool writeCardFiles(const _MediaItem& media, const QString& photoPath, const QString& cardPath);
QImage sessionAvatar(const _ChatSession& session);

// Replaces every emoji by the callback's text for its code point (upper-case
// hexadecimal, no leading zeros).
using EmojiCallback = std::function<QString(const QString& code)>;
QString emojiRewrite(const QString& text, const EmojiCallback& callback);
// The list and the exports put "[EMOJI]" in place of every emoji.
QString emojiAsLabel(const QString& text);
