// quillometry-cli localdbs: the local databases of the data folder with the
// number of messages each holds.
#include "base/datafolder.h"
#include "chatstore/localdatabases.h"
#include "cli/chatsource.h"
#include "cli/clicommand.h"
#include "cli/clioutput.h"
#include "cli/exitcodes.h"

#include <QDir>

namespace {

int run(const CliArgs& args)
{
    const QString base = localDatabasesFolder();
    int code = exitcode::kSuccess;
    QJsonArray array;
    for (const QString& name : localDatabaseNames(base)) {
        const QString folder = QDir(base).filePath(name);
        try {
            auto db = openLocalDatabase(folder);
            const qint64 count = db->countMessages(nullptr);
            db->closeDb();
            if (args.json())
                array.append(QJsonObject{{QStringLiteral("name"), name},
                                         {QStringLiteral("messages"), count},
                                         {QStringLiteral("folder"), QDir::toNativeSeparators(folder)}});
            else
                cliOut(QStringLiteral("%1\t%2\n").arg(name).arg(count));
        } catch (const std::exception& e) {
            // A count that fails is an error, never a zero.
            cliError(chatDatabaseErrorText(folder + QStringLiteral("/ChatStorage.sqlite"), e));
            code = exitcode::kFailure;
        }
    }
    if (args.json())
        cliOutJson(array);
    return code;
}

const CliRegistrar reg({
    .name = QStringLiteral("localdbs"),
    .summary = QStringLiteral("list the local databases of the data folder with their message counts"),
    .arguments = {},
    .options = {},
    .examples = {QStringLiteral("localdbs"), QStringLiteral("localdbs --json")},
    .json = true,
    .run = run,
});

}  // namespace
