#include "app/wabubbleviewmgr.h"

#include "app/bubblewebpage.h"
#include "app/messagebox.h"
#include "base/assetfolder.h"
#include "base/fileutil.h"
#include "base/openexternal.h"
#include "base/productinfo.h"
#include "chatstore/wamsgsdatasource.h"
#include "platform/osservices.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUrlQuery>
#include <QWebEngineLoadingInfo>
#include <QWebEngineScript>
#include <QWebEngineView>

#include <algorithm>
#include <exception>

namespace {

// Suffixes whose copies are opened directly; any other file shows its folder.
const QStringList kOpenedSuffixes = {
    QStringLiteral("jpg"), QStringLiteral("jpeg"), QStringLiteral("png"), QStringLiteral("bmp"),
    QStringLiteral("gif"), QStringLiteral("mp3"), QStringLiteral("mp4"), QStringLiteral("mov"),
    QStringLiteral("aac")};

BubblePageOptions pageOptions()
{
    BubblePageOptions options;
    options.vendorHost = product::vendorHost();
    options.cardFolder = platform::privateTempFolder();
    return options;
}

}  // namespace

WABubbleViewMgr::WABubbleViewMgr(QWebEngineView* view, QObject* parent)
    : QObject(parent),
      m_view(view),
      m_webPage(new BubbleWebPage(view)),
      m_builder(pageOptions()),
      m_baseUrl(QUrl::fromLocalFile(product::assetBaseFolder() + QLatin1Char('/'))),
      m_open([](const QString& path) { openInExplorer(path); }),
      m_openExternal([](const QString& target) { openExternal(target); }),
      m_warn([](const QString& text) { warningBox(text); })
{
    qRegisterMetaType<PAbsWAMsgsSource>();
    m_view->setPage(m_webPage);
    // Only the end of a load this manager started counts; an earlier load
    // cut short by a newer one, or a refused link click, changes nothing.
    connect(m_webPage, &QWebEnginePage::loadingChanged, this, [this](const QWebEngineLoadingInfo& info) {
        if (!m_awaitingLoad || info.status() == QWebEngineLoadingInfo::LoadStartedStatus)
            return;
        if (!m_loadUrl.isEmpty() && info.url().adjusted(QUrl::RemoveQuery) != m_loadUrl.adjusted(QUrl::RemoveQuery))
            return;
        onLoadFinish(info.status() == QWebEngineLoadingInfo::LoadSucceededStatus);
    });
    // Queued: a click may load another page, which must not happen inside
    // the page's own navigation callback.
    connect(m_webPage, &BubbleWebPage::linkClicked, this, &WABubbleViewMgr::onLinkClicked, Qt::QueuedConnection);
}

void WABubbleViewMgr::fail(const std::exception& e)
{
    emit errorOccurred(QString::fromUtf8(e.what()));
}

void WABubbleViewMgr::showEmpty()
{
    m_page = 0;
    m_pageCount = 0;
    m_anchor.clear();
    m_html.clear();
    m_awaitingLoad = false;
    m_loadUrl.clear();
    if (m_emptyText.isEmpty()) {
        m_view->setHtml(QString(), QUrl());
        return;
    }
    QString text = m_emptyText.toHtmlEscaped();
    text.replace(QLatin1Char('\n'), QLatin1String("<br/>"));
    m_view->setHtml(QStringLiteral("<html><head><meta charset=\"utf-8\"/></head><body style=\"font-family:sans-serif;"
                                   "font-size:14px;color:#6b5e4a;background:#EFE9DF;text-align:center;padding:90px 24px 0 24px;"
                                   "line-height:1.7;\"><div class=\"empty_hint\">%1</div></body></html>")
                        .arg(text),
                    QUrl());
}

void WABubbleViewMgr::setEmptyText(const QString& text)
{
    if (m_emptyText == text)
        return;
    m_emptyText = text;
    if (m_page == 0)
        showEmpty();
}

void WABubbleViewMgr::showBubble(PAbsWAMsgsSource smslist)
{
    m_source = std::move(smslist);
    m_total = 0;
    m_totalKnown = true;
    m_pagerScript.clear();
    qint64 count = 0;
    try {
        qint64 atLeast = 0;
        count = m_source ? m_source->knownCount(&atLeast) : 0;
        if (count < 0) {
            m_totalKnown = false;
            count = atLeast;
        }
    } catch (const std::exception& e) {
        showEmpty();
        fail(e);
        return;
    }
    m_total = count;
    // A view of every chat of a database names each chat in the bubbles.
    const auto* data = dynamic_cast<const WAMsgsDataSource*>(m_source.get());
    m_nameChats = data && !data->session();
    m_selectedPk = 0;
    if (count <= 0) {
        showEmpty();
        return;
    }
    m_pageCount = BubblePageBuilder::pageCount(count);
    m_page = 1;
    m_anchor = QStringLiteral("start");
    render(m_page);
}

void WABubbleViewMgr::setTotal(qint64 total)
{
    m_totalKnown = true;
    if (!m_source || total == m_total)
        return;
    const qint64 oldPages = m_pageCount;
    m_total = total;
    m_pageCount = BubblePageBuilder::pageCount(total);
    if (m_pageCount == 0) {
        showEmpty();
        return;
    }
    // The links of the pager change only when the page shown was the last
    // one, or is past the new end: then the page is built again.
    if (m_page < 1 || m_page > m_pageCount || (m_page < oldPages) != (m_page < m_pageCount)) {
        m_page = std::clamp<qint64>(m_page, 1, m_pageCount);
        render(m_page);
        return;
    }
    // Otherwise only "Page n of N" changes, in the page as it stands.
    const QString before = BubblePageBuilder::pageNumberText(m_page, oldPages);
    const QString after = BubblePageBuilder::pageNumberText(m_page, m_pageCount);
    m_html.replace(QStringLiteral(">") + before + QStringLiteral("<"), QStringLiteral(">") + after + QStringLiteral("<"));
    m_pagerScript = QStringLiteral("(function(){var p=document.querySelectorAll('span.page_no');"
                                   "for(var i=0;i<p.length;++i)p[i].textContent='%1';})();")
                        .arg(after);
    if (!m_awaitingLoad) {
        m_webPage->runJavaScript(m_pagerScript, QWebEngineScript::ApplicationWorld);
        m_pagerScript.clear();
    }
}

void WABubbleViewMgr::render(qint64 page)
{
    if (!m_source || page < 1 || page > m_pageCount)
        return;
    QString html;
    try {
        html = m_builder.buildPage(*m_source, m_total, page, m_nameChats);
    } catch (const std::exception& e) {
        fail(e);  // the view keeps the page it had
        return;
    }
    m_html = html;
    m_pagerScript.clear();  // the new document has the pager as it stands
    m_awaitingLoad = true;
    m_loadUrl = writePageFile(m_html);
    if (m_loadUrl.isEmpty()) {
        // No private folder to write to: hand the document over directly
        // (the engine takes up to 2 MiB that way; a longer page fails and
        // is reported below).
        m_view->setHtml(m_html, m_baseUrl);
        return;
    }
    m_view->load(m_loadUrl);
}

QUrl WABubbleViewMgr::writePageFile(const QString& html)
{
    // A page of long messages easily passes the 2 MiB the engine accepts
    // for a document handed over in memory; from a file any size loads.
    const QString temp = platform::privateTempFolder();
    if (temp.isEmpty() || !platform::createPrivateFolder(temp))
        return {};
    const QString base = QStringLiteral("<base href=\"%1\"/>")
                             .arg(m_baseUrl.toString(QUrl::FullyEncoded).toHtmlEscaped());
    QString document = html;
    const int head = document.indexOf(QLatin1String("<head>"));
    if (head >= 0)
        document.insert(head + 6, base);
    // A new name for every page, so that the page still loading is never
    // rewritten under it; the files of earlier pages go once a page is shown.
    const QString path = QDir(temp).filePath(QStringLiteral("bubbles-%1-%2.html")
                                                 .arg(quintptr(this), 0, 16)
                                                 .arg(++m_pageSerial));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(document.toUtf8()) < 0 || !file.flush()) {
        file.remove();
        return {};
    }
    file.close();
    m_pageFiles << path;
    return QUrl::fromLocalFile(path);
}

void WABubbleViewMgr::removeOldPageFiles()
{
    const QString current = m_loadUrl.isEmpty() ? QString() : m_loadUrl.toLocalFile();
    for (auto it = m_pageFiles.begin(); it != m_pageFiles.end();) {
        if (*it == current) {
            ++it;
            continue;
        }
        QFile::remove(*it);
        it = m_pageFiles.erase(it);
    }
}

WABubbleViewMgr::~WABubbleViewMgr()
{
    m_loadUrl.clear();
    removeOldPageFiles();
}

void WABubbleViewMgr::onLoadFinish(bool ok)
{
    // Only a document we set moves the view; a refused link click also
    // ends in a (failed) load and must leave the reader where they were.
    if (!m_awaitingLoad)
        return;
    m_awaitingLoad = false;
    removeOldPageFiles();
    if (!ok) {
        // The pane must not keep another chat's bubbles under this chat's
        // header: empty it and say so.
        showEmpty();
        emit errorOccurred(QCoreApplication::translate("WABubbleViewMgr", "The conversation page could not be shown."));
        return;
    }
    scrollToAnchor(m_anchor);
    if (!m_pagerScript.isEmpty()) {
        m_webPage->runJavaScript(m_pagerScript, QWebEngineScript::ApplicationWorld);
        m_pagerScript.clear();
    }
}

void WABubbleViewMgr::scrollToAnchor(const QString& anchor)
{
    static const QRegularExpression safe(QStringLiteral("^(start|end|sms_-?[0-9]+)$"));
    if (!safe.match(anchor).hasMatch())
        return;
    // The message selected in the list is outlined; only one at a time.
    m_webPage->runJavaScript(
        QStringLiteral("(function(){var a=document.getElementsByName('%1')[0];if(a)a.scrollIntoView(true);"
                       "var o=document.querySelectorAll('.bb_sel');for(var i=0;i<o.length;++i){"
                       "o[i].classList.remove('bb_sel');o[i].style.outline='';}"
                       "var m=document.getElementById('msg_%2');if(m){m.classList.add('bb_sel');"
                       "m.style.outline='2px solid #34b7f1';m.style.outlineOffset='2px';}})();")
            .arg(anchor)
            .arg(m_selectedPk),
        QWebEngineScript::ApplicationWorld);
}

void WABubbleViewMgr::firstPage()
{
    if (m_pageCount < 1)
        return;
    m_page = 1;
    m_anchor = QStringLiteral("start");
    render(m_page);
}

void WABubbleViewMgr::lastPage()
{
    if (!m_totalKnown && m_source)
        emit totalWanted();  // the count under way, finished now
    if (!m_totalKnown && m_source) {
        // Nobody counts for the view: count here.
        try {
            m_total = m_source->count();
        } catch (const std::exception& e) {
            fail(e);
            return;
        }
        m_totalKnown = true;
        m_pageCount = BubblePageBuilder::pageCount(m_total);
    }
    if (m_pageCount < 1)
        return;
    m_page = m_pageCount;
    m_anchor = QStringLiteral("end");
    render(m_page);
}

void WABubbleViewMgr::nextPage()
{
    if (m_page >= m_pageCount)
        return;
    m_anchor = QStringLiteral("start");
    ++m_page;
    render(m_page);
}

void WABubbleViewMgr::previousPage()
{
    if (m_page < 2)
        return;
    m_anchor = QStringLiteral("end");
    --m_page;
    render(m_page);
}

void WABubbleViewMgr::scrollToPos(int row)
{
    if (!m_source || row < 0 || row >= m_total)
        return;
    _Message message;
    try {
        message = m_source->at(row);
    } catch (const std::exception& e) {
        fail(e);
        return;
    }
    m_anchor = QStringLiteral("sms_%1").arg(message.Z_PK);
    m_selectedPk = message.Z_PK;
    const qint64 page = BubblePageBuilder::pageOfRow(row);
    if (page == m_page) {
        scrollToAnchor(m_anchor);
        return;
    }
    m_page = page;
    render(m_page);
}

QString WABubbleViewMgr::copyFolderFor(const QUrl& url)
{
    const QString temp = platform::privateTempFolder();
    if (temp.isEmpty())
        return {};
    return temp + QLatin1Char('/') + md5HexLower(url.toString());
}

void WABubbleViewMgr::reportMissing(const QString& path)
{
    static const QRegularExpression lastThree(QStringLiteral("([^/]+/[^/]+/[^/]+)$"));
    const QRegularExpressionMatch match = lastThree.match(path);
    const QString shown = match.hasMatch() ? QStringLiteral("...") + match.captured(1) : path;
    m_warn(QCoreApplication::translate("WABubbleViewMgr", "can not find %1.").arg(shown));
}

void WABubbleViewMgr::copyAndOpen(const QUrl& url, const QString& file, const QString& name, const QString& suffix)
{
    const QString folder = copyFolderFor(url);
    if (folder.isEmpty() || !platform::createPrivateFolder(folder)) {
        emit errorOccurred(QCoreApplication::translate("WABubbleViewMgr", "Can't create the temporary folder %1.")
                               .arg(folder.isEmpty() ? QDir::tempPath() : folder));
        return;
    }
    const QString copy = folder + QLatin1Char('/') + name;
    if (!QFileInfo::exists(copy)) {
        // Under a temporary name first: a cut-short copy must never sit
        // under the real name, where it would be kept from then on.
        const QString part = copy + QStringLiteral(".part");
        QFile::remove(part);
        if (!QFile::copy(file, part) || !QFile::rename(part, copy)) {
            QFile::remove(part);
            emit errorOccurred(QCoreApplication::translate("WABubbleViewMgr", "Can't copy %1 to %2.").arg(file, copy));
            return;
        }
    }
    m_open(kOpenedSuffixes.contains(suffix.trimmed()) ? copy : folder);
}

void WABubbleViewMgr::openLocalFile(const QUrl& url)
{
    const QString path = url.toLocalFile();
    const QFileInfo info(path);
    if (!info.isFile() || info.size() <= 0) {
        reportMissing(path);
        return;
    }
    copyAndOpen(url, path, info.fileName(), info.suffix());
}

void WABubbleViewMgr::openAttachment(const QUrl& url)
{
    const QUrlQuery query(url);
    const QString path =
        QString::fromUtf8(QByteArray::fromHex(query.queryItemValue(QStringLiteral("ph"), QUrl::FullyDecoded).toLatin1()));
    const QString suffix = query.queryItemValue(QStringLiteral("sf"), QUrl::FullyDecoded).toLower();
    const QFileInfo info(path);
    if (path.isEmpty() || !info.isFile() || info.size() <= 0) {
        reportMissing(path);
        return;
    }
    // The copy is named after the file, with the suffix the link gives; the
    // name is made safe for one folder level whatever the link holds.
    const QString name = suffix.isEmpty() ? info.fileName() : info.fileName() + QLatin1Char('.') + suffix;
    copyAndOpen(url, path, escapedFileName(name), suffix);
}

void WABubbleViewMgr::onLinkClicked(const QUrl& url)
{
    const QString path = url.path();
    if (path == QLatin1String("/pre_page")) {
        previousPage();
        return;
    }
    if (path == QLatin1String("/next_page")) {
        nextPage();
        return;
    }
    if (path == QLatin1String("/first_page")) {
        firstPage();
        return;
    }
    if (path == QLatin1String("/last_page")) {
        lastPage();
        return;
    }
    if (url.isLocalFile()) {
        openLocalFile(url);
        return;
    }
    if (url.scheme() == QLatin1String("atta")) {
        openAttachment(url);
        return;
    }
    // Only web addresses go to the browser; anything else a chat could
    // hold (javascript:, other programs' schemes) is ignored.
    if (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https"))
        m_openExternal(url.toString(QUrl::FullyEncoded));
}
