// quillometry-cli copies: the saved device copies of the data folder (the
// folders of virtual_ios, read as virtual:NAME) with their chat and message
// counts.
#include "base/datafolder.h"
#include "chatstore/chatindex.h"
#include "chatstore/localdatabases.h"
#include "cli/chatsource.h"
#include "cli/clicommand.h"
#include "cli/clioutput.h"
#include "cli/exitcodes.h"

#include <QDir>

namespace {

int run(const CliArgs& args)
{
    const QString base = QDir(dataFolder()).filePath(QStringLiteral("virtual_ios"));
    int code = exitcode::kSuccess;
    QJsonArray array;
    const QStringList names = QDir(base).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
    for (const QString& name : names) {
        auto db = openSavedDeviceCopy(QDir(base).filePath(name));
        try {
            ChatIndex index;
            db->listSessions(index);
            const qint64 messages = db->countMessages(nullptr);
            db->closeDb();
            const qint64 chats = qint64(index.sessions.size());
            if (args.json())
                array.append(QJsonObject{{QStringLiteral("name"), name},
                                         {QStringLiteral("chats"), chats},
                                         {QStringLiteral("messages"), messages},
                                         {QStringLiteral("source"), QStringLiteral("virtual:") + name}});
            else
                cliOut(QStringLiteral("%1\t%2 chats\t%3 messages\n").arg(name).arg(chats).arg(messages));
        } catch (const std::exception& e) {
            cliError(QStringLiteral("the saved device copy \"%1\": %2")
                         .arg(name, chatDatabaseErrorText(db->databasePath(), e)));
            code = exitcode::kFailure;
        }
    }
    if (args.json())
        cliOutJson(array);
    return code;
}

const CliRegistrar reg({
    .name = QStringLiteral("copies"),
    .summary = QStringLiteral("list the saved device copies of the data folder (SOURCE virtual:NAME) with their "
                              "chat and message counts"),
    .arguments = {},
    .options = {},
    .examples = {QStringLiteral("copies"), QStringLiteral("copies --json")},
    .json = true,
    .run = run,
});

}  // namespace
