// The export job: writes a message source as text (format 0; RTF when the
// path ends in ".doc"), CSV (1), nothing (2) or HTML (3, and 4 the same).
// Messages without chat are neither written nor counted. A cancel or an
// error leaves no output behind: files are only written under a temporary
// name, and a folder the job created is removed again.
//
// HTML goes into a new folder: the given path, or the first free
// "<path>(n)" when something is there already, so that nothing existing is
// ever written into or removed. It is written chat by chat, one file open at
// a time, with the bubble style set and the attachments in its "files"
// folder.
#pragma once

#include "base/job.h"
#include "chatstore/abswamsgssource.h"

#include <QString>

class ExportMessagesThread : public Job {
public:
    enum Format { kText = 0, kCsv = 1, kNone = 2, kHtml = 3, kHtmlAlso = 4 };

    ExportMessagesThread(PAbsWAMsgsSource source, QString outputPath, int format);

    void run(JobMonitor& monitor) override;

    // The folder the HTML pages' style set is copied from; the installed
    // set (product::wabbFolder()) unless set.
    void setAssetFolder(const QString& folder) { m_assetFolder = folder; }

    qint64 exportedCount() const { return m_exported; }
    // Where the output went: the file, or the folder the HTML export made.
    const QString& outputPath() const { return m_outputPath; }

private:
    QString exportMessages(JobMonitor& monitor);
    qint64 exportHtml(JobMonitor& monitor, qint64 count);
    void reportMessage(JobMonitor& monitor, qint64 n, qint64 index, qint64 count);

    PAbsWAMsgsSource m_source;
    QString m_outputPath;
    int m_format;
    QString m_assetFolder;
    qint64 m_exported = 0;
    int m_lastValue = -1;
};
