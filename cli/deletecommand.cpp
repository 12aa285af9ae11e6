// quillometry-cli delete NAME [--chat JID] [--yes]: deletes one chat of a
// local database (with its messages and its media folder), or the whole
// local database. Asks on the terminal first unless --yes is given; without
// a terminal it refuses to go on without --yes.
#include "base/datafolder.h"
#include "chatstore/localdatabases.h"
#include "cli/chatsource.h"
#include "cli/clicommand.h"
#include "cli/exitcodes.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>
#include <unistd.h>

namespace {

QString text(const char* key) { return QCoreApplication::translate("MainWindow", key); }

// exitcode::kSuccess when the user said yes.
int confirm(const QString& question, bool yes)
{
    QTextStream err(stderr);
    if (yes)
        return exitcode::kSuccess;
    if (!isatty(STDIN_FILENO)) {
        err << "error: " << question << " Standard input is not a terminal; add --yes to delete without asking.\n";
        return exitcode::kUsage;
    }
    err << question << " [y/N] ";
    err.flush();
    QTextStream in(stdin);
    const QString answer = in.readLine().trimmed().toLower();
    if (answer == QLatin1String("y") || answer == QLatin1String("yes"))
        return exitcode::kSuccess;
    err << "cancelled\n";
    return exitcode::kCancelled;
}

int runDelete(const QStringList& args)
{
    QTextStream out(stdout);
    QTextStream err(stderr);
    QString name;
    QString jid;
    bool haveName = false;
    bool yes = false;
    bool bad = false;
    for (int i = 0; i < args.size() && !bad; ++i) {
        const QString& a = args.at(i);
        if (a == QLatin1String("--chat") && i + 1 < args.size() && jid.isEmpty())
            jid = args.at(++i);
        else if (a == QLatin1String("--yes"))
            yes = true;
        else if (!a.startsWith(QLatin1String("--")) && !haveName) {
            name = a;
            haveName = true;
        } else
            bad = true;
    }
    if (bad || !haveName) {
        err << "usage: quillometry-cli delete NAME [--chat JID] [--yes]\n";
        return exitcode::kUsage;
    }
    const int nameCode = checkLocalDbName(name);
    if (nameCode != exitcode::kSuccess)
        return nameCode;
    const QString base = localDatabasesFolder();
    const QString matched = matchLocalDatabaseName(name, localDatabaseNames(base));
    if (matched.isEmpty()) {
        err << "error: there is no local database named \"" << name << "\".\n";
        return exitcode::kFailure;
    }
    auto db = openLocalDatabase(base + QLatin1Char('/') + matched);

    if (jid.isEmpty()) {
        const int answer = confirm(text("IDS_CONFIRM_DEL_THIS_LOCALDB"), yes);
        if (answer != exitcode::kSuccess)
            return answer;
        db->closeDb();
        if (!removeLocalDatabase(matched, base)) {
            err << "error: the local database \"" << matched << "\" could not be removed completely.\n";
            return exitcode::kFailure;
        }
        out << text("IDS_DEL_LOCALDB_SUC") << "\n";
        return exitcode::kSuccess;
    }

    ChatIndex index;
    PChatSession chat;
    try {
        db->listSessions(index);
        chat = index.sessionByJid(jid);
    } catch (const std::exception& e) {
        err << "error: " << QString::fromUtf8(e.what()) << "\n";
        return exitcode::kFailure;
    }
    if (!chat) {
        err << "error: the local database \"" << matched << "\" has no chat " << jid << "\n";
        return exitcode::kFailure;
    }
    const int answer = confirm(text("IDS_CONFIRM_DEL_THIS_CHAT"), yes);
    if (answer != exitcode::kSuccess)
        return answer;
    try {
        db->beginTransaction();
        db->deleteChat(chat->Z_PK);
        db->commitThrow();
    } catch (const std::exception& e) {
        db->endTransaction(false);
        err << "error: " << QString::fromUtf8(e.what()) << "\n";
        return exitcode::kFailure;
    }
    removeChatMediaFolder(*db, chat->ZCONTACTJID);
    db->closeDb();
    out << text("IDS_SUC_DEL_CHAT_MESSAGES") << "\n";
    return exitcode::kSuccess;
}

const CliRegistrar reg({QStringLiteral("delete"), QStringLiteral("delete NAME [--chat JID] [--yes]"),
                        QStringLiteral("delete one chat of a local database, or the whole local database (asks "
                                       "first unless --yes)"),
                        runDelete});

}  // namespace
