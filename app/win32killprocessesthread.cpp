#include "app/win32killprocessesthread.h"

#include "app/messagebox.h"
#include "platform/osservices.h"

#include <QDeadlineTimer>

Win32KillProcessesThread::Win32KillProcessesThread(QObject* parent) : QThread(parent) {}

Win32KillProcessesThread::~Win32KillProcessesThread()
{
    {
        QMutexLocker lock(&m_mutex);
        m_stop = true;
        m_wake.wakeAll();
    }
    wait();
}

void Win32KillProcessesThread::addWatch(const QString& exeName, const QString& notification)
{
    m_watchTable.insert(exeName.toLower(), notification);
}

bool Win32KillProcessesThread::stopRequested()
{
    QMutexLocker lock(&m_mutex);
    return m_stop;
}

void Win32KillProcessesThread::run()
{
    if (m_watchTable.isEmpty())
        return;
    while (!stopRequested()) {
        scan();
        // The pause ends at once when the stop flag is set, so shutting
        // down never waits for the next scan.
        QMutexLocker lock(&m_mutex);
        if (!m_stop)
            m_wake.wait(&m_mutex, QDeadlineTimer(m_intervalMs));
    }
}

void Win32KillProcessesThread::scan()
{
    bool ok = false;
    const QList<platform::ProcessEntry> processes = platform::listProcesses(&ok);
    if (!ok)
        return;
    for (const platform::ProcessEntry& p : processes) {
        auto it = m_watchTable.constFind(p.exeName.toLower());
        if (it == m_watchTable.constEnd())
            continue;
        if (platform::killProcess(p.pid))
            emit processKilled(p.pid, p.exeName);
        QMetaObject::invokeMethod(this, "notify", Qt::QueuedConnection, Q_ARG(QString, *it));
    }
}

void Win32KillProcessesThread::notify(const QString& text)
{
    informationBox(text);
}
