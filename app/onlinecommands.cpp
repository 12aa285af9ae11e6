#include "app/onlinecommands.h"

#include "app/commandrules.h"
#include "app/messagebox.h"
#include "app/stylesheet.h"
#include "app/winmovable.h"
#include "base/openexternal.h"
#include "base/productinfo.h"
#include "platform/osservices.h"

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

namespace {

QString tr(const char* text) { return QCoreApplication::translate("OnlineCommands", text); }

// How often a held-back obsolete box looks again whether the dialog that
// holds it back has closed.
constexpr int kRetryMs = 250;

}  // namespace

OnlineCommands::OnlineCommands(const QString& host, const QString& dataFolder, QWidget* window)
    : QObject(window),
      m_services(new OnlineServices(host, dataFolder, this)),
      m_window(window),
      m_opener([](const QUrl& url) { openExternal(url.toString(QUrl::FullyEncoded)); }),
      m_quitter([] { QCoreApplication::quit(); })
{
}

OnlineCommands::~OnlineCommands()
{
    // The report handler reaches into this object; it goes with it.
    if (m_reportInstalled)
        setErrorReportHandler({});
}

QString OnlineCommands::obsoleteText()
{
    return tr("This version of Quillometry software has become obsolete. Please download the latest version to "
              "install on your computer.");
}

void OnlineCommands::attachLabel(QLabel* label)
{
    m_label = label;
    // Rich text from the server: only http and https links leave the
    // program, never file: or another scheme.
    label->setOpenExternalLinks(false);
    label->setTextFormat(Qt::RichText);
    connect(label, &QLabel::linkActivated, this, &OnlineCommands::openAdvertLink);
    label->setText(m_services->storedAdvert());
}

void OnlineCommands::setUpCheckUpdateAction(QAction* action) const
{
    action->setEnabled(isEnabled());
    // The reason goes into the tool tip only, as for every command that is
    // off: a status tip stays in the status bar after the pointer has left.
    if (!isEnabled())
        commands::markUnavailable(action, commands::noVendorServerNote());
}

void OnlineCommands::start()
{
    if (!isEnabled())
        return;
    if (!m_reportInstalled) {
        // Fire and forget: the box has closed before this runs, and nothing
        // waits for the answer.
        setErrorReportHandler([this](const QString& text) { m_services->sendErrorReport(text); });
        m_reportInstalled = true;
    }
    m_services->startOnlineChecks();
}

void OnlineCommands::takeUpdateAnswer(const OnlineAnswer& answer)
{
    const UpdateVerdict verdict = m_services->takeUpdateAnswer(answer);
    if (verdict.kind != UpdateVerdict::Obsolete || m_obsoleteShown)
        return;
    m_obsoleteShown = true;
    m_obsoleteLink = verdict.link;
    showObsoleteBoxWhenFree();
}

void OnlineCommands::takeAdvertAnswer(const OnlineAnswer& answer)
{
    const std::optional<QString> advert = m_services->takeAdvertAnswer(answer);
    if (advert && m_label)
        m_label->setText(*advert);
}

void OnlineCommands::showObsoleteBoxWhenFree()
{
    // A job's progress dialog or another modal dialog is open: the box waits
    // for it rather than end the program in the middle of a job.
    if (QApplication::activeModalWidget()) {
        QTimer::singleShot(kRetryMs, this, &OnlineCommands::showObsoleteBoxWhenFree);
        return;
    }
    {
        QMessageBox box(QMessageBox::Warning, QCoreApplication::translate("product", product::kName), obsoleteText(),
                        QMessageBox::NoButton, nullptr);
        box.setObjectName(QStringLiteral("obsoleteBox"));
        box.setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
        box.setStyleSheet(styleSheetText());
        QPushButton* download = box.addButton(tr("Download"), QMessageBox::AcceptRole);
        download->setObjectName(QStringLiteral("btnDownload"));
        box.setDefaultButton(download);
        new WinMovable(&box);
        box.exec();
    }
    m_opener(m_obsoleteLink);
    m_quitter();
}

void OnlineCommands::openAdvertLink(const QString& link)
{
    const QUrl url(link, QUrl::StrictMode);
    if (isEnabled() && online::isOpenableAdvertLink(url))
        m_opener(url);
}

void OnlineCommands::openUpdatePage()
{
    const QUrl page = m_services->updatePageUrl(platform::volumeSerialNumber(QByteArray(product::kIdentifier)));
    if (!page.isEmpty())
        m_opener(page);
}
