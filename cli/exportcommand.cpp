// quillometry-cli export SOURCE [--chat JID] --format txt|doc|csv|html|pdf
// --out PATH [--overwrite]: writes the messages of a chat database (or of one
// chat) to a file, or as HTML pages or PDF files into a new folder. A file is
// written under a temporary name and appears only when complete; an existing
// file is replaced only with --overwrite, an existing folder never.
#include "chatstore/wamsgsdatasource.h"
#include "cli/chatsource.h"
#include "cli/clicommand.h"
#include "cli/clioutput.h"
#include "cli/consolemonitor.h"
#include "cli/exitcodes.h"
#include "output/exportmessagespdf.h"
#include "output/exportmessagesthread.h"

#include <QDir>
#include <QFileInfo>

namespace {

int run(const CliArgs& args)
{
    const QString format = args.value(QStringLiteral("format")).toLower();
    int number = -1;
    if (format == QLatin1String("txt") || format == QLatin1String("doc"))
        number = ExportMessagesThread::kText;
    else if (format == QLatin1String("csv"))
        number = ExportMessagesThread::kCsv;
    else if (format == QLatin1String("html"))
        number = ExportMessagesThread::kHtml;
    const bool pdf = format == QLatin1String("pdf");
    if (number < 0 && !pdf) {
        cliError(QStringLiteral("unknown export format \"%1\"; use txt, doc, csv, html or pdf.").arg(format));
        return exitcode::kUsage;
    }
    QString out = QFileInfo(args.value(QStringLiteral("out"))).absoluteFilePath();
    const bool folder = pdf || number == ExportMessagesThread::kHtml;
    // The written format follows --format, so a file gets its suffix.
    if (!folder && !out.endsWith(QLatin1Char('.') + format, Qt::CaseInsensitive))
        out += QLatin1Char('.') + format;
    const QFileInfo target(out);
    if (folder && (target.exists() || target.isSymLink())) {
        cliError(QStringLiteral("%1 exists; give the name of a new folder.").arg(QDir::toNativeSeparators(out)));
        return exitcode::kUsage;
    }
    if (target.isDir()) {
        cliError(QStringLiteral("%1 is a folder; give a file name.").arg(QDir::toNativeSeparators(out)));
        return exitcode::kUsage;
    }
    if ((target.exists() || target.isSymLink()) && !args.isSet(QStringLiteral("overwrite"))) {
        cliError(QStringLiteral("%1 exists; add --overwrite to replace it.").arg(QDir::toNativeSeparators(out)));
        return exitcode::kUsage;
    }
    if (!target.absoluteDir().exists()) {
        cliError(QStringLiteral("the folder %1 does not exist.").arg(QDir::toNativeSeparators(target.absolutePath())));
        return exitcode::kFailure;
    }

    int code = exitcode::kSuccess;
    PChatSession chat;
    const PChatDbView view = loadChatSource(args.arg(0), args.value(QStringLiteral("chat")), &chat, &code);
    if (!view)
        return code;

    const auto source = std::make_shared<WAMsgsDataSource>(view, chat, true);
    std::unique_ptr<Job> job;
    if (pdf)
        job = std::make_unique<ExportMessagesPdf>(out, source);
    else
        job = std::make_unique<ExportMessagesThread>(source, out, number);
    ConsoleMonitor monitor;
    code = monitor.runJob(*job);
    if (code != exitcode::kSuccess)
        return code;
    const QString written = pdf ? static_cast<ExportMessagesPdf&>(*job).outputPath()
                                : static_cast<ExportMessagesThread&>(*job).outputPath();
    cliOut(monitor.successText() + QLatin1Char('\n') + QDir::toNativeSeparators(written) + QLatin1Char('\n'));
    return exitcode::kSuccess;
}

const CliRegistrar reg({
    .name = QStringLiteral("export"),
    .summary = QStringLiteral("write the messages of a chat database (or of one chat) to a text, .doc (RTF) or "
                              "CSV file, as HTML pages with their attachments or as PDF files of chat bubbles "
                              "(100 pages each) into a new folder"),
    .arguments = {chatSourceArgument()},
    .options = {{QStringLiteral("chat"), QStringLiteral("JID"), QStringLiteral("only the messages of this chat")},
                {QStringLiteral("format"), QStringLiteral("FORMAT"), QStringLiteral("txt, doc, csv, html or pdf"), true},
                {QStringLiteral("out"), QStringLiteral("PATH"),
                 QStringLiteral("the file to write (the format's suffix is added when missing); for html and "
                                "pdf the folder to create"),
                 true},
                {QStringLiteral("overwrite"), QString(), QStringLiteral("replace an existing file")}},
    .examples = {QStringLiteral("export Anna_Backup --format csv --out chats.csv"),
                 QStringLiteral("export Anna_Backup --chat 4915550001@s.whatsapp.net --format txt --out anna.txt"),
                 QStringLiteral("export Anna_Backup --format html --out chats-html"),
                 QStringLiteral("export Anna_Backup --chat 4915550001@s.whatsapp.net --format pdf --out anna-pdf")},
    .run = run,
});

}  // namespace
