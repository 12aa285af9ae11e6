// The job that deletes messages from a local database: the rows go in one
// transaction (with their media items, receipts and the parent links to
// them, the ZSORT gaps closed), and only after the commit their attachment
// files are removed, each only when no remaining message refers to it.
#pragma once

#include "base/job.h"
#include "chatstore/abswamsgssource.h"
#include "chatstore/ioswhatsappdb.h"

#include <memory>

class DeleteLocalDbMessagesThread : public Job {
public:
    DeleteLocalDbMessagesThread(std::shared_ptr<IOSWhatsAppDb> db, PAbsWAMsgsSource source);

    void run(JobMonitor& monitor) override;

    qint64 deletedCount() const { return m_deleted; }
    qint64 removedFiles() const { return m_removedFiles; }

private:
    std::shared_ptr<IOSWhatsAppDb> m_db;
    PAbsWAMsgsSource m_source;
    qint64 m_deleted = 0;
    qint64 m_removedFiles = 0;
};
