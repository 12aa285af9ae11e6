// quillometry-cli backup SOURCE --to NAME [--chat JID]: merges the messages
// of a chat database (or of one chat) into the local database NAME, which is
// created when missing; an existing name is matched without regard to case.
#include "base/datafolder.h"
#include "chatstore/backupmessagesthread.h"
#include "chatstore/localdatabases.h"
#include "chatstore/wamsgsdatasource.h"
#include "cli/chatsource.h"
#include "cli/clicommand.h"
#include "cli/consolemonitor.h"
#include "cli/exitcodes.h"

#include <QFileInfo>
#include <QTextStream>

namespace {

int runBackup(const QStringList& args)
{
    QTextStream out(stdout);
    QTextStream err(stderr);
    QString source;
    QString name;
    QString jid;
    bool haveName = false;
    bool bad = false;
    for (int i = 0; i < args.size() && !bad; ++i) {
        const QString& a = args.at(i);
        if (a == QLatin1String("--to") && i + 1 < args.size() && !haveName) {
            name = args.at(++i);
            haveName = true;
        } else if (a == QLatin1String("--chat") && i + 1 < args.size() && jid.isEmpty()) {
            jid = args.at(++i);
        } else if (!a.startsWith(QLatin1String("--")) && source.isEmpty()) {
            source = a;
        } else {
            bad = true;
        }
    }
    if (bad || source.isEmpty() || !haveName) {
        err << "usage: quillometry-cli backup SOURCE --to NAME [--chat JID]\n";
        return exitcode::kUsage;
    }
    const int nameCode = checkLocalDbName(name);
    if (nameCode != exitcode::kSuccess)
        return nameCode;
    const QString base = localDatabasesFolder();
    const QString matched = matchLocalDatabaseName(name, localDatabaseNames(base));
    const QString targetFile = base + QLatin1Char('/') + (matched.isEmpty() ? name : matched) +
                               QStringLiteral("/ChatStorage.sqlite");

    // The target must not be the source itself.
    try {
        const QFileInfo sourceFile(openChatSource(source)->databasePath());
        const QFileInfo target(targetFile);
        if (sourceFile.exists() && target.exists() && sourceFile.canonicalFilePath() == target.canonicalFilePath()) {
            err << "error: the source is the local database \"" << (matched.isEmpty() ? name : matched)
                << "\" itself; choose another target.\n";
            return exitcode::kUsage;
        }
    } catch (const std::exception& e) {
        err << "error: " << QString::fromUtf8(e.what()) << "\n";
        return exitcode::kFailure;
    }

    int code = exitcode::kSuccess;
    PChatSession chat;
    const PChatDbView view = loadChatSource(source, jid, &chat, &code);
    if (!view)
        return code;

    LocalDatabase target;
    try {
        target = findOrCreateLocalDatabase(name, base);
    } catch (const std::exception& e) {
        err << "error: " << QString::fromUtf8(e.what()) << "\n";
        return exitcode::kFailure;
    }
    BackupMessagesThread job(target.db, std::make_shared<WAMsgsDataSource>(view, chat, true));
    code = ConsoleMonitor().runJob(job);
    if (code != exitcode::kSuccess) {
        // A database this command created goes again; an existing one keeps
        // everything it had (the job rolled its transaction back).
        if (target.created) {
            target.db->closeDb();
            removeLocalDatabase(target.name, base);
        }
        return code;
    }
    out << "local database \"" << target.name << "\": " << job.sourceCount() << " messages backed up, "
        << job.addedCount() << " new\n";
    return exitcode::kSuccess;
}

const CliRegistrar reg({QStringLiteral("backup"), QStringLiteral("backup SOURCE --to NAME [--chat JID]"),
                        QStringLiteral("merge the messages of a chat database (or of one chat) into the local "
                                       "database NAME, created when missing"),
                        runBackup});

}  // namespace
