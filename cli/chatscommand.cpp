// quillometry-cli chats SOURCE: the chats of a chat database, newest first,
// with their display name and number, JID and message count.
#include "chatstore/displayrules.h"
#include "cli/chatsource.h"
#include "cli/clicommand.h"
#include "cli/clioutput.h"
#include "cli/exitcodes.h"

#include <algorithm>

namespace {

int run(const CliArgs& args)
{
    ChatSource source;
    if (!openChatSource(args.arg(0), &source))
        return exitcode::kFailure;
    int code = exitcode::kSuccess;
    const PChatDbView view = loadChatSource(source, &code);
    if (!view)
        return code;
    QList<PChatSession> chats;
    for (const auto& [pk, session] : view->index().sessions)
        chats << session;
    std::stable_sort(chats.begin(), chats.end(), [](const PChatSession& a, const PChatSession& b) {
        if (a->ZLASTMESSAGEDATE != b->ZLASTMESSAGEDATE)
            return a->ZLASTMESSAGEDATE > b->ZLASTMESSAGEDATE;
        return a->Z_PK > b->Z_PK;
    });
    // Every count is taken before anything is printed: a failure prints no
    // half list.
    QList<qint64> counts;
    try {
        for (const PChatSession& chat : chats)
            counts << view->database()->countMessages(chat.get());
    } catch (const std::exception& e) {
        cliError(chatDatabaseErrorText(source.db->databasePath(), e));
        return exitcode::kFailure;
    }
    if (args.json()) {
        QJsonArray array;
        for (int i = 0; i < chats.size(); ++i) {
            const _ChatSession& chat = *chats.at(i);
            QJsonObject o;
            o.insert(QStringLiteral("name"), sessionDisplayName(chat, true, false));
            o.insert(QStringLiteral("jid"), chat.ZCONTACTJID);
            o.insert(QStringLiteral("messages"), counts.at(i));
            o.insert(QStringLiteral("group"), chat.isGroup());
            addJsonDate(o, QStringLiteral("lastMessageDate"), chat.ZLASTMESSAGEDATE);
            array.append(o);
        }
        cliOutJson(array);
        return exitcode::kSuccess;
    }
    QString text;
    for (int i = 0; i < chats.size(); ++i)
        text += QStringLiteral("%1\t%2\t%3\n")
                    .arg(sessionDisplayName(*chats.at(i), true, false), chats.at(i)->ZCONTACTJID)
                    .arg(counts.at(i));
    cliOut(text);
    return exitcode::kSuccess;
}

const CliRegistrar reg({
    .name = QStringLiteral("chats"),
    .summary = QStringLiteral("list the chats of a chat database, newest first: name, JID, number of messages"),
    .arguments = {chatSourceArgument()},
    .options = {},
    .examples = {QStringLiteral("chats Anna_Backup"), QStringLiteral("chats ~/phone-copy --json")},
    .json = true,
    .run = run,
});

}  // namespace
