#include "chatstore/deletelocaldbmessagesthread.h"

#include "base/apperror.h"
#include "chatstore/backupmessagesthread.h"

#include <QCoreApplication>

namespace {

QString text(const char* key) { return QCoreApplication::translate("DeleteLocalDbMessagesThread", key); }

}  // namespace

DeleteLocalDbMessagesThread::DeleteLocalDbMessagesThread(std::shared_ptr<IOSWhatsAppDb> db, PAbsWAMsgsSource source)
    : m_db(std::move(db)), m_source(std::move(source))
{
}

void DeleteLocalDbMessagesThread::run(JobMonitor& monitor)
{
    m_deleted = 0;
    m_removedFiles = 0;
    runGuarded(monitor, [&] {
        monitor.postProgress(text("IDS_DELETING_LOCAL_DB_MESSAGES"), 0, QString());
        if (!m_db || !m_source)
            throw AppError(QStringLiteral("DeleteLocalDbMessagesThread: no database or no source."));
        const qint64 count = m_source->count();
        // The messages are read before anything is deleted: a source that
        // pages through this very database would otherwise skip rows.
        QList<_Message> doomed;
        doomed.reserve(count);
        for (qint64 i = 0; i < count; ++i) {
            throwIfCancelled(monitor);
            doomed.append(m_source->at(i));
        }
        QStringList files;
        qint64 deleted = 0;
        // The window reads this database meanwhile: its reads and the job's
        // take turns, a message at a time.
        std::unique_lock<std::recursive_mutex> use(m_db->useMutex());
        m_db->beginTransaction();
        use.unlock();
        try {
            for (qint64 i = 0; i < count; ++i) {
                throwIfCancelled(monitor);
                if (isProgressUnit(i, count))
                    monitor.postProgress(QString(), int(double(i + 1) / double(count) * 100.0), QString());
                const _Message& m = doomed.at(i);
                const std::lock_guard<std::recursive_mutex> turn(m_db->useMutex());
                if (!m_db->deleteMessage(m))
                    continue;
                ++deleted;
                if (m.media)
                    files << m.media->ZMEDIALOCALPATH << m.media->ZTHUMBNAILLOCALPATH << m.media->ZXMPPTHUMBPATH;
            }
            use.lock();
            m_db->commitThrow();
        } catch (...) {
            if (!use.owns_lock())
                use.lock();
            m_db->endTransaction(false);
            throw;
        }
        m_deleted = deleted;
        // Past the commit: the files of the deleted messages that nothing
        // else uses go now; a failure here changes nothing in the database.
        try {
            m_removedFiles = m_db->removeUnreferencedMediaFiles(files);
        } catch (const std::exception& e) {
            qWarning("DeleteLocalDbMessagesThread: removing attachment files failed. %s", e.what());
        }
        return text("IDS_SUC_DELETE_%1_MESSAGES").arg(count);
    });
}
