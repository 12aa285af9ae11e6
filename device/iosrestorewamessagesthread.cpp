#include "device/iosrestorewamessagesthread.h"

#include "base/apperror.h"
#include "base/fileutil.h"
#include "base/idstext.h"
#include "chatstore/backupmessagesthread.h"
#include "chatstore/ioswaftsdb.h"
#include "chatstore/ioswhatsappdb.h"
#include "chatstore/plistcftype.h"
#include "device/ioscachefolders.h"
#include "itunes/backupmanifest.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtDebug>

namespace {

constexpr const char* kContext = "IOSRestoreWAMessagesThread";

bool versionBelow(const QList<int>& a, const QList<int>& b)
{
    for (qsizetype i = 0; i < qMax(a.size(), b.size()); ++i) {
        const int x = i < a.size() ? a[i] : 0;
        const int y = i < b.size() ? b[i] : 0;
        if (x != y)
            return x < y;
    }
    return false;
}

// True when `file` is the file a stored path names (or the program's
// encoded copy of it), not a stand-in the reader substituted.
bool namesStoredFile(const QString& file, const QString& stored)
{
    const QString fileName = QFileInfo(file).fileName();
    const QString storedName = QFileInfo(stored).fileName();
    return fileName == storedName || fileName == percentEncodedFileName(decomposedText(storedName));
}

// Empties a file that exists (a database's -wal or -shm beside a database
// that was just committed and checkpointed).
void emptyCompanion(const QString& path)
{
    if (!QFileInfo(path).isFile())
        return;
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw AppError(QStringLiteral("can not empty %1. %2").arg(path, f.errorString()));
}

}  // namespace

const QString IOSRestoreWAMessagesThread::kGroupDomain =
    QStringLiteral("AppDomainGroup-group.net.whatsapp.WhatsApp.shared");
const QString IOSRestoreWAMessagesThread::kAppDomain = QStringLiteral("AppDomain-net.whatsapp.WhatsApp");

IOSRestoreWAMessagesThread::IOSRestoreWAMessagesThread(PIOSDeviceInfo target, PAbsWAMsgsSource source,
                                                       const QString& appFolder)
    : m_target(std::move(target)), m_source(std::move(source)), m_appFolder(appFolder)
{
}

void IOSRestoreWAMessagesThread::mediaLocationFor(const QString& version, QString& prefix, QString& domain)
{
    prefix = QStringLiteral("Message/");
    domain = kGroupDomain;
    const QList<int> numbers = BackupManifest::versionNumbers(version);
    if (versionBelow({0}, numbers) && versionBelow(numbers, {2, 18, 40})) {
        prefix = QStringLiteral("Library/");
        domain = kAppDomain;
    }
}

QString IOSRestoreWAMessagesThread::whatsAppVersion(const QString& appFolder)
{
    QFile f(QDir(appFolder).filePath(QStringLiteral("Library/Preferences/group.net.whatsapp.WhatsApp.shared.plist")));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const PlistCFType plist = PlistCFType::parse(f.read(16 * 1024 * 1024));
    if (plist.type() != PlistCFType::DictionaryType)
        return {};
    return plist.value(QStringLiteral("SPClientVersion")).toText();
}

void IOSRestoreWAMessagesThread::run(JobMonitor& monitor)
{
    m_processed = 0;
    m_added = 0;
    m_mediaFiles.clear();
    runGuarded(monitor, [&] {
        monitor.postProgress(
            idsText(kContext, "IDS_RESTORING_MESSAGES_TO_IOS", "Transferring WhatsApp messages to iPhone..."), 0,
            QString());
        if (!m_source || (!m_target && m_appFolder.isEmpty()))
            throw AppError(QStringLiteral("IOSRestoreWAMessagesThread: no target or no source."));
        const qint64 count = m_source->count();
        const QString appFolder = m_appFolder.isEmpty() ? whatsAppCacheFolder(*m_target) : m_appFolder;
        const QDir app(appFolder);
        m_targetDatabasePath = app.filePath(QStringLiteral("Documents/ChatStorage.sqlite"));
        m_targetSearchPath = app.filePath(QStringLiteral("Documents/ChatSearch.sqlite"));

        QString prefix;
        mediaLocationFor(whatsAppVersion(appFolder), prefix, m_mediaDomain);

        // The target must exist already; its schema is the phone's and is
        // never upgraded.
        IOSWhatsAppDb target(m_targetDatabasePath, app.filePath(QStringLiteral("Documents/Contacts.sqlite")),
                             app.filePath(QStringLiteral("Library")),
                             app.filePath(QStringLiteral("Library/Media/Profile")), false, false);
        QMap<QString, QString> mediaFiles;
        // The phone's search index gets a document for every new text; its
        // transaction follows the target's.
        IOSWaFtsDb search(m_targetSearchPath);
        const bool indexed = search.openCheck();
        if (indexed)
            search.beginTran();
        target.beginTransaction();
        qint64 added = 0;
        try {
            for (qint64 i = 0; i < count; ++i) {
                throwIfCancelled(monitor);
                if (isProgressUnit(i, count))
                    monitor.postProgress(QString(), JobMonitor::percentOf(i, count),
                                         QStringLiteral("Messages: %1 / %2").arg(i + 1).arg(count));
                const _Message message = m_source->at(i);
                // Texts get a search document (0 without an index), other
                // types none.
                const auto docId = [&]() -> qint64 {
                    if (message.ZMESSAGETYPE != 0)
                        return -2;
                    const PChatSession chat = message.session;
                    return search.insertDoc(chat ? chat->ZCONTACTJID : QString(), message.ZTEXT,
                                            message.ZMESSAGEDATE);
                };
                bool isNew = false;
                if (target.mergeIfMissing(message, docId, &isNew) == 0)
                    continue;
                if (isNew)
                    ++added;
                target.copyMessageFiles(message);
                if (!message.media)
                    continue;
                const _MediaItem& item = *message.media;
                const std::pair<const QString*, const QString*> files[] = {
                    {&item.ZMEDIALOCALPATH, &item.mediaFile},
                    {&item.ZTHUMBNAILLOCALPATH, &item.thumbnailFile},
                    {&item.ZXMPPTHUMBPATH, &item.xmppThumbnailFile}};
                for (const auto& [stored, file] : files) {
                    if (stored->isEmpty() || file->isEmpty() || !QFileInfo(*file).isFile()
                        || !namesStoredFile(*file, *stored))
                        continue;
                    QString relative = *stored;
                    if (relative.startsWith(QLatin1Char('/')))
                        relative.remove(0, 1);
                    if (!relative.isEmpty())
                        mediaFiles.insert(QFileInfo(*file).absoluteFilePath(), prefix + decomposedText(relative));
                }
            }
            target.commitThrow();
        } catch (...) {
            target.endTransaction(false);
            if (indexed && search.inTransaction())
                search.rollbackTran();
            throw;
        }
        // Committed: from here on the job finishes even when a cancel arrives.
        m_added = added;
        target.renumberSort();
        if (indexed) {
            try {
                search.commitTran();
            } catch (const std::exception& e) {
                qDebug().noquote() << QStringLiteral("error: IOSFtsDb::commit, %1").arg(QString::fromUtf8(e.what()));
            }
            search.close();
        }
        m_targetLidPath.clear();
        if (target.writeLidMappings().added > 0)
            m_targetLidPath = app.filePath(QStringLiteral("Documents/LID.sqlite"));
        target.closeDb();
        // The database is whole in its main file now; a phone must not
        // replay an older log over it.
        emptyCompanion(m_targetDatabasePath + QStringLiteral("-wal"));
        emptyCompanion(m_targetDatabasePath + QStringLiteral("-shm"));
        m_mediaFiles = mediaFiles;
        m_processed = count;
        return QString();
    });
}
