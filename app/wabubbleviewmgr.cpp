#include "app/wabubbleviewmgr.h"

#include "app/bubblewebpage.h"
#include "app/messagebox.h"
#include "base/assetfolder.h"
#include "base/fileutil.h"
#include "base/openexternal.h"
#include "base/productinfo.h"
#include "platform/osservices.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUrlQuery>
#include <QWebEngineScript>
#include <QWebEngineView>

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
    connect(m_view, &QWebEngineView::loadFinished, this, &WABubbleViewMgr::onLoadFinish);
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
    m_view->setHtml(QString(), QUrl());
}

void WABubbleViewMgr::showBubble(PAbsWAMsgsSource smslist)
{
    m_source = std::move(smslist);
    m_total = 0;
    qint64 count = 0;
    try {
        count = m_source ? m_source->count() : 0;
    } catch (const std::exception& e) {
        showEmpty();
        fail(e);
        return;
    }
    m_total = count;
    if (count <= 0) {
        showEmpty();
        return;
    }
    m_pageCount = BubblePageBuilder::pageCount(count);
    m_page = 1;
    m_anchor = QStringLiteral("start");
    render(m_page);
}

void WABubbleViewMgr::render(qint64 page)
{
    if (!m_source || page < 1 || page > m_pageCount)
        return;
    QString html;
    try {
        html = m_builder.buildPage(*m_source, m_total, page);
    } catch (const std::exception& e) {
        fail(e);  // the view keeps the page it had
        return;
    }
    m_html = html;
    m_awaitingLoad = true;
    m_view->setHtml(m_html, m_baseUrl);
}

void WABubbleViewMgr::onLoadFinish(bool ok)
{
    Q_UNUSED(ok);
    // Only a document we set moves the view; a refused link click also
    // ends in a (failed) load and must leave the reader where they were.
    if (!m_awaitingLoad)
        return;
    m_awaitingLoad = false;
    scrollToAnchor(m_anchor);
}

void WABubbleViewMgr::scrollToAnchor(const QString& anchor)
{
    static const QRegularExpression safe(QStringLiteral("^(start|end|sms_-?[0-9]+)$"));
    if (!safe.match(anchor).hasMatch())
        return;
    m_webPage->runJavaScript(
        QStringLiteral("(function(){var a=document.getElementsByName('%1')[0];if(a)a.scrollIntoView(true);})();")
            .arg(anchor),
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
    if (url.isLocalFile()) {
        openLocalFile(url);
        return;
    }
    if (url.scheme() == QLatin1String("atta")) {
        openAttachment(url);
        return;
    }
    m_openExternal(url.toString());
}
