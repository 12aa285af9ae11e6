#include "app/win32killprocessesthread.h"

#include "app/messagebox.h"
#include "platform/osservices.h"

Win32KillProcessesThread::Win32KillProcessesThread(QObject* parent) : QThread(parent) {}

Win32KillProcessesThread::~Win32KillProcessesThread()
{
    {
        QMutexLocker lock(&m_mutex);
        m_stop = true;
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
        // Sleep a second in small steps so that shutting down never waits
        // for a whole period.
        for (int i = 0; i < 10 && !stopRequested(); ++i)
            msleep(100);
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
