// quillometry-cli delete NAME [--chat JID] [--yes]: deletes one chat of a
// local database (with its messages and its media folder), or the whole
// local database. Asks on the terminal first, naming the database and the
// number of messages, unless --yes is given; without a terminal it refuses
// to go on without --yes.
#include "base/apperror.h"
#include "base/datafolder.h"
#include "chatstore/localdatabases.h"
#include "cli/chatsource.h"
#include "cli/clicommand.h"
#include "cli/clioutput.h"
#include "cli/exitcodes.h"

#include <QCoreApplication>
#include <QTextStream>

#include <unistd.h>

namespace {

QString text(const char* key) { return QCoreApplication::translate("MainWindow", key); }

// exitcode::kSuccess when the user said yes.
int confirm(const QString& question, bool yes)
{
    if (yes)
        return exitcode::kSuccess;
    if (!isatty(STDIN_FILENO)) {
        cliError(question + QStringLiteral(" Standard input is not a terminal; add --yes to delete without asking."));
        return exitcode::kUsage;
    }
    cliErr(question + QStringLiteral(" [y/N] "));
    QTextStream in(stdin);
    const QString answer = in.readLine().trimmed().toLower();
    if (answer == QLatin1String("y") || answer == QLatin1String("yes"))
        return exitcode::kSuccess;
    cliErr(QStringLiteral("cancelled\n"));
    return exitcode::kCancelled;
}

int run(const CliArgs& args)
{
    const QString name = args.arg(0);
    const QString jid = args.value(QStringLiteral("chat"));
    const bool yes = args.isSet(QStringLiteral("yes"));
    const int nameCode = checkLocalDbName(name);
    if (nameCode != exitcode::kSuccess)
        return nameCode;
    const QString base = localDatabasesFolder();
    const QString matched = matchLocalDatabaseName(name, localDatabaseNames(base));
    if (matched.isEmpty()) {
        cliError(QStringLiteral("there is no local database named \"%1\" (see 'quillometry-cli localdbs').").arg(name));
        return exitcode::kFailure;
    }
    auto db = openLocalDatabase(base + QLatin1Char('/') + matched);

    ChatIndex index;
    PChatSession chat;
    qint64 count = 0;
    try {
        if (!jid.isEmpty()) {
            db->listSessions(index);
            chat = index.sessionByJid(jid);
            if (!chat) {
                cliError(QStringLiteral("the local database \"%1\" has no chat %2.").arg(matched, jid));
                return exitcode::kFailure;
            }
        }
        count = db->countMessages(chat.get());
    } catch (const std::exception& e) {
        cliError(chatDatabaseErrorText(db->databasePath(), e));
        return exitcode::kFailure;
    }

    if (!chat) {
        const int answer = confirm(QStringLiteral("%1 (the local database \"%2\" with %3 messages)")
                                       .arg(text("IDS_CONFIRM_DEL_THIS_LOCALDB"), matched)
                                       .arg(count),
                                   yes);
        if (answer != exitcode::kSuccess)
            return answer;
        db->closeDb();
        if (!removeLocalDatabase(matched, base)) {
            cliError(QStringLiteral("the local database \"%1\" could not be removed completely.").arg(matched));
            return exitcode::kFailure;
        }
        cliOut(text("IDS_DEL_LOCALDB_SUC") + QLatin1Char('\n'));
        return exitcode::kSuccess;
    }

    const int answer = confirm(QStringLiteral("%1 (the chat %2 of the local database \"%3\": %4 messages)")
                                   .arg(text("IDS_CONFIRM_DEL_THIS_CHAT"), jid, matched)
                                   .arg(count),
                               yes);
    if (answer != exitcode::kSuccess)
        return answer;
    try {
        db->beginTransaction();
        db->deleteChat(chat->Z_PK);
        db->commitThrow();
    } catch (const std::exception& e) {
        db->endTransaction(false);
        cliError(chatDatabaseErrorText(db->databasePath(), e));
        return exitcode::kFailure;
    }
    removeChatMediaFolder(*db, chat->ZCONTACTJID);
    db->closeDb();
    cliOut(text("IDS_SUC_DEL_CHAT_MESSAGES") + QLatin1Char('\n'));
    return exitcode::kSuccess;
}

const CliRegistrar reg({
    .name = QStringLiteral("delete"),
    .summary = QStringLiteral("delete one chat of a local database, or the whole local database (asks first "
                              "unless --yes)"),
    .arguments = {{QStringLiteral("NAME"), QStringLiteral("the local database (letter case does not matter)")}},
    .options = {{QStringLiteral("chat"), QStringLiteral("JID"),
                 QStringLiteral("delete only this chat, with its messages and media folder")},
                {QStringLiteral("yes"), QString(), QStringLiteral("do not ask (needed without a terminal)")}},
    .examples = {QStringLiteral("delete Anna_Backup --chat 4915550001@s.whatsapp.net"),
                 QStringLiteral("delete Anna_Backup --yes")},
    .json = false,
    .run = run,
});

}  // namespace
