// The watcher that keeps named programs (iTunes) from running beside this
// one: once a second (the scan interval) it lists the processes, ends every one whose
// executable name is in its watch table and has the table's text shown in an
// information box on the main thread. It never touches a process whose name
// is not in the table.
#pragma once

#include <QHash>
#include <QMutex>
#include <QThread>
#include <QWaitCondition>

class Win32KillProcessesThread : public QThread {
    Q_OBJECT
public:
    explicit Win32KillProcessesThread(QObject* parent = nullptr);
    // Sets the stop flag and waits for the thread without a time limit.
    ~Win32KillProcessesThread() override;

    // Fill before start(); the table is only read once the thread runs.
    void addWatch(const QString& exeName, const QString& notification);
    // The pause between two scans; set before start().
    void setScanInterval(int ms) { m_intervalMs = ms; }

    // One pass over the process list; public so a caller can scan on demand.
    void scan();

public slots:
    // Shows the information box with `text` (main thread).
    void notify(const QString& text);

signals:
    // Emitted on the watcher's thread for every process it ended.
    void processKilled(qint64 pid, const QString& exeName);

protected:
    void run() override;

private:
    bool stopRequested();

    QMutex m_mutex;
    QWaitCondition m_wake;                  // ends the pause when the stop flag is set
    bool m_stop = false;                    // guarded by m_mutex
    int m_intervalMs = 1000;
    QHash<QString, QString> m_watchTable;  // lower-cased exe name -> text
};
