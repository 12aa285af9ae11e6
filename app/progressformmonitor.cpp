#include "app/progressformmonitor.h"

#include "app/progressform.h"

ProgressFormMonitor::ProgressFormMonitor(ProgressForm* form) : m_form(form)
{
    m_onUserCancel = QObject::connect(form, &ProgressForm::userCancel, form, [this] { requestCancel(); });
    m_onFinished = QObject::connect(form, &QDialog::finished, form, [this](int result) {
        if (result == 0)
            requestCancel();
    });
    if (form->cancelled.load())
        requestCancel();
}

ProgressFormMonitor::~ProgressFormMonitor()
{
    QObject::disconnect(m_onUserCancel);
    QObject::disconnect(m_onFinished);
}

void ProgressFormMonitor::postProgress(const QString& status, int value, const QString& text)
{
    ::postProgress(m_form, status, value, text);
}

void ProgressFormMonitor::postError(const QString& message)
{
    ::postError(m_form, message);
}

void ProgressFormMonitor::postSuccess(const QString& message)
{
    ::postSuccess(m_form, message);
}
