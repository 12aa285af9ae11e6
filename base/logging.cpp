#include "base/logging.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QMutex>
#include <QTime>

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace {

QMutex& logMutex()
{
    static QMutex mutex;
    return mutex;
}

QString& logFolder()
{
    static QString folder;
    return folder;
}

std::atomic<LogEcho>& logEcho()
{
    static std::atomic<LogEcho> echo{LogEcho::DebugToStdout};
    return echo;
}

}  // namespace

void setLogEcho(LogEcho echo) { logEcho().store(echo); }

QString logLine(QtMsgType type, const QString& time, const QString& message)
{
    const char* tag = nullptr;
    switch (type) {
    case QtDebugMsg: tag = "D "; break;
    case QtWarningMsg: tag = "W "; break;
    case QtCriticalMsg: tag = "C "; break;
    case QtFatalMsg: tag = "F "; break;
    default: break;
    }
    return QStringLiteral("(%1%2) %3\n").arg(QLatin1String(tag ? tag : ""), time, message);
}

void pruneLogFolder(const QString& folder, int keep)
{
    QDir dir(folder);
    if (!dir.exists())
        return;
    const QStringList files = dir.entryList(QDir::Files | QDir::Hidden, QDir::Name);
    for (qsizetype i = 0; i < files.size() - keep; ++i)
        dir.remove(files.at(i));
}

void installLogging(const QString& folder, int keep)
{
    {
        QMutexLocker lock(&logMutex());
        logFolder() = folder;
    }
    pruneLogFolder(folder, keep);
    qInstallMessageHandler(logMessageHandler);
}

void logMessageHandler(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    // A message raised while this thread is already writing one (by the file
    // code itself) must not take the lock again.
    static thread_local bool busy = false;
    if (busy) {
        std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
        if (type == QtFatalMsg)
            std::abort();
        return;
    }
    busy = true;
    // Appends from several threads are serialised so lines never interleave.
    QMutexLocker lock(&logMutex());
    const LogEcho echo = logEcho().load();
    if ((type == QtDebugMsg && echo == LogEcho::DebugToStdout) || echo == LogEcho::AllToStderr) {
        FILE* stream = echo == LogEcho::AllToStderr ? stderr : stdout;
        const QByteArray raw = message.toLocal8Bit();
        std::fwrite(raw.constData(), 1, size_t(raw.size()), stream);
        std::fputc('\n', stream);
        std::fflush(stream);
    }
    const QString folder = logFolder();
    if (!folder.isEmpty()) {
        QDir().mkpath(folder);
        const QString name = QStringLiteral("log-%1.txt").arg(QDate::currentDate().toString(QStringLiteral("yyyyMMdd")));
        QFile file(QDir(folder).filePath(name));
        if (file.open(QIODevice::WriteOnly | QIODevice::Append)) {
            file.write(logLine(type, QTime::currentTime().toString(QStringLiteral("hh:mm:ss")), message).toUtf8());
            file.flush();
            file.close();
        }
    }
    busy = false;
    if (type == QtFatalMsg)
        std::abort();
}
