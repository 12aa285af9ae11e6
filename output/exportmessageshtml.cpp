#include "output/exportmessageshtml.h"

#include "base/productinfo.h"
#include "chatstore/displayrules.h"
#include "output/exportfilesfolder.h"

#include <QLocale>
#include <QUrl>

namespace {

BubblePageOptions exportOptions(ExportFilesFolder& files)
{
    BubblePageOptions options;
    options.exportFiles = &files;
    return options;
}

QString pageHref(const QString& name)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(name + QStringLiteral(".html")));
}

}  // namespace

ExportMessagesHtml::ExportMessagesHtml(QString folder, QStringList pageNames, ExportFilesFolder& files)
    : m_folder(std::move(folder)), m_pageNames(std::move(pageNames)), m_builder(exportOptions(files))
{
    if (m_pageNames.isEmpty())
        m_pageNames << QStringLiteral("unknown-chat");
}

ExportMessagesHtml::~ExportMessagesHtml() = default;

QString ExportMessagesHtml::pageName(int page) const
{
    if (page < m_pageNames.size())
        return m_pageNames.at(page);
    return m_pageNames.first() + QStringLiteral("_%1").arg(page + 1);
}

QString ExportMessagesHtml::pager(bool more) const
{
    if (m_page == 0 && !more)
        return {};
    QString html = QStringLiteral("<p class=\"pager\" style=\"text-align:center;\">");
    if (m_page > 0)
        html += QStringLiteral("<a href=\"%1\">&lt;&lt; Previous</a>").arg(pageHref(pageName(m_page - 1)));
    if (m_page > 0 && more)
        html += QStringLiteral(" &nbsp; ");
    if (more)
        html += QStringLiteral("<a href=\"%1\">Next &gt;&gt;</a>").arg(pageHref(pageName(m_page + 1)));
    return html + QStringLiteral("</p>\n");
}

void ExportMessagesHtml::openPage(int page)
{
    m_page = page;
    m_inPage = 0;
    m_lastDay = QDate();
    m_file = std::make_unique<SavedOutputFile>(m_folder + QLatin1Char('/') + pageName(page) + QStringLiteral(".html"));
    m_file->open();
    m_file->put(QStringLiteral(
                    "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\" "
                    "\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-transitional.dtd\">\n"
                    "<html xmlns=\"http://www.w3.org/1999/xhtml\">\n"
                    "<head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\" />\n"
                    "<title>%1</title>\n"
                    "<link href=\"files/style.css\" type=\"text/css\" rel=\"stylesheet\"/></head><body>\n")
                    .arg(m_builder.escape(QString::fromUtf8(product::kName))) +
                pager(false));
}

void ExportMessagesHtml::closePage(bool more)
{
    m_file->put(pager(more) + QStringLiteral("</body></html>\n"));
    m_file->commit();
    m_file.reset();
}

void ExportMessagesHtml::begin()
{
    openPage(0);
}

void ExportMessagesHtml::write(const _Message& m)
{
    if (m_inPage >= kMessagesPerFile) {
        closePage(true);
        openPage(m_page + 1);
    }
    ++m_inPage;
    const QDate day = coreDataToDateTime(m.ZMESSAGEDATE).date();
    QString html;
    if (!m_lastDay.isValid() || day != m_lastDay) {
        html = m_builder.centreBubble(QLocale::c().toString(day, QStringLiteral("dd MMM yyyy")));
        m_lastDay = day;
    }
    html += m_builder.messageBlock(m);
    html += QLatin1Char('\n');
    m_file->put(html);
}

void ExportMessagesHtml::finish()
{
    if (m_file)
        closePage(false);
}

void ExportMessagesHtml::discard()
{
    if (m_file)
        m_file->discard();
    m_file.reset();
}
