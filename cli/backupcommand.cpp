// quillometry-cli backup SOURCE --to NAME [--chat JID]: merges the messages
// of a chat database (or of one chat) into the local database NAME, which is
// created when missing; an existing name is matched without regard to case.
#include "base/apperror.h"
#include "base/datafolder.h"
#include "chatstore/backupmessagesthread.h"
#include "chatstore/localdatabases.h"
#include "chatstore/wamsgsdatasource.h"
#include "cli/chatsource.h"
#include "cli/clicommand.h"
#include "cli/clioutput.h"
#include "cli/consolemonitor.h"
#include "cli/exitcodes.h"

#include <QFileInfo>

namespace {

int run(const CliArgs& args)
{
    const QString name = args.value(QStringLiteral("to"));
    const int nameCode = checkLocalDbName(name);
    if (nameCode != exitcode::kSuccess)
        return nameCode;
    const QString base = localDatabasesFolder();
    const QString matched = matchLocalDatabaseName(name, localDatabaseNames(base));
    const QString targetFile = base + QLatin1Char('/') + (matched.isEmpty() ? name : matched) +
                               QStringLiteral("/ChatStorage.sqlite");

    ChatSource source;
    if (!openChatSource(args.arg(0), &source))
        return exitcode::kFailure;
    // The target must not be the source itself.
    const QFileInfo sourceFile(source.db->databasePath());
    const QFileInfo target(targetFile);
    if (sourceFile.exists() && target.exists() && sourceFile.canonicalFilePath() == target.canonicalFilePath()) {
        cliError(QStringLiteral("the source is the local database \"%1\" itself; choose another target.")
                     .arg(matched.isEmpty() ? name : matched));
        return exitcode::kUsage;
    }

    int code = exitcode::kSuccess;
    PChatSession chat;
    const PChatDbView view = loadChatSource(source, args.value(QStringLiteral("chat")), &chat, &code);
    if (!view)
        return code;

    LocalDatabase local;
    try {
        local = findOrCreateLocalDatabase(name, base);
    } catch (const std::exception& e) {
        cliError(errorText(e));
        return exitcode::kFailure;
    }
    // A target that cannot be opened is named before any work starts.
    try {
        local.db->ensureOpen();
    } catch (const std::exception& e) {
        cliError(chatDatabaseErrorText(local.db->databasePath(), e));
        // Only what this command made goes again.
        discardCreatedLocalDatabase(local, base);
        return exitcode::kFailure;
    }
    BackupMessagesThread job(local.db, std::make_shared<WAMsgsDataSource>(view, chat, true));
    code = ConsoleMonitor().runJob(job);
    if (code != exitcode::kSuccess) {
        // A database this command created goes again; an existing one keeps
        // everything it had (the job rolled its transaction back).
        discardCreatedLocalDatabase(local, base);
        return code;
    }
    cliOut(QStringLiteral("local database \"%1\": %2 messages backed up, %3 new\n")
               .arg(local.name)
               .arg(job.sourceCount())
               .arg(job.addedCount()));
    return exitcode::kSuccess;
}

const CliRegistrar reg({
    .name = QStringLiteral("backup"),
    .summary = QStringLiteral("merge the messages of a chat database (or of one chat) into the local database "
                              "NAME, created when missing; messages it holds already are not added again"),
    .arguments = {chatSourceArgument(QStringLiteral("the chat database to copy from"))},
    .options = {{QStringLiteral("to"), QStringLiteral("NAME"),
                 QStringLiteral("the local database to merge into (an existing one is matched without regard to "
                                "case)"),
                 true},
                {QStringLiteral("chat"), QStringLiteral("JID"), QStringLiteral("only the messages of this chat")}},
    .examples = {QStringLiteral("backup ~/phone-copy --to Anna_Backup"),
                 QStringLiteral("backup virtual:\"Anna's iPhone\" --to Anna_Backup --chat 4915550001@s.whatsapp.net")},
    .json = false,
    .run = run,
});

}  // namespace
