// A long operation, written once against a JobMonitor so that it runs the
// same behind the progress dialog, in the terminal and in tests.
//
// run() follows one shape: a first progress report with the job's title,
// one report per unit of work with throwIfCancelled() before each unit, and
// at the end exactly one postSuccess() or postError(). Partial work is undone
// (transactions rolled back) before an error is posted or a cancel returns.
// A job that has passed its commit point finishes and reports success even
// when a cancel arrives afterwards.
#pragma once

#include "base/jobmonitor.h"

#include <QString>

class Job {
public:
    virtual ~Job();
    virtual void run(JobMonitor& monitor) = 0;

    // True when the job ended with success (set by runGuarded).
    bool succeeded() const { return m_succeeded; }
    // True when the job stopped because of a cancel.
    bool wasCancelled() const { return m_wasCancelled; }

    // The error text for something thrown that is not a std::exception.
    static QString unknownErrorText();

protected:
    // Runs body; turns JobCancelled into a silent stop and every
    // std::exception into postError with its UTF-8 message (anything else
    // thrown is reported as an unexpected error instead of ending the
    // program). body returns the success text (empty: no box).
    template <class F>
    void runGuarded(JobMonitor& monitor, F&& body)
    {
        QString text;
        try {
            text = body();
        } catch (const JobCancelled&) {
            m_wasCancelled = true;
            return;
        } catch (const std::exception& e) {
            monitor.postError(QString::fromUtf8(e.what()));
            return;
        } catch (...) {
            monitor.postError(unknownErrorText());
            return;
        }
        m_succeeded = true;
        monitor.postSuccess(text);
    }

private:
    bool m_succeeded = false;
    bool m_wasCancelled = false;
};
