// quillometry-cli chats SOURCE: the chats of a chat database, newest first,
// with their display name and number, JID and message count.
#include "chatstore/displayrules.h"
#include "cli/chatsource.h"
#include "cli/clicommand.h"
#include "cli/exitcodes.h"

#include <QTextStream>

#include <algorithm>

namespace {

int runChats(const QStringList& args)
{
    QTextStream out(stdout);
    QTextStream err(stderr);
    if (args.size() != 1 || args.first().startsWith(QLatin1String("--"))) {
        err << "usage: quillometry-cli chats SOURCE\n";
        return exitcode::kUsage;
    }
    int code = exitcode::kSuccess;
    const PChatDbView view = loadChatSource(args.first(), &code);
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
    try {
        for (const PChatSession& chat : chats) {
            const qint64 count = view->database()->countMessages(chat.get());
            out << sessionDisplayName(*chat, true, false) << '\t' << chat->ZCONTACTJID << '\t' << count << '\n';
        }
    } catch (const std::exception& e) {
        out.flush();
        err << "error: " << QString::fromUtf8(e.what()) << "\n";
        return exitcode::kFailure;
    }
    return exitcode::kSuccess;
}

const CliRegistrar reg({QStringLiteral("chats"), QStringLiteral("chats SOURCE"),
                        QStringLiteral("list the chats of a local database or chat-database folder, newest first "
                                       "(name, JID, messages)"),
                        runChats});

}  // namespace
