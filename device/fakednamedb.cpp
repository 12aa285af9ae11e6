#include "device/fakednamedb.h"

#include <QFileInfo>

namespace {

constexpr quint64 kCommitEvery = 10000;

QDateTime fromSeconds(qint64 seconds) { return QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC); }

}  // namespace

FakeDNameDb::~FakeDNameDb() { closeDb(); }

void FakeDNameDb::closeDb()
{
    if (!isOpen())
        return;
    if (inTransaction())
        exec(QStringLiteral("COMMIT"));
    close();
}

bool FakeDNameDb::openDb(const QString& path, QString& error)
{
    if (isOpen())
        return true;
    error.clear();
    const bool existed = QFileInfo::exists(path);
    try {
        openThrow(path, existed ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
        if (!existed) {
            executeThrow("create table dname(f VARCHAR PRIMARY KEY, p VARCHAR, d VARCHAR, size INTEGER, "
                         "lastm INTEGER, incl INTEGER)");
            executeThrow("create index idx_dname on dname(p)");
        }
        beginTran();
    } catch (const std::exception& e) {
        error = QString::fromUtf8(e.what());
        close();
        return false;
    }
    m_added = 0;
    return true;
}

QString FakeDNameDb::subFolderOf(const QString& f) { return f.size() >= 32 ? f.left(2) : QString(); }

QString FakeDNameDb::findDevicePath(const QString& f)
{
    if (!isOpen())
        return QString();
    try {
        Sqlite3Cursor c = queryThrow(Sqlite3Sql("select d from dname where f=?").addTextParam(f));
        return c.moveNext() ? c.getText(QStringLiteral("d")) : QString();
    } catch (const std::exception&) {
        return QString();
    }
}

void FakeDNameDb::addFile(const QString& f, const QString& devicePath, bool kept, qint64 time)
{
    if (!isOpen())
        return;
    try {
        executeThrow(Sqlite3Sql("replace into dname(f,p,d,size,lastm,incl) values(?,?,?,?,?,?)")
                         .addTextParam(f)
                         .addTextParam(subFolderOf(f))
                         .addTextParam(devicePath)
                         .addInt64Param(0)
                         .addInt64Param(time)
                         .addIntParam(kept ? 1 : 0));
    } catch (const std::exception&) {
    }
    if (++m_added % kCommitEvery == 0)
        commitAndBegin();
}

void FakeDNameDb::commitAndBegin()
{
    try {
        if (inTransaction())
            commitTran();
        beginTran();
    } catch (const std::exception&) {
    }
}

void FakeDNameDb::setFileSizeTime(const QString& f, qint64 time, qint64 size)
{
    if (!isOpen())
        return;
    try {
        executeThrow(Sqlite3Sql("update dname set size=?, lastm=? where f=?")
                         .addInt64Param(size)
                         .addInt64Param(time)
                         .addTextParam(f));
    } catch (const std::exception&) {
    }
}

void FakeDNameDb::removeFile(const QString& f)
{
    if (!isOpen())
        return;
    try {
        executeThrow(Sqlite3Sql("delete from dname where f=?").addTextParam(f));
    } catch (const std::exception&) {
    }
}

QList<DLFileEntry> FakeDNameDb::listEntries(const QString& p)
{
    QList<DLFileEntry> entries;
    if (!isOpen())
        return entries;
    try {
        if (p.isEmpty()) {
            Sqlite3Cursor c = queryThrow("select p, max(lastm) as lastm from dname group by p");
            while (c.moveNext()) {
                const QString sub = c.getText(QStringLiteral("p"));
                if (sub.isEmpty())
                    continue;
                DLFileEntry e;
                e.name = sub;
                e.type = 2;
                e.size = 0;
                e.modified = fromSeconds(c.getInt64(QStringLiteral("lastm")));
                entries.append(e);
            }
        }
        Sqlite3Cursor c = queryThrow(Sqlite3Sql("select * from dname where p=?").addTextParam(p));
        while (c.moveNext()) {
            DLFileEntry e;
            e.name = c.getText(QStringLiteral("f"));
            e.type = 1;
            e.size = static_cast<quint64>(qMax<qint64>(0, c.getInt64(QStringLiteral("size"))));
            e.modified = fromSeconds(c.getInt64(QStringLiteral("lastm")));
            entries.append(e);
        }
    } catch (const std::exception&) {
    }
    return entries;
}
