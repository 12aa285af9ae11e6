// The attachment extraction job: copies the attachment of every message of
// a source that has one into a folder, one file per message, with the file
// times set to the message's date. Contact cards become a ".vcf" file (and
// their photo a ".jpg"), locations give their map thumbnail. Each file is
// copied under a temporary name and renamed when complete, under a name
// that nothing uses yet. A missing attachment is skipped; a file that
// cannot be written fails the job. A cancel keeps what was copied.
#pragma once

#include "base/job.h"
#include "chatstore/abswamsgssource.h"

#include <QDateTime>
#include <QString>

class ExtractMediaFilesThread : public Job {
public:
    ExtractMediaFilesThread(PAbsWAMsgsSource source, QString outputFolder);

    void run(JobMonitor& monitor) override;

    // The folder an extraction into `chosenFolder` at `now` writes to:
    // "<chosenFolder>/attachments(yyyyMMdd-hhmmss)".
    static QString outputFolderIn(const QString& chosenFolder, const QDateTime& now);

    // The Unix time the extracted file of a message gets: its Core Data date
    // in whole seconds plus 978307200; false for a date outside the 32-bit
    // range (or not a number), where the file keeps the time of its copy.
    static bool fileTimeOf(double coreDataDate, qint64* unixSeconds);

    qint64 extractedCount() const { return m_extracted; }
    const QString& outputFolder() const { return m_outputFolder; }

private:
    QString extract(JobMonitor& monitor);
    // Copies `source` into the folder; the path written, or empty when the
    // source is missing.
    QString copyIn(const QString& source);
    QString cardIn(const _Message& message);

    PAbsWAMsgsSource m_source;
    QString m_outputFolder;
    qint64 m_extracted = 0;
};
