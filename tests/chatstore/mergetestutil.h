// Helpers of the merge-writer and local-database tests: opening fixture
// folders as sources and targets, running a job synchronously, and reading
// values straight from a database file.
#pragma once

#include "base/recordingmonitor.h"
#include "chatstore/chatdbview.h"
#include "chatstore/ioswhatsappdb.h"
#include "chatstore/wamsgsdatasource.h"
#include "tools/fixturebuilder/chatdbbuilder.h"

#include <QFile>
#include <QVariant>

#include <functional>
#include <memory>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace mergetest {

struct Source {
    std::shared_ptr<IOSWhatsAppDb> db;
    PChatDbView view;
    PAbsWAMsgsSource all;
};

inline Source openSource(const ChatDbFolder& f, bool upgrade = false)
{
    Source s;
    s.db = std::make_shared<IOSWhatsAppDb>(f.databasePath, f.contactsPath, f.mediaFolder, f.profileFolder, upgrade,
                                           false);
    s.view = std::make_shared<ChatDbView>(s.db);
    s.db->listSessions(s.view->index());
    s.all = std::make_shared<WAMsgsDataSource>(s.view, nullptr, true);
    return s;
}

inline std::shared_ptr<IOSWhatsAppDb> openTarget(const ChatDbFolder& f)
{
    return std::make_shared<IOSWhatsAppDb>(f.databasePath, QString(), f.mediaFolder, f.profileFolder, false, false);
}

// Every message a source gives, in order.
inline QList<_Message> readAll(AbsWAMsgsSource& source)
{
    QList<_Message> all;
    const qint64 n = source.count();
    for (qint64 i = 0; i < n; ++i)
        all << source.at(i);
    return all;
}

// A second connection to a database file, for checks.
class Probe {
public:
    explicit Probe(const QString& path) { m_db.openThrow(path, SQLITE_OPEN_READWRITE); }
    QVariant value(const QString& sql)
    {
        Sqlite3Cursor c = m_db.queryThrow(Sqlite3Sql(sql));
        return c.moveNext() ? c.value(0) : QVariant();
    }
    qint64 integer(const QString& sql) { return value(sql).toLongLong(); }
    QList<QVariantList> rows(const QString& sql)
    {
        QList<QVariantList> out;
        Sqlite3Cursor c = m_db.queryThrow(Sqlite3Sql(sql));
        const int n = c.columnNames().size();
        while (c.moveNext()) {
            QVariantList row;
            for (int i = 0; i < n; ++i)
                row << c.value(i);
            out << row;
        }
        return out;
    }
    QList<qint64> column(const QString& sql)
    {
        QList<qint64> out;
        for (const QVariantList& r : rows(sql))
            out << r.value(0).toLongLong();
        return out;
    }
    Sqlite3DB& db() { return m_db; }

private:
    Sqlite3DB m_db;
};

inline QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Runs `work` in a child process whose monitor tells the parent after
// `reports` progress reports; the parent then kills the child with SIGKILL,
// as a user's kill -9 would. True when the child died of that signal.
inline bool killWhileRunning(int reports, const std::function<void(RecordingMonitor&)>& work)
{
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return false;
    const pid_t child = fork();
    if (child < 0)
        return false;
    if (child == 0) {
        close(pipeFds[0]);
        class SignallingMonitor : public RecordingMonitor {
        public:
            int fd = -1;
            int left = 0;
            void postProgress(const QString&, int, const QString&) override
            {
                if (--left == 0) {
                    const char c = 'x';
                    (void)!write(fd, &c, 1);
                }
            }
        } monitor;
        monitor.fd = pipeFds[1];
        monitor.left = reports;
        work(monitor);
        _exit(monitor.succeeded() ? 0 : 1);
    }
    close(pipeFds[1]);
    char c = 0;
    const bool signalled = read(pipeFds[0], &c, 1) == 1;
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    close(pipeFds[0]);
    return signalled && WIFSIGNALED(status);
}

}  // namespace mergetest
