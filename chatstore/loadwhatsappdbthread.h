// The job that lists the chats of a database behind a progress display: it
// fills its own view's chat index and remembers a failure instead of
// reporting it, so that the caller decides what the user sees.
#pragma once

#include "base/job.h"
#include "chatstore/chatdbview.h"

class LoadWhatsAppDbThread : public Job {
public:
    explicit LoadWhatsAppDbThread(PAbsWhatsAppDb db);

    void run(JobMonitor& monitor) override;

    bool failed() const { return m_failed; }
    const QString& errorText() const { return m_error; }
    const PChatDbView& view() const { return m_view; }

    // What the caller goes on with after the job ended: the filled view on
    // success; a fresh, empty view over the same database when the user
    // cancelled; otherwise the failure is thrown as an AppError with its text.
    PChatDbView takeResult(bool userCancelled) const;

private:
    PChatDbView m_view;
    bool m_failed = false;
    QString m_error;
};
