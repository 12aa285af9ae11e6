// The job that backs messages up into a local database (or merges them into
// any chat database): every message of the source is written once, files
// are copied even for messages the target already has, and the target's
// order and counters are repaired afterwards. All writes of the job are one
// transaction: a cancel or an error before the commit leaves the target's
// messages as they were (files already copied stay).
#pragma once

#include "base/job.h"
#include "chatstore/abswamsgssource.h"
#include "chatstore/ioswhatsappdb.h"

#include <memory>

class BackupMessagesThread : public Job {
public:
    BackupMessagesThread(std::shared_ptr<IOSWhatsAppDb> target, PAbsWAMsgsSource source);

    void run(JobMonitor& monitor) override;

    // Message rows written by the last run (those the target lacked,
    // parents merged on the way included); 0 unless it committed.
    qint64 addedCount() const { return m_added; }
    // Attachments the source did not have (or could not be read), skipped.
    qint64 missingMediaCount() const { return m_missing; }
    // Messages the source held.
    qint64 sourceCount() const { return m_count; }

private:
    std::shared_ptr<IOSWhatsAppDb> m_target;
    PAbsWAMsgsSource m_source;
    qint64 m_added = 0;
    qint64 m_missing = 0;
    qint64 m_count = 0;
};

// Progress of a loop over `count` units is posted for unit `index` when it
// is one of about a thousand evenly spread ones (and always for the first
// and the last), so that long jobs do not flood the display.
bool isProgressUnit(qint64 index, qint64 count);
