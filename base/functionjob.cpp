#include "base/functionjob.h"

void FunctionJob::run(JobMonitor& monitor)
{
    monitor.postProgress(m_title, 0, QString());
    runGuarded(monitor, [&] { return m_body(monitor); });
}
