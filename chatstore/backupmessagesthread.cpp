#include "chatstore/backupmessagesthread.h"

#include "base/apperror.h"
#include "chatstore/wamsgsdatasource.h"

#include <QCoreApplication>
#include <QFileInfo>

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
    m_missing = 0;
    runGuarded(monitor, [&] {
        monitor.postProgress(text("IDS_BACKING_UP_MESSAGES"), -1, QString());
        if (!m_target || !m_source)
            throw AppError(QStringLiteral("BackupMessagesThread: no target or no source."));
        if (readsTarget(m_source, *m_target))
            throw AppError(QStringLiteral("The messages cannot be backed up into the database they come from."));
        const qint64 count = m_source->count();
        m_count = count;
        m_target->beginTransaction();
        const qint64 writtenBefore = m_target->messagesWritten();
        const qint64 missingBefore = m_target->missingMediaCount();
        try {
            for (qint64 i = 0; i < count; ++i) {
                throwIfCancelled(monitor);
                if (isProgressUnit(i, count))
                    monitor.postProgress(QString(), int((i + 1) * 100 / count),
                                         QStringLiteral("Messages: %1 / %2").arg(i + 1).arg(count));
                const _Message message = m_source->at(i);
                if (m_target->findMessageByStanza(message) == 0 && m_target->mergeMessage(message, -2) == 0)
                    continue;
                m_target->copyMessageFiles(message);
            }
            m_target->commitThrow();
            m_added = m_target->messagesWritten() - writtenBefore;
        } catch (...) {
            m_target->endTransaction(false);
            m_added = 0;
            throw;
        }
        // The messages are in: from here on the job finishes even when a
        // cancel arrives.
        m_target->renumberSort();
        m_missing = m_target->missingMediaCount() - missingBefore;
        // A second backup of the same messages adds none: say so.
        QString done = text("IDS_SUC_BACKUP_%1_MESSAGES").arg(count) + QStringLiteral(" (%1 new)").arg(m_added);
        if (m_missing > 0)
            done += QStringLiteral(" %1 attachments were missing in the source and were not copied.").arg(m_missing);
        return done;
    });
}
