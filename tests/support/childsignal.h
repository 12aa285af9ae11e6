// Signals to a child process a test started. QProcess::processId() is 0
// once the child has ended, and kill(0, sig) signals the whole process
// group, the test runner included. So the pid is taken when the child
// starts, and a signal goes only to a child that still runs.
#pragma once

#include <QMetaObject>
#include <QObject>
#include <QProcess>

#include <csignal>
#include <sys/types.h>

class ChildSignal {
public:
    explicit ChildSignal(QProcess& process) : m_process(process)
    {
        m_connection = QObject::connect(&process, &QProcess::started, [this] { remember(); });
    }
    ~ChildSignal() { QObject::disconnect(m_connection); }
    ChildSignal(const ChildSignal&) = delete;
    ChildSignal& operator=(const ChildSignal&) = delete;

    // Sends sig to the running child; false, with nothing sent, when the
    // child does not run (or never did).
    bool send(int sig)
    {
        if (m_process.state() != QProcess::Running)
            return false;
        remember();
        return m_pid > 0 && ::kill(m_pid, sig) == 0;
    }

private:
    void remember()
    {
        if (m_pid <= 0)
            m_pid = static_cast<pid_t>(m_process.processId());
    }

    QProcess& m_process;
    QMetaObject::Connection m_connection;
    pid_t m_pid = 0;
};
