// quillometry-cli extract SOURCE [--chat JID] --out FOLDER: copies the
// attachments of a chat database (or of one chat) into a new folder
// "FOLDER/attachments(<now>)", one file per message, dated as the message.
#include "chatstore/wamsgsdatasource.h"
#include "cli/chatsource.h"
#include "cli/clicommand.h"
#include "cli/clioutput.h"
#include "cli/consolemonitor.h"
#include "cli/exitcodes.h"
#include "output/extractmediafilesthread.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

namespace {

int run(const CliArgs& args)
{
    const QFileInfo chosen(args.value(QStringLiteral("out")));
    if (!chosen.isDir()) {
        cliError(QStringLiteral("the folder %1 does not exist.").arg(QDir::toNativeSeparators(chosen.absoluteFilePath())));
        return exitcode::kFailure;
    }

    int code = exitcode::kSuccess;
    PChatSession chat;
    const PChatDbView view = loadChatSource(args.arg(0), args.value(QStringLiteral("chat")), &chat, &code);
    if (!view)
        return code;

    ExtractMediaFilesThread job(
        std::make_shared<WAMsgsDataSource>(view, chat, true),
        ExtractMediaFilesThread::outputFolderIn(chosen.absoluteFilePath(), QDateTime::currentDateTime()));
    ConsoleMonitor monitor;
    code = monitor.runJob(job);
    if (code != exitcode::kSuccess)
        return code;
    cliOut(monitor.successText() + QLatin1Char('\n') + QDir::toNativeSeparators(job.outputFolder()) +
           QLatin1Char('\n'));
    return exitcode::kSuccess;
}

const CliRegistrar reg({
    .name = QStringLiteral("extract"),
    .summary = QStringLiteral("copy the attachments of a chat database (or of one chat) into a new folder "
                              "attachments(<now>) inside FOLDER, each file dated as its message"),
    .arguments = {chatSourceArgument()},
    .options = {{QStringLiteral("chat"), QStringLiteral("JID"), QStringLiteral("only the attachments of this chat")},
                {QStringLiteral("out"), QStringLiteral("FOLDER"),
                 QStringLiteral("an existing folder; the attachments go into a new folder inside it"), true}},
    .examples = {QStringLiteral("extract Anna_Backup --out ~/Pictures"),
                 QStringLiteral("extract Anna_Backup --chat 4915550001@s.whatsapp.net --out .")},
    .run = run,
});

}  // namespace
