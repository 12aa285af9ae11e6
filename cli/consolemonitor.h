// The command line's monitor: a one-line progress bar on standard error when
// it is a terminal, plain progress lines otherwise. The first Ctrl-C asks
// the job to cancel; a second one ends the process at once. A monitor serves
// one job: a command that runs several stages makes one monitor per stage
// (and stops when a stage did not end with success).
#pragma once

#include "base/job.h"
#include "base/jobmonitor.h"

#include <QString>

#include <cstdio>
#include <mutex>

class ConsoleMonitor : public JobMonitor {
public:
    explicit ConsoleMonitor(FILE* stream = stderr);
    ~ConsoleMonitor() override;

    void postProgress(const QString& status, int value, const QString& text) override;
    void postError(const QString& message) override;
    void postSuccess(const QString& message) override;

    // Runs the job on a worker thread while this thread watches for Ctrl-C,
    // then prints the outcome. Returns the exit code: success (also when a
    // cancel came after the job's commit point), failure (with the error
    // text on the stream), or cancelled. The outcome is what the job
    // posted: its first success or error; a job that posted neither was
    // cancelled when a cancel had been asked for, and failed otherwise.
    int runJob(Job& job);

    // From this call on, a Ctrl-C no longer ends the process but is kept for
    // the next job boundary (the first job then does not start, or stops).
    // A command calls it before work it does outside a job, such as reading
    // a backup's manifest, so that an interrupt there still ends it with
    // the cancelled exit code. runJob() calls it too.
    static void keepInterrupts();

    QString lastError() const;
    QString successText() const;

    // Whether the bar form is used (the stream is a terminal); tests force it.
    bool isTerminal() const { return m_tty; }
    void setTerminal(bool tty) { m_tty = tty; }

private:
    enum class Outcome { None, Success, Error };

    void render();
    void closeLine();
    void writeLine(const QString& line);

    FILE* m_stream;
    bool m_tty;
    mutable std::mutex m_mutex;
    QString m_status;
    QString m_text;
    int m_value = 0;
    int m_lastPrintedValue = -1;
    QString m_lastPrintedStatus;
    QString m_lastBarLine;
    Outcome m_outcome = Outcome::None;
    QString m_error;
    QString m_success;
    bool m_lineOpen = false;
};
