#include "chatstore/loadwhatsappdbthread.h"

#include "base/apperror.h"

#include <QCoreApplication>

LoadWhatsAppDbThread::LoadWhatsAppDbThread(PAbsWhatsAppDb db)
    : m_view(std::make_shared<ChatDbView>(std::move(db), ChatDbView::kDefaultPageSize))
{
}

void LoadWhatsAppDbThread::run(JobMonitor& monitor)
{
    monitor.postProgress(QCoreApplication::translate("LoadWhatsAppDbThread", "Loading..."), 99, QString());
    try {
        m_view->database()->listSessions(m_view->index());
    } catch (const std::exception& e) {
        m_failed = true;
        m_error = QString::fromUtf8(e.what());
    }
    // The outcome is read from the job by the caller; no box on either road.
    // A cancel during the listing ends the job as cancelled, not as a
    // success that the next step would build on.
    runGuarded(monitor, [&monitor] {
        throwIfCancelled(monitor);
        return QString();
    });
}

PChatDbView LoadWhatsAppDbThread::takeResult(bool userCancelled) const
{
    if (userCancelled)
        return std::make_shared<ChatDbView>(m_view->database(), ChatDbView::kDefaultPageSize);
    if (m_failed)
        throw AppError(m_error);
    return m_view;
}
