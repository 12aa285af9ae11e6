// quillometry-cli localdbs: the local databases of the data folder with the
// number of messages each holds.
#include "base/datafolder.h"
#include "chatstore/localdatabases.h"
#include "cli/clicommand.h"
#include "cli/exitcodes.h"

#include <QTextStream>

namespace {

int runLocalDbs(const QStringList& args)
{
    QTextStream out(stdout);
    QTextStream err(stderr);
    if (!args.isEmpty()) {
        err << "usage: quillometry-cli localdbs\n";
        return exitcode::kUsage;
    }
    const QString base = localDatabasesFolder();
    int code = exitcode::kSuccess;
    for (const QString& name : localDatabaseNames(base)) {
        try {
            auto db = openLocalDatabase(base + QLatin1Char('/') + name);
            const qint64 count = db->countMessages(nullptr);
            db->closeDb();
            out << name << '\t' << count << '\n';
        } catch (const std::exception& e) {
            // A count that fails is an error, never a zero.
            out.flush();
            err << "error: " << name << ": " << QString::fromUtf8(e.what()) << "\n";
            code = exitcode::kFailure;
        }
    }
    return code;
}

const CliRegistrar reg({QStringLiteral("localdbs"), QStringLiteral("localdbs"),
                        QStringLiteral("list the local databases of the data folder with their message counts"),
                        runLocalDbs});

}  // namespace
