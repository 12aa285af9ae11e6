// A job made of one function: library calls that are quick to write down
// but long to run (a copy, a check, a manifest) get the monitor's progress,
// its cancel and its error report like every other job.
#pragma once

#include "base/job.h"

#include <QString>

#include <functional>

class FunctionJob : public Job {
public:
    // body returns the success text (empty: no box) and throws on failure.
    FunctionJob(QString title, std::function<QString(JobMonitor&)> body)
        : m_title(std::move(title)), m_body(std::move(body)) {}
    void run(JobMonitor& monitor) override;

private:
    QString m_title;
    std::function<QString(JobMonitor&)> m_body;
};
