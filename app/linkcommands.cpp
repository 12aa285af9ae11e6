#include "app/linkcommands.h"

#include "app/aboutusform.h"
#include "app/commandrules.h"
#include "app/mainwindow.h"
#include "base/datafolder.h"
#include "base/fileutil.h"
#include "base/openexternal.h"
#include "base/productinfo.h"
#include "platform/osservices.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>

LinkCommands::LinkCommands(MainWindow* window) : QObject(window), m_window(window)
{
    m_actOpenDbFolder =
        commands::makeAction(window, "IDS_MI_OPEN_DB_FOLDER", QStringLiteral(":res/open_db_folder.png"));
    connect(m_actOpenDbFolder, &QAction::triggered, this, &LinkCommands::openDatabaseFolder);
    // The web pages need the vendor's web server; a build without one has
    // nothing to open.
    const bool online = !product::vendorBaseUrl().isEmpty();
    m_actHelp = commands::makeAction(window, "IDS_MI_HELP", QStringLiteral(":res/help.png"));
    connect(m_actHelp, &QAction::triggered, this, &LinkCommands::help);
    m_actFeedback = commands::makeAction(window, "IDS_MI_FEEDBACK", QString());
    connect(m_actFeedback, &QAction::triggered, this, &LinkCommands::feedback);
    m_actAbout = commands::makeAction(window, "IDS_MI_ABOUT", QString());
    connect(m_actAbout, &QAction::triggered, this, &LinkCommands::about);
    m_actHome = commands::makeAction(window, "IDS_MI_HOME", QStringLiteral(":res/home.png"));
    connect(m_actHome, &QAction::triggered, this, &LinkCommands::home);
    if (!online) {
        for (QAction* a : {m_actHelp, m_actFeedback, m_actHome})
            commands::markUnavailable(a, commands::noVendorServerNote());
    }
}

void LinkCommands::openDatabaseFolder()
{
    openInExplorer(QDir(localDatabasesFolder()).absolutePath());
}

void LinkCommands::openVendorPage(const QString& path)
{
    const QString base = product::vendorBaseUrl();
    if (base.isEmpty())
        return;
    openExternal(base + path);
}

void LinkCommands::help()
{
    openVendorPage(QStringLiteral("/chat-transfer/help.html"));
}

void LinkCommands::feedback()
{
    openVendorPage(QStringLiteral("/support.html"));
}

void LinkCommands::home()
{
    openVendorPage(QStringLiteral("/chat-transfer.html"));
}

void LinkCommands::about()
{
    AboutUsForm about(m_window);
    about.setWindowModality(Qt::WindowModal);
    about.exec();
}

void LinkCommands::openChatPicture(const PChatSession& chat)
{
    if (!chat)
        return;
    const QString source = QFileInfo::exists(chat->picturePath) ? chat->picturePath : chat->thumbnailPath;
    if (source.isEmpty() || !QFileInfo(source).isFile())
        return;
    const QString temp = platform::privateTempFolder();
    if (temp.isEmpty())
        return;
    const QString copy = QDir(temp).filePath(QFileInfo(chat->thumbnailPath).fileName() + QStringLiteral(".jpg"));
    if (!QFileInfo::exists(copy))
        QFile::copy(source, copy);
    openInExplorer(copy);
}
