// The export job: writes a message source as text (format 0; RTF when the
// path ends in ".doc"), CSV (1) or nothing (2). Formats 3 and 4 are the HTML
// export. Messages without chat are neither written nor counted. A cancel or
// an error leaves no output behind: the file is only written under a
// temporary name, and a folder the job created is removed again.
#pragma once

#include "base/job.h"
#include "chatstore/abswamsgssource.h"

#include <QString>

class ExportMessagesThread : public Job {
public:
    enum Format { kText = 0, kCsv = 1, kNone = 2, kHtml = 3, kHtmlAlso = 4 };

    ExportMessagesThread(PAbsWAMsgsSource source, QString outputPath, int format);

    void run(JobMonitor& monitor) override;

    qint64 exportedCount() const { return m_exported; }

private:
    QString exportMessages(JobMonitor& monitor);

    PAbsWAMsgsSource m_source;
    QString m_outputPath;
    int m_format;
    qint64 m_exported = 0;
};
