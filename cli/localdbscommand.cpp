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
    QJsonArray array;
    for (const QString& name : localDatabaseNames(base)) {
        const QString folder = QDir(base).filePath(name);
        // Opening may upgrade or repair the database: never while a job
        // works on it.
        const PLocalDbLock lock = LocalDbLock::tryAcquire(base, name);
        QString state;
        qint64 count = -1;
        if (!lock) {
            state = QStringLiteral("in use by another job");
        } else {
            try {
                auto db = openLocalDatabase(folder);
                count = db->countMessages(nullptr);
                db->closeDb();
            } catch (const std::exception& e) {
                // A damaged database is listed as such (never with a zero
                // count); the others are still listed.
                state = QStringLiteral("damaged: ") +
                        chatDatabaseErrorText(folder + QStringLiteral("/ChatStorage.sqlite"), e);
            }
        }
        if (args.json()) {
            QJsonObject entry{{QStringLiteral("name"), name}, {QStringLiteral("folder"), QDir::toNativeSeparators(folder)}};
            if (count >= 0)
                entry.insert(QStringLiteral("messages"), count);
            else
                entry.insert(QStringLiteral("problem"), state);
            array.append(entry);
        } else {
            cliOut(QStringLiteral("%1\t%2\n").arg(name, count >= 0 ? QString::number(count) : state));
        }
    }
    if (args.json())
        cliOutJson(array);
    return exitcode::kSuccess;
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
