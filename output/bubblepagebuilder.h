// Builds the XHTML of one page of chat bubbles: up to 50 messages of a
// message source, each as a bubble (text, picture, voice, card, location,
// document, sticker), group events and day changes as centred bubbles, and
// links to the pages before and after. Needs no widgets, so the window's
// bubble view and the exports use the same pages.
//
// Chat content is never markup here: every text taken from a message is
// escaped, and every link target built from a message is URL-encoded. The
// only file this writes is a contact card's photo and vCard, into the card
// folder it is given.
#pragma once

#include "chatstore/abswamsgssource.h"

class ExportFilesFolder;

#include <QString>

// Whether a message of this type is shown as a bubble (or, for group
// events, a centred line); other types (internal records, unknown ones)
// are not drawn, on pages and on paper alike.
bool isShownMessageType(int type);

struct BubblePageOptions {
    // Host (and optional ":port") of the vendor's web server. Emoji are
    // always drawn as characters from the colour font, never fetched from
    // it: a request per emoji would tell the server what people write.
    QString vendorHost;
    // Folder for the contact cards' photo (".jpg") and vCard (".vcf") files;
    // empty: cards are shown without files.
    QString cardFolder;
    // Export mode: attachments are copied into this folder and shown as
    // "files/..." links and thumbnails that open in a new window, the style
    // set is read from "files/", every bubble names its sender, and nothing
    // refers to a place outside the export (a missing picture shows
    // files/empty_photo.jpg). Cards are written there too; cardFolder is
    // not used.
    ExportFilesFolder* exportFiles = nullptr;
};

class BubblePageBuilder {
public:
    static constexpr int kPageSize = 50;

    explicit BubblePageBuilder(BubblePageOptions options = {});

    // ceil(total / 50); 0 for an empty source.
    static qint64 pageCount(qint64 total);
    // The 1-based page that shows the message at 0-based `row`.
    static qint64 pageOfRow(qint64 row);
    // "Page 3 of 20", as the pager shows it.
    static QString pageNumberText(qint64 page, qint64 pages);

    // The whole document of page `page` (1-based) of `source`, whose message
    // count is `total`; empty when the page does not exist. Reads only that
    // page's messages; what the source throws goes to the caller. With
    // `nameChats` (a view of several chats) a bubble naming the chat comes
    // first on the page and wherever the chat changes.
    QString buildPage(AbsWAMsgsSource& source, qint64 total, qint64 page, bool nameChats = false) const;

    // The page's parts, public for the exports and the tests.
    QString escape(const QString& text) const;
    // escape() with every http or https address a link to itself.
    QString linkedText(const QString& text) const;
    QString messageBubble(const _Message& message) const;
    // What a message adds to a page after its day: a bubble, a centred
    // group event, or nothing for types that are not shown.
    QString messageBlock(const _Message& message) const;
    // The line above a bubble naming its sender; in export mode on every
    // bubble of a chat, else on group members' bubbles.
    QString senderLine(const _Message& message) const;
    // The block a reply shows above its own text, as WhatsApp draws it:
    // the quoted sender's name in the sender's colour over a one-line
    // preview of the quoted message. Exports and printing draw quotes
    // with this too.
    QString quoteBlock(const _QuotedRef& quote) const;
    // The colour of a quoted sender: the owner's own colour for an empty
    // JID, else one made from the JID.
    static QString quoteColour(const QString& senderJid);
    // A document's name as its sender gave it (title, else file name).
    static QString documentDisplayName(const _MediaItem& media);
    // The map address of a place (https, OpenStreetMap).
    static QString mapLink(double latitude, double longitude);
    QString centreBubble(const QString& text) const;
    // "#rrggbb" of a group member by its Z_PK.
    static QString senderColour(qint64 memberPk);
    // "atta:///?ph=<hex of the UTF-8 path>&sf=<URL-encoded suffix>".
    static QString attachmentLink(const QString& path, const QString& suffix);
    // "%1' %2''" of a duration in seconds.
    static QString durationText(int seconds);

private:
    // "wabb/<name>", or "files/<name>" in export mode.
    QString asset(const char* name) const;
    QString thumbnailSource(const _MediaItem& media) const;
    // Where a bubble's link to the media file goes; empty in export mode
    // when the file is missing (the bubble then shows no link). Without a
    // fallback suffix the link carries none.
    QString mediaLink(const _MediaItem& media, const char* fallbackSuffix) const;
    QString thumbnailElement(const QString& link, int limit, const QString& source) const;
    QString cardBody(const _Message& message) const;
    // A poll's question and its options with their vote counts.
    QString pollBody(const _Message& message) const;
    QString locationBody(const _MediaItem& media) const;
    QString pager(qint64 page, qint64 pages) const;

    BubblePageOptions m_options;
};
