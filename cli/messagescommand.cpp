// quillometry-cli messages SOURCE [--chat JID] [--desc] [--reactions]:
// messages as the message list shows them, one line each: date, flag,
// contact, content, and with --reactions a fifth column with the reactions
// (emoji as characters; empty when none).
#include "chatstore/displayrules.h"
#include "chatstore/wamsgsdatasource.h"
#include "cli/chatsource.h"
#include "cli/clicommand.h"
#include "cli/exitcodes.h"

#include <QLocale>
#include <QTextStream>

namespace {

// One line per message: line breaks inside the text are shown as "\n".
QString oneLine(QString text)
{
    text.replace(QLatin1String("\r\n"), QLatin1String("\\n"));
    text.replace(QLatin1Char('\n'), QLatin1String("\\n"));
    text.replace(QLatin1Char('\r'), QLatin1String("\\n"));
    return text;
}

int runMessages(const QStringList& args)
{
    QTextStream out(stdout);
    QTextStream err(stderr);
    QString source;
    QString jid;
    bool ascending = true;
    bool reactions = false;
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args.at(i);
        if (a == QLatin1String("--chat") && i + 1 < args.size()) {
            jid = args.at(++i);
        } else if (a == QLatin1String("--desc")) {
            ascending = false;
        } else if (a == QLatin1String("--reactions")) {
            reactions = true;
        } else if (!a.startsWith(QLatin1String("--")) && source.isEmpty()) {
            source = a;
        } else {
            source.clear();
            break;
        }
    }
    if (source.isEmpty()) {
        err << "usage: quillometry-cli messages SOURCE [--chat JID] [--desc] [--reactions]\n";
        return exitcode::kUsage;
    }
    int code = exitcode::kSuccess;
    PChatSession chat;
    const PChatDbView view = loadChatSource(source, jid, &chat, &code);
    if (!view)
        return code;
    const QLocale locale = QLocale::system();
    try {
        WAMsgsDataSource messages(view, chat, ascending);
        const qint64 count = messages.count();
        for (qint64 i = 0; i < count; ++i) {
            const _Message m = messages.at(i);
            const bool event = m.ZMESSAGETYPE == msgtype::kGroupEvent;
            const QString date = locale.toString(coreDataToDateTime(m.ZMESSAGEDATE), QLocale::ShortFormat);
            const QString flag = event ? QString() : m.ZISFROMME ? QStringLiteral("To") : QStringLiteral("From");
            const QString contact = event ? QStringLiteral("<System>") : messageTitle(m);
            QString content = messageDisplayText(m);
            if (m.ZSTARRED != 0)
                content.prepend(QChar(0x2605));
            out << date << '\t' << flag << '\t' << oneLine(contact) << '\t' << oneLine(content);
            if (reactions)
                out << '\t' << oneLine(reactionsText(m));
            out << '\n';
        }
    } catch (const std::exception& e) {
        out.flush();
        err << "error: " << QString::fromUtf8(e.what()) << "\n";
        return exitcode::kFailure;
    }
    return exitcode::kSuccess;
}

const CliRegistrar reg({QStringLiteral("messages"), QStringLiteral("messages SOURCE [--chat JID] [--desc] [--reactions]"),
                        QStringLiteral("print the messages of a database (or of one chat) as the message list shows "
                                       "them: date, flag, contact, content (and the reactions with --reactions)"),
                        runMessages});

}  // namespace
