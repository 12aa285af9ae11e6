#include "itunes/iosloadwafromitunesthread.h"

#include "chatstore/localdatabases.h"

#include "base/apperror.h"
#include "base/fileutil.h"
#include "base/idstext.h"
#include "itunes/backupmanifest.h"
#include "itunes/backupnode.h"
#include "chatstore/ioswhatsappdb.h"
#include "platform/osservices.h"

#include <QDir>
#include <QFileInfo>
#include <QtDebug>

namespace {

const char* const kContext = "IOSLoadWAFromiTunesThread";

// A node name is used only when it is one plain path component.
bool isPlainName(const QString& name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..")
        && !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\')) && !name.contains(QChar(0));
}

}  // namespace

IOSLoadWAFromiTunesThread::IOSLoadWAFromiTunesThread(BackupManifest& backup, const QString& targetFolder,
                                                     const WhatsAppApp& app)
    : m_backup(backup), m_app(app)
{
    m_defaultCache = targetFolder.isEmpty();
    m_cacheFolder = m_defaultCache ? defaultCacheFolder(backup.backupId()) : QDir::cleanPath(targetFolder);
}

QString IOSLoadWAFromiTunesThread::defaultCacheFolder(const QString& backupId)
{
    // Never the shared temporary folder: decrypted chats would sit there
    // for anyone to read.
    const QString temp = platform::privateTempFolder();
    if (temp.isEmpty())
        return {};
    return QDir(temp).filePath(QStringLiteral("quillometry-itunes_cache/") + backupId);
}

QString IOSLoadWAFromiTunesThread::appFolder() const
{
    return QDir(m_cacheFolder).filePath(m_app.bundleId);
}

QString IOSLoadWAFromiTunesThread::noWhatsAppDataText(const WhatsAppApp& app)
{
    if (app.isBusiness())
        return QStringLiteral("Found no WhatsApp Business data in your iTunes Backup. Please check if you have "
                              "installed and logined WhatsApp Business on your iPhone.");
    return QStringLiteral("Found no WhatsApp data in your iTunes Backup. Please check if you have installed and "
                          "logined WhatsApp Messenger on your iPhone.");
}

QList<const WhatsAppApp*> IOSLoadWAFromiTunesThread::appsInBackup(const BackupManifest& backup)
{
    QList<const WhatsAppApp*> found;
    const BackupNode* apps = backup.root.child(QStringLiteral("Applications"));
    const BackupNode* groups = backup.root.child(QStringLiteral("AppDomainGroup"));
    for (const WhatsAppApp* app : WhatsAppApp::all()) {
        const BackupNode* appNode = apps ? apps->child(app->bundleId) : nullptr;
        if (!appNode)
            continue;
        const BackupNode* groupNode = groups ? groups->child(app->groupContainer) : nullptr;
        const BackupNode* documents = appNode->child(QStringLiteral("Documents"));
        const QString db = QStringLiteral("ChatStorage.sqlite");
        if ((groupNode && groupNode->child(db)) || (documents && documents->child(db)))
            found << app;
    }
    return found;
}

void IOSLoadWAFromiTunesThread::run(JobMonitor& monitor)
{
    m_monitor = &monitor;
    m_copied = m_kept = 0;
    m_createdTarget = m_createdAppFolder = false;
    monitor.postProgress(idsText(kContext, "IDS_LOADING_ITUNES_BACKUP", "Loading data from iTunes Backup..."), 99,
                         QString());
    runGuarded(monitor, [&] {
        const BackupNode* apps = m_backup.root.child(QStringLiteral("Applications"));
        const BackupNode* appNode = apps ? apps->child(m_app.bundleId) : nullptr;
        const BackupNode* groups = m_backup.root.child(QStringLiteral("AppDomainGroup"));
        const BackupNode* groupNode = groups ? groups->child(m_app.groupContainer) : nullptr;
        // Without the app nothing is touched, not even the cache folder.
        if (!appNode)
            throw AppError(noWhatsAppDataText(m_app));

        m_dbLayout = m_backup.isDbLayout();
        try {
            if (m_defaultCache) {
                // Decrypted chats never sit in a folder others can enter.
                if (m_cacheFolder.isEmpty())
                    throw AppError(QStringLiteral("can not create a private temporary folder."));
                if (!platform::createPrivateFolder(m_cacheFolder))
                    throw AppError(QStringLiteral("can not create %1.").arg(QDir::toNativeSeparators(m_cacheFolder)));
            } else {
                m_createdTarget = !QFileInfo::exists(m_cacheFolder);
                if (!QDir().mkpath(m_cacheFolder))
                    throw AppError(QStringLiteral("can not create %1.").arg(QDir::toNativeSeparators(m_cacheFolder)));
            }
            const QFileInfo app(appFolder());
            m_createdAppFolder = !app.exists() && !app.isSymLink();
            const QString documents = QDir(appFolder()).filePath(QStringLiteral("Documents"));
            if (QFileInfo(documents).isSymLink())
                QFile::remove(documents);
            else if (QFileInfo::exists(documents))
                removeFolderTree(documents);

            cacheNode(appNode, m_cacheFolder, true);

            if (groupNode) {
                const QString library = QDir(appFolder()).filePath(QStringLiteral("Library"));
                for (const auto& child : groupNode->children) {
                    if (!child->isFolder()) {
                        QDir().mkpath(documents);
                        cacheNode(child.get(), documents, true);
                    } else if (child->name == QLatin1String("Media")) {
                        QDir().mkpath(library);
                        cacheNode(child.get(), library, false);
                    } else if (child->name == QLatin1String("Message")) {
                        for (const auto& grandChild : child->children) {
                            if (grandChild->name == QLatin1String("Media")) {
                                QDir().mkpath(library);
                                cacheNode(grandChild.get(), library, false);
                            }
                        }
                    } else if (child->name == QLatin1String("Library")) {
                        QDir().mkpath(library);
                        for (const auto& grandChild : child->children)
                            cacheNode(grandChild.get(), library, true);
                    }
                }
            }
            // A backup may list the app without its database (WhatsApp never
            // set up, or the files left out): that is no WhatsApp data either,
            // not a database of no messages.
            if (!QFileInfo(QDir(documents).filePath(QStringLiteral("ChatStorage.sqlite"))).isFile())
                throw AppError(noWhatsAppDataText(m_app));
        } catch (...) {
            cleanUp();
            throw;
        }
        return QString();
    });
    m_monitor = nullptr;
}

void IOSLoadWAFromiTunesThread::cacheNode(const BackupNode* node, const QString& destinationFolder, bool force)
{
    if (!node)
        return;
    if (m_monitor) {
        m_monitor->postProgress(QString(), -1,
                                idsText(kContext, "IDS_CACHING_BACKUP_FILE_%1", "Loading %1...").arg(node->name));
        throwIfCancelled(*m_monitor);
    }
    if (!isPlainName(node->name)) {
        qWarning("IOSLoadWAFromiTunesThread::cacheNode, skipped \"%s\": not a plain name", qUtf8Printable(node->name));
        return;
    }
    const QString local = QDir(destinationFolder).filePath(percentEncodedFileName(decomposedText(node->name)));
    const QFileInfo info(local);
    if (info.isSymLink()) {
        qWarning("IOSLoadWAFromiTunesThread::cacheNode, skipped %s: a symbolic link is in the way",
                 qUtf8Printable(local));
        return;
    }
    if (node->isFolder()) {
        if (!QDir().mkpath(local) || !QFileInfo(local).isDir())
            throw AppError(QStringLiteral("can not create %1.").arg(QDir::toNativeSeparators(local)));
        for (const auto& child : node->children)
            cacheNode(child.get(), local, force);
        return;
    }
    if (node->record.isLink())
        return;
    const QString stored =
        MBDBParser::backupFilePath(m_backup.folder.path(), node->record.fileId(), false, m_dbLayout);
    if (!QFileInfo(stored).isFile())
        return;  // listed in the manifest but not stored: nothing to copy
    if (!force && info.isFile() && info.size() > 0) {
        ++m_kept;
        return;
    }
    m_backup.copyRecordThrow(node->record, local, {}, [this](qint64, qint64, const QVariant&) {
        if (m_monitor)
            throwIfCancelled(*m_monitor);
    });
    ++m_copied;
}

void IOSLoadWAFromiTunesThread::cleanUp()
{
    if (m_cacheFolder.isEmpty())
        return;
    if (m_defaultCache) {
        // The other app's copy of the same backup may sit beside this one.
        removeFolderTree(appFolder());
        if (QDir(m_cacheFolder).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System))
            QDir().rmdir(m_cacheFolder);
        return;
    }
    // A target folder belongs to someone else (a local database, a phone's
    // cache): only what this run created goes.
    if (m_createdAppFolder)
        removeFolderTree(appFolder());
    if (m_createdTarget)
        QDir().rmdir(m_cacheFolder);
}

std::shared_ptr<IOSWhatsAppDb> IOSLoadWAFromiTunesThread::openLoadedDb(const QString& appFolder)
{
    const QDir app(appFolder);
    const QString contacts = app.filePath(QStringLiteral("Documents/Contacts.sqlite"));
    auto db = std::make_shared<IOSWhatsAppDb>(app.filePath(QStringLiteral("Documents/ChatStorage.sqlite")),
                                              QFileInfo(contacts).isFile() ? contacts : QString(),
                                              app.filePath(QStringLiteral("Library")),
                                              app.filePath(QStringLiteral("Library/Media/Profile")), false, false);
    // Every media file here was written by a copy of this job under a
    // temporary name and renamed; none is ever written again in place (a
    // later copy keeps it or renames a new file over its name). A save may
    // therefore link them instead of copying their bytes once more.
    db->setMediaFilesArePrivateCopies(true);
    return db;
}

QString IOSLoadWAFromiTunesThread::proposedDatabaseName(const BackupManifest& backup, const QString& targetFolder,
                                                        const WhatsAppApp& app)
{
    // The save step takes a local database's name; its folder path would be
    // refused as a name (or create a database named after a path).
    if (!targetFolder.isEmpty())
        return QFileInfo(QDir::cleanPath(targetFolder)).fileName();
    // A device may be named "Work/Private iPhone": the proposal keeps the
    // name readable and valid as a folder name.
    return validLocalDbName(backup.deviceName + app.localDbSuffix);
}
