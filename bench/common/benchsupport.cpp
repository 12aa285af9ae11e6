#include "bench/common/benchsupport.h"

#include <QProcess>

#include <cstdio>

bool parseBenchOptions(const QStringList& args, const char* name, BenchOptions* options)
{
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--layout") && i + 1 < args.size())
            options->layout = args[++i] == QLatin1String("modern") ? ChatDbLayout::Modern : ChatDbLayout::Local;
        else
            options->messages = args[i].toLongLong();
    }
    if (options->messages <= 0) {
        std::fprintf(stderr, "usage: %s [MESSAGES] [--layout local|modern]\n", name);
        return false;
    }
    return true;
}

const char* layoutName(ChatDbLayout layout) { return layout == ChatDbLayout::Modern ? "modern" : "local"; }

ChatDbFolder writeBenchDatabase(const QString& folder, ChatDbLayout layout, qint64 messages)
{
    ChatDbBuilder b(folder, layout);
    const qint64 anna = b.addChat(QStringLiteral("4915550001@s.whatsapp.net"), QStringLiteral("Anna"));
    const qint64 ben = b.addChat(QStringLiteral("4915550002@s.whatsapp.net"), QStringLiteral("Ben"));
    const qint64 group = b.addGroup(QStringLiteral("4915550001-1500000000@g.us"), QStringLiteral("Family"));
    b.addMember(group, QStringLiteral("4915550001@s.whatsapp.net"), QStringLiteral("Anna"));
    b.addMember(group, QStringLiteral("4915550003@s.whatsapp.net"), QStringLiteral("Carl"));
    b.addBulkMessages(messages, {anna, ben, group});
    b.commit();
    return b.folder();
}

double ms(const QElapsedTimer& t) { return double(t.nsecsElapsed()) / 1e6; }

double runShell(const QString& shell, const QString& database, const QString& script)
{
    QProcess p;
    p.setProgram(shell);
    p.setArguments({QStringLiteral("-batch"), database});
    p.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer t;
    t.start();
    p.start();
    if (!p.waitForStarted())
        return -1;
    p.write(script.toUtf8());
    p.closeWriteChannel();
    if (!p.waitForFinished(600000) || p.exitCode() != 0) {
        std::fprintf(stderr, "sqlite3: %s\n", p.readAllStandardError().constData());
        return -1;
    }
    return ms(t);
}
