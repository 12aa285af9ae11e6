#include "app/progressjob.h"

#include "app/jobthread.h"
#include "app/messagebox.h"
#include "app/progressform.h"
#include "app/progressformmonitor.h"
#include "base/job.h"

#include <exception>

bool runProgressJob(QWidget* parent, const QString& title, Job& job, const std::function<void()>& followUp,
                    const ProgressJobOptions& options)
{
    // Declared in this order, so the worker is destroyed before the dialog.
    ProgressForm form(title, parent);
    ProgressFormMonitor monitor(&form);
    JobThread worker(job, monitor);
    form.setCancelEnabled(options.cancelEnabled);
    worker.start(QThread::InheritPriority);
    const int result = form.exec();
    form.waitForWorker(&worker);
    const bool success = (result == 1 && !form.cancelled.load()) || form.succeededAfterCancel();
    if (!success)
        return false;
    if (followUp) {
        try {
            followUp();
        } catch (const std::exception& e) {
            errorBox(QString::fromUtf8(e.what()));
            return false;
        }
    }
    return true;
}
