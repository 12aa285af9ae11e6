// Lets a job written against JobMonitor report to a ProgressForm. Reports
// are posted to the dialog by name, so the job may call them from its worker
// thread. The dialog's cancel reaches the job through requestCancel(), so
// the job's cancel listeners fire: when the user confirms cancelling, and
// when the dialog ends after an error (the worker is asked to stop and roll
// back). cancelled() therefore is true exactly when the dialog's cancelled
// flag is, or earlier (from the confirmation on).
#pragma once

#include "base/jobmonitor.h"

#include <QMetaObject>
#include <QPointer>

class ProgressForm;

class ProgressFormMonitor : public JobMonitor {
public:
    // The dialog must outlive the job's run (the caller waits for the
    // worker before destroying either).
    explicit ProgressFormMonitor(ProgressForm* form);
    ~ProgressFormMonitor() override;

    ProgressFormMonitor(const ProgressFormMonitor&) = delete;
    ProgressFormMonitor& operator=(const ProgressFormMonitor&) = delete;

    void postProgress(const QString& status, int value, const QString& text) override;
    void postError(const QString& message) override;
    void postSuccess(const QString& message) override;

    ProgressForm* form() const { return m_form; }

private:
    ProgressForm* m_form;
    QMetaObject::Connection m_onUserCancel;
    QMetaObject::Connection m_onFinished;
};
