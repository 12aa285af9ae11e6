// quillometry-cli merge SOURCE --into FOLDER [--chat JID]: merges the
// messages of a chat database (or of one chat) into the chat database of a
// folder laid out as a phone keeps it. The folder's ChatStorage.sqlite must
// exist; it is opened as a device copy is (never created, its schema never
// upgraded), and merged with the job `backup` runs.
#include "base/apperror.h"
#include "chatstore/backupmessagesthread.h"
#include "chatstore/wamsgsdatasource.h"
#include "cli/chatsource.h"
#include "cli/clicommand.h"
#include "cli/clioutput.h"
#include "cli/consolemonitor.h"
#include "cli/exitcodes.h"

#include <QDir>
#include <QFileInfo>

namespace {

int run(const CliArgs& args)
{
    ChatFolderDatabase target;
    try {
        target = findChatFolderDatabase(args.value(QStringLiteral("into")));
    } catch (const std::exception& e) {
        cliError(errorText(e));
        return exitcode::kFailure;
    }

    ChatSource source;
    if (!openChatSource(args.arg(0), &source))
        return exitcode::kFailure;
    const QFileInfo sourceFile(source.db->databasePath());
    const QFileInfo targetFile(target.database);
    if (sourceFile.exists() && sourceFile.canonicalFilePath() == targetFile.canonicalFilePath()) {
        cliError(QStringLiteral("the source is the chat database of %1 itself; choose another folder.")
                     .arg(QDir::toNativeSeparators(target.root)));
        return exitcode::kUsage;
    }

    int code = exitcode::kSuccess;
    PChatSession chat;
    const PChatDbView view = loadChatSource(source, args.value(QStringLiteral("chat")), &chat, &code);
    if (!view)
        return code;

    const std::shared_ptr<IOSWhatsAppDb> db = openChatAppFolder(target.app, target.database, false);
    // A target that cannot be opened is named before any work starts.
    try {
        db->ensureOpen();
    } catch (const std::exception& e) {
        cliError(chatDatabaseErrorText(target.database, e));
        return exitcode::kFailure;
    }
    BackupMessagesThread job(db, std::make_shared<WAMsgsDataSource>(view, chat, true));
    code = ConsoleMonitor().runJob(job);
    db->closeDb();
    if (code != exitcode::kSuccess)
        return code;
    cliOut(QStringLiteral("%1: %2 messages merged (%3 new), %4 LID rows added\n")
               .arg(QDir::toNativeSeparators(target.database))
               .arg(job.sourceCount())
               .arg(job.addedCount())
               .arg(job.lidRowsAdded()));
    if (!job.unwrittenLids().isEmpty())
        cliOut(QStringLiteral("not written to LID.sqlite: %1\n").arg(job.unwrittenLids().join(QStringLiteral(", "))));
    return exitcode::kSuccess;
}

const CliRegistrar reg({
    .name = QStringLiteral("merge"),
    .summary = QStringLiteral("merge the messages of a chat database (or of one chat) into the chat database of "
                              "FOLDER, laid out as a phone keeps it; messages it holds already are not added again"),
    .arguments = {chatSourceArgument(QStringLiteral("the chat database to copy from"))},
    .options = {{QStringLiteral("into"), QStringLiteral("FOLDER"),
                 QStringLiteral("a chat-database folder that holds ChatStorage.sqlite (plain or as a copy of the "
                                "phone's app folder); it is never created"),
                 true},
                {QStringLiteral("chat"), QStringLiteral("JID"), QStringLiteral("only the messages of this chat")}},
    .examples = {QStringLiteral("merge Anna_Backup --into ~/phone-copy"),
                 QStringLiteral("merge ~/old-phone --into ~/phone-copy --chat 4915550001@s.whatsapp.net")},
    .json = false,
    .run = run,
});

}  // namespace
