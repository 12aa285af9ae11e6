#include "app/chatfoldercommands.h"

#include "app/commandrules.h"
#include "app/itemmodelmain.h"
#include "app/loadfromitunes.h"
#include "app/mainwindow.h"
#include "app/messagebox.h"
#include "app/progressjob.h"
#include "app/windowsettings.h"
#include "base/datafolder.h"
#include "chatstore/copychatfolderthread.h"
#include "chatstore/localdatabases.h"
#include "itunes/backupmanifest.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QLineEdit>

namespace {

QString text(const char* source)
{
    return QCoreApplication::translate("MainWindow", source);
}

QString savedCopiesFolder()
{
    return QDir(dataFolder()).filePath(QStringLiteral("virtual_ios"));
}

}  // namespace

ChatFolderCommands::ChatFolderCommands(MainWindow* window) : QObject(window), m_window(window)
{
    m_actOpen = new QAction(text("Open Chat &Database Folder..."), window);
    m_actOpen->setObjectName(QStringLiteral("actOpenChatFolder"));
    m_actOpen->setIcon(QIcon(QStringLiteral(":res/open_db_folder.png")));
    m_actOpen->setShortcut(QKeySequence::Open);
    connect(m_actOpen, &QAction::triggered, this, [this] { openChatFolder(); });
}

void ChatFolderCommands::openChatFolder()
{
    const QString folder = QFileDialog::getExistingDirectory(
        m_window, text("Open Chat Database Folder"), lastFolder(QStringLiteral("chatdb"), QDir::homePath()),
        QFileDialog::ShowDirsOnly);
    if (folder.isEmpty())
        return;
    rememberFolder(QStringLiteral("chatdb"), QFileInfo(folder).absolutePath());
    openChatFolder(folder);
}

QString ChatFolderCommands::askName(const QString& proposed)
{
    QString name = proposed;
    for (;;) {
        bool ok = false;
        name = QInputDialog::getText(m_window, text("Open Chat Database Folder"),
                                     text("Name of the saved copy:"), QLineEdit::Normal, name, &ok);
        if (!ok)
            return {};
        QString problem = localDbNameError(name);
        if (problem.isEmpty()) {
            const QStringList taken = QDir(savedCopiesFolder()).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
            for (const QString& t : taken)
                if (t.compare(name, Qt::CaseInsensitive) == 0)
                    problem = text("A saved copy named \"%1\" exists already.").arg(t);
        }
        if (problem.isEmpty())
            return name;
        warningBox(problem);
    }
}

bool ChatFolderCommands::openChatFolder(const QString& folder)
{
    if (!CopyChatFolderThread::layoutOf(folder)) {
        errorBox(text("Found no chat database (ChatStorage.sqlite) in %1.").arg(QDir::toNativeSeparators(folder)));
        return false;
    }
    const QString name = askName(QDir(folder).dirName());
    if (name.isEmpty())
        return false;
    if (!QDir().mkpath(savedCopiesFolder())) {
        errorBox(text("Can't create the folder %1.").arg(QDir::toNativeSeparators(savedCopiesFolder())));
        return false;
    }
    CopyChatFolderThread copy(folder, QDir(savedCopiesFolder()).filePath(name));
    if (!runProgressJob(m_window, QString(), copy))
        return false;
    m_window->refreshTree();
    for (auto* node : m_window->treeModel()->devicesRoot()->children) {
        if (node->text == name) {
            m_window->selectNode(node);
            break;
        }
    }
    return true;
}

bool ChatFolderCommands::isBackupFolder(const QString& folder)
{
    const QDir dir(folder);
    return QFileInfo(dir.filePath(QStringLiteral("Manifest.plist"))).isFile()
           && (QFileInfo(dir.filePath(QStringLiteral("Manifest.db"))).isFile()
               || QFileInfo(dir.filePath(QStringLiteral("Manifest.mbdb"))).isFile());
}

bool ChatFolderCommands::openDroppedFolder(const QString& folder)
{
    if (CopyChatFolderThread::layoutOf(folder))
        return openChatFolder(folder);
    if (isBackupFolder(folder)) {
        BackupManifest backup(folder);
        try {
            backup.openThrow();
        } catch (const std::exception& e) {
            errorBox(QString::fromUtf8(e.what()));
            return false;
        }
        return loadChosenBackup(m_window, backup, QString(),
                                [this](const QString& proposedName, const PAbsWAMsgsSource& source) {
                                    m_window->saveToLocalDatabase(proposedName, source);
                                });
    }
    warningBox(text("%1 is neither an iTunes or Finder backup nor a chat database folder.")
                   .arg(QDir::toNativeSeparators(folder)));
    return false;
}
