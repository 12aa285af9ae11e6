// quillometry-cli messages SOURCE [--chat JID] [--desc] [--reactions]:
// messages as the message list shows them, one line each: date, flag,
// contact, content, and with --reactions a fifth column with the reactions
// (emoji as characters; empty when none).
#include "chatstore/displayrules.h"
#include "chatstore/wamsgsdatasource.h"
#include "cli/chatsource.h"
#include "cli/clicommand.h"
#include "cli/clioutput.h"
#include "cli/exitcodes.h"

#include <QLocale>

namespace {

// One line per message: line breaks inside the text are shown as "\n".
QString oneLine(QString text)
{
    text.replace(QLatin1String("\r\n"), QLatin1String("\\n"));
    text.replace(QLatin1Char('\n'), QLatin1String("\\n"));
    text.replace(QLatin1Char('\r'), QLatin1String("\\n"));
    return text;
}

int run(const CliArgs& args)
{
    ChatSource source;
    if (!openChatSource(args.arg(0), &source))
        return exitcode::kFailure;
    int code = exitcode::kSuccess;
    PChatSession chat;
    const PChatDbView view = loadChatSource(source, args.value(QStringLiteral("chat")), &chat, &code);
    if (!view)
        return code;
    const QLocale locale = QLocale::system();
    const bool json = args.json();
    const bool reactions = args.isSet(QStringLiteral("reactions"));
    QJsonArray array;
    QString text;
    try {
        WAMsgsDataSource messages(view, chat, !args.isSet(QStringLiteral("desc")));
        const qint64 count = messages.count();
        for (qint64 i = 0; i < count; ++i) {
            const _Message m = messages.at(i);
            const bool event = m.ZMESSAGETYPE == msgtype::kGroupEvent;
            const QString flag = event ? QString() : m.ZISFROMME ? QStringLiteral("To") : QStringLiteral("From");
            const QString contact = event ? QStringLiteral("<System>") : messageTitle(m);
            QString content = messageDisplayText(m);
            if (m.ZSTARRED != 0)
                content.prepend(QChar(0x2605));
            if (json) {
                QJsonObject o;
                addJsonDate(o, QStringLiteral("date"), m.ZMESSAGEDATE);
                o.insert(QStringLiteral("flag"), flag);
                o.insert(QStringLiteral("contact"), contact);
                o.insert(QStringLiteral("content"), content);
                o.insert(QStringLiteral("chat"), m.session ? m.session->ZCONTACTJID : QString());
                o.insert(QStringLiteral("type"), m.ZMESSAGETYPE);
                o.insert(QStringLiteral("starred"), m.ZSTARRED != 0);
                o.insert(QStringLiteral("stanzaId"), m.ZSTANZAID);
                if (reactions)
                    o.insert(QStringLiteral("reactions"), reactionsText(m));
                array.append(o);
                continue;
            }
            const QString date = locale.toString(coreDataToDateTime(m.ZMESSAGEDATE), QLocale::ShortFormat);
            text += date + QLatin1Char('\t') + flag + QLatin1Char('\t') + oneLine(contact) + QLatin1Char('\t') +
                    oneLine(content);
            if (reactions)
                text += QLatin1Char('\t') + oneLine(reactionsText(m));
            text += QLatin1Char('\n');
            if (text.size() > 64 * 1024) {
                cliOut(text);
                text.clear();
            }
        }
    } catch (const std::exception& e) {
        cliOut(text);
        cliError(chatDatabaseErrorText(source.db->databasePath(), e));
        return exitcode::kFailure;
    }
    if (json)
        cliOutJson(array);
    else
        cliOut(text);
    return exitcode::kSuccess;
}

const CliRegistrar reg({
    .name = QStringLiteral("messages"),
    .summary = QStringLiteral("print the messages of a chat database (or of one chat) as the message list shows "
                              "them: date, flag, contact, content (and the reactions with --reactions)"),
    .arguments = {chatSourceArgument()},
    .options = {{QStringLiteral("chat"), QStringLiteral("JID"), QStringLiteral("only the messages of this chat")},
                {QStringLiteral("desc"), QString(), QStringLiteral("newest first (default: oldest first)")},
                {QStringLiteral("reactions"), QString(),
                 QStringLiteral("a fifth column with the reactions (\"Anna \U0001F44D, You \u2764\"); empty when none")}},
    .examples = {QStringLiteral("messages Anna_Backup --chat 4915550001@s.whatsapp.net"),
                 QStringLiteral("messages virtual:\"Anna's iPhone\" --desc --json"),
                 QStringLiteral("messages ~/phone-copy --reactions")},
    .json = true,
    .run = run,
});

}  // namespace
