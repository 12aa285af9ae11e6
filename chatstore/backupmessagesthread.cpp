#include "chatstore/backupmessagesthread.h"

#include "base/apperror.h"
#include "chatstore/chatdberrortext.h"
#include "chatstore/sqlite3db.h"
#include "chatstore/wamsgsdatasource.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QtDebug>

namespace {

QString text(const char* key) { return QCoreApplication::translate("BackupMessagesThread", key); }

// True when the source reads the very database file the target writes.
bool readsTarget(const PAbsWAMsgsSource& source, const IOSWhatsAppDb& target)
{
    const auto* data = dynamic_cast<const WAMsgsDataSource*>(source.get());
    if (!data || !data->view() || !data->view()->database())
        return false;
    const QFileInfo a(data->view()->database()->databasePath());
    const QFileInfo b(target.databasePath());
    if (data->view()->database().get() == &target)
        return true;
    return a.exists() && b.exists() && a.canonicalFilePath() == b.canonicalFilePath();
}

// The media folder of the source when its files are the program's own
// private copies (an import cache), else empty.
QString privateSourceMediaFolder(const PAbsWAMsgsSource& source)
{
    const auto* data = dynamic_cast<const WAMsgsDataSource*>(source.get());
    if (!data || !data->view())
        return {};
    const auto db = std::dynamic_pointer_cast<IOSWhatsAppDb>(data->view()->database());
    return db && db->mediaFilesArePrivateCopies() ? db->mediaFolder() : QString();
}

// Lets the target link the source's private copies for one run only.
class LinkableSourceScope {
public:
    LinkableSourceScope(IOSWhatsAppDb& target, const QString& folder) : m_target(target)
    {
        m_target.setLinkableSourceFolder(folder);
    }
    ~LinkableSourceScope() { m_target.setLinkableSourceFolder(QString()); }
    LinkableSourceScope(const LinkableSourceScope&) = delete;
    LinkableSourceScope& operator=(const LinkableSourceScope&) = delete;

private:
    IOSWhatsAppDb& m_target;
};

}  // namespace

bool isProgressUnit(qint64 index, qint64 count)
{
    const qint64 step = qMax<qint64>(1, (count + 999) / 1000);
    return index == 0 || index + 1 >= count || index % step == 0;
}

BackupMessagesThread::BackupMessagesThread(std::shared_ptr<IOSWhatsAppDb> target, PAbsWAMsgsSource source)
    : m_target(std::move(target)), m_source(std::move(source))
{
}

void BackupMessagesThread::run(JobMonitor& monitor)
{
    m_added = 0;
    m_count = 0;
    m_lidRowsAdded = 0;
    m_unwrittenLids.clear();
    m_missing = 0;
    runGuarded(monitor, [&] {
        monitor.postProgress(text("IDS_BACKING_UP_MESSAGES"), -1, QString());
        if (!m_target || !m_source)
            throw AppError(QStringLiteral("BackupMessagesThread: no target or no source."));
        if (readsTarget(m_source, *m_target))
            throw AppError(QStringLiteral("The messages cannot be backed up into the database they come from."));
        const qint64 count = m_source->count();
        m_count = count;
        const LinkableSourceScope linkable(*m_target, privateSourceMediaFolder(m_source));
        // The window may be showing the target meanwhile: its reads wait
        // for each message, never for the whole job.
        std::unique_lock<std::recursive_mutex> use(m_target->useMutex());
        m_target->beginTransaction();
        use.unlock();
        qint64 added = 0;
        const qint64 missingBefore = m_target->missingMediaCount();
        try {
            for (qint64 i = 0; i < count; ++i) {
                throwIfCancelled(monitor);
                if (isProgressUnit(i, count))
                    monitor.postProgress(QString(), int((i + 1) * 100 / count),
                                         QStringLiteral("Messages: %1 / %2").arg(i + 1).arg(count));
                const _Message message = m_source->at(i);
                const std::lock_guard<std::recursive_mutex> turn(m_target->useMutex());
                bool isNew = false;
                if (m_target->mergeIfMissing(message, -2, &isNew) == 0)
                    continue;
                if (isNew)
                    ++added;
                m_target->copyMessageFiles(message);
            }
            use.lock();
            m_target->commitThrow();
            m_added = added;
        } catch (const Sqlite3Error& e) {
            if (!use.owns_lock())
                use.lock();
            m_target->endTransaction(false);
            m_added = 0;
            // SQLite's words name neither the file nor a way out.
            qWarning("Backing up messages failed: %s", e.what());
            throw AppError(chatDatabaseErrorText(m_target->databasePath(), e));
        } catch (...) {
            if (!use.owns_lock())
                use.lock();
            m_target->endTransaction(false);
            m_added = 0;
            throw;
        }
        // The messages are in: from here on the job finishes even when a
        // cancel arrives.
        m_target->renumberSort();
        m_missing = m_target->missingMediaCount() - missingBefore;
        const IOSWhatsAppDb::LidWriteResult lids = m_target->writeLidMappings();
        m_lidRowsAdded = lids.added;
        m_unwrittenLids = lids.unwritten;
        // A second backup of the same messages adds none: say so.
        QString done = text("IDS_SUC_BACKUP_%1_MESSAGES").arg(count) + QStringLiteral(" (%1 new)").arg(m_added);
        if (m_missing > 0)
            done += QStringLiteral(" %1 attachments were missing in the source and were not copied.").arg(m_missing);
        if (!lids.unwritten.isEmpty())
            done += QStringLiteral(" The mappings of %1 to phone numbers were not written to LID.sqlite: %2")
                        .arg(lids.unwritten.join(QStringLiteral(", ")), lids.error);
        return done;
    });
}
