// The PDF export: every chat of a message source printed as chat bubbles
// into PDF files of at most 100 A4 pages, "<chat>.pdf", "<chat>_2.pdf", ...,
// in a new folder. Messages without chat are neither written nor counted.
// A file appears under its name only when it is complete; a cancel or an
// error removes the folder the job made, and nothing else.
//
// The job paints with QPdfWriter, so it runs on any thread (behind the
// window's progress dialog, in the terminal, in tests), but needs a
// QGuiApplication for its fonts.
#pragma once

#include "base/job.h"
#include "chatstore/abswamsgssource.h"
#include "output/chatfilebasename.h"

#include <QObject>
#include <QString>
#include <QStringList>

class PrintWAMsgsExec;

class ExportMessagesPdf : public QObject, public Job {
    Q_OBJECT
public:
    static constexpr int kPagesPerFile = 100;

    // `outputFolder`: the folder to make (or the first free "<folder>(n)").
    ExportMessagesPdf(QString outputFolder, PAbsWAMsgsSource source, QObject* parent = nullptr);

    void run(JobMonitor& monitor) override;

    // The wabb folder the bubbles' tiles come from; the installed set
    // unless set.
    void setAssetFolder(const QString& folder) { m_assetFolder = folder; }

    qint64 exportedCount() const { return m_exported; }
    // The folder the export made.
    const QString& outputPath() const { return m_folder; }
    // The files written, in the order they were finished.
    const QStringList& files() const { return m_files; }

public slots:
    // A running file's progress: `printed` messages of this file so far.
    void exportThreadUpdateProgress(int printed, int total);

private:
    QString exportAll(JobMonitor& monitor);
    // Prints one chat into as many files as it needs; returns the number
    // of messages printed.
    qint64 exportChat(JobMonitor& monitor, const PChatSession& session, const PAbsWAMsgsSource& source);

    QString m_requested;
    PAbsWAMsgsSource m_source;
    QString m_assetFolder;
    QString m_folder;
    QStringList m_files;
    ChatPageNamer m_namer;
    JobMonitor* m_monitor = nullptr;
    PrintWAMsgsExec* m_running = nullptr;
    qint64 m_exported = 0;
    // Progress: all messages, those of chats done before, this chat's.
    qint64 m_total = 0;
    qint64 m_before = 0;
    qint64 m_chatTotal = 0;
    qint64 m_chatDone = 0;
    QString m_label;
    int m_lastValue = -1;
    qint64 m_lastReported = -1;
};
