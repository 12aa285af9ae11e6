// The chat bubble view: shows the messages of the selected chat as bubbles in
// the right-hand web view, 50 to a page, follows the message list's
// selection, and handles the page's links: paging, attachments and contact
// cards (copied into a private temporary folder and opened from there) and
// web links (opened in the browser).
//
// It reads messages only through a message source. A source that throws
// while counting or fetching never lets the exception through the event
// loop: the text goes out as errorOccurred(QString) for the window's error
// box.
#pragma once

#include "chatstore/abswamsgssource.h"
#include "output/bubblepagebuilder.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>

class QWebEngineView;
class BubbleWebPage;

class WABubbleViewMgr : public QObject {
    Q_OBJECT
public:
    // Takes over the view's page (link delegation) and its loadFinished.
    explicit WABubbleViewMgr(QWebEngineView* view, QObject* parent = nullptr);
    ~WABubbleViewMgr() override;

    static constexpr int kPageSize = BubblePageBuilder::kPageSize;

    qint64 total() const { return m_total; }
    qint64 page() const { return m_page; }
    // The text the empty pane shows (plain text; empty: a blank pane).
    void setEmptyText(const QString& text);
    const QString& emptyText() const { return m_emptyText; }

    // The message outlined as the list's selection (0: none).
    qint64 selectedMessage() const { return m_selectedPk; }
    qint64 pageCount() const { return m_pageCount; }
    QString pendingAnchor() const { return m_anchor; }
    // The last document handed to the view (empty for the empty page).
    const QString& currentHtml() const { return m_html; }

    // Where the page's relative paths ("wabb/...") resolve: the program's
    // folder, as a local-file URL ending in "/".
    QUrl baseUrl() const { return m_baseUrl; }
    void setBaseUrl(const QUrl& url) { m_baseUrl = url; }

    // How files and folders are opened, and how a missing attachment is
    // reported; the desktop and the warning box unless replaced (tests).
    void setOpener(std::function<void(const QString&)> opener) { m_open = std::move(opener); }
    void setExternalOpener(std::function<void(const QString&)> opener) { m_openExternal = std::move(opener); }
    void setWarner(std::function<void(const QString&)> warner) { m_warn = std::move(warner); }

    // The folder an attachment link's copy goes to: the MD5 of the link's
    // text inside the private temporary folder.
    static QString copyFolderFor(const QUrl& url);

signals:
    void errorOccurred(const QString& text);
    // The last page is wanted before the count has arrived: whoever runs the
    // count completes it now and gives it through setTotal.
    void totalWanted();

public slots:
    // Shows the first page of the source. A source still being counted is
    // shown with the messages known so far; setTotal gives the count later.
    void showBubble(PAbsWAMsgsSource smslist);
    // The count of the shown source, once it is known: the pager follows it
    // without reloading the page the reader looks at.
    void setTotal(qint64 total);
    void onLoadFinish(bool ok);
    void onLinkClicked(const QUrl& url);
    void firstPage();
    void previousPage();
    void nextPage();
    void lastPage();
    void scrollToPos(int row);

private:
    void render(qint64 page);
    // Writes the document into a file of the private temporary folder, with
    // the base URL in its head; the file's URL, or empty when it cannot.
    QUrl writePageFile(const QString& html);
    void removeOldPageFiles();
    void showEmpty();
    void scrollToAnchor(const QString& anchor);
    void openLocalFile(const QUrl& url);
    void openAttachment(const QUrl& url);
    // Copies `file` as `name` into the link's folder and opens the copy (a
    // known media suffix) or the folder.
    void copyAndOpen(const QUrl& url, const QString& file, const QString& name, const QString& suffix);
    void reportMissing(const QString& path);
    void fail(const std::exception& e);

    QWebEngineView* m_view;
    BubbleWebPage* m_webPage;
    BubblePageBuilder m_builder;
    PAbsWAMsgsSource m_source;
    qint64 m_total = 0;
    bool m_totalKnown = true;  // false while the source is still being counted
    QString m_pagerScript;     // a pager change waiting for the page being loaded
    qint64 m_page = 0;
    qint64 m_pageCount = 0;
    QString m_anchor;
    QString m_html;
    bool m_awaitingLoad = false;
    QUrl m_loadUrl;             // the page file being loaded or shown
    QStringList m_pageFiles;    // page files written and not yet removed
    quint64 m_pageSerial = 0;
    bool m_nameChats = false;
    QString m_emptyText;   // the source holds several chats
    qint64 m_selectedPk = 0;    // the message selected in the list, outlined
    QUrl m_baseUrl;
    std::function<void(const QString&)> m_open;
    std::function<void(const QString&)> m_openExternal;
    std::function<void(const QString&)> m_warn;
};
