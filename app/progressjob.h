// Runs one job behind a modal progress dialog, in the fixed order every
// window command follows: create the dialog, start the worker, run the
// dialog, wait for the worker, and only on success run the follow-up.
#pragma once

#include <QString>

#include <functional>

class Job;
class QWidget;

struct ProgressJobOptions {
    // False for a job that must not be interrupted: the dialog then ends
    // only by the job's own report.
    bool cancelEnabled = true;
};

// Returns true when the job succeeded (also when it had passed its commit
// point when the user cancelled) and the follow-up, if any, ran without
// throwing. An exception the follow-up throws is shown in the error box.
bool runProgressJob(QWidget* parent, const QString& title, Job& job, const std::function<void()>& followUp = {},
                    const ProgressJobOptions& options = {});
