// quillometry-cli: the same jobs as the window, from a terminal.
#include "base/apptranslator.h"
#include "base/assetfolder.h"
#include "base/logging.h"
#include "base/productinfo.h"
#include "cli/chatsource.h"
#include "cli/clicommand.h"
#include "cli/clioutput.h"
#include "cli/exitcodes.h"
#include "itunes/backupmanifest.h"
#include "platform/osservices.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QStringList>


namespace {

QString usage()
{
    QString text = QStringLiteral(
        "Usage: quillometry-cli COMMAND [ARGS...]\n"
        "       quillometry-cli help [COMMAND]\n"
        "\n"
        "Moves WhatsApp chat histories between iPhones, iTunes backups and local databases.\n"
        "\n"
        "Options:\n"
        "  -h, --help   show this text (COMMAND --help: that command's arguments and an example)\n"
        "  --version    show the program's version\n"
        "  --verbose    also print the program's log lines on standard error\n");
    if (!CliRegistry::all().isEmpty()) {
        QList<QPair<QString, QString>> rows;
        for (const CliCommand& c : CliRegistry::all())
            rows << qMakePair(c.name, c.summary);
        text += QStringLiteral("\nCommands:\n") + cliHelpTable(rows);
    }
    text += QStringLiteral("\nSOURCE, where a command reads chats, is one of:\n") + chatSourceFormsHelp();
    text += QStringLiteral(
        "\nExit codes: 0 success, 1 failure, 2 wrong arguments, 3 cancelled,\n"
        "4 password missing or wrong, 5 this version is obsolete (update-check),\n"
        "130 interrupted by a second Ctrl-C.\n");
    return text;
}

int unknownCommand(const QString& name)
{
    cliErr(QStringLiteral("quillometry-cli: unknown command '%1'; run 'quillometry-cli help' for the list.\n").arg(name));
    return exitcode::kUsage;
}

}  // namespace

int main(int argc, char* argv[])
{
    // The PDF export paints text, which needs the graphical toolkit; the
    // command line never opens a window, so it never needs a display
    // either: the offscreen platform unless one was asked for.
    const bool ownPlatform = qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
    if (ownPlatform)
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Standard output carries results (and JSON); log lines go to the log
    // file only, or to standard error with --verbose. Set before the
    // application object, whose start-up has things to say too.
    setLogEcho(LogEcho::None);
    qInstallMessageHandler(logMessageHandler);
    QGuiApplication app(argc, argv);
    // Chosen for this process only: programs it starts (a browser, a file
    // manager) must come up on the user's display.
    if (ownPlatform)
        qunsetenv("QT_QPA_PLATFORM");
    // A phone or daemon that goes away mid-write is an error, not the end.
    platform::ignoreBrokenPipe();
    QCoreApplication::setApplicationName(QStringLiteral("quillometry-cli"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(product::kVersion));
    // The jobs' texts (IDS_ keys) read the same as in the window.
    AppTranslator translator;
    translator.loadEmbedded();
    QCoreApplication::installTranslator(&translator);
    // Plain manifest copies that a killed run left behind go first.
    BackupManifest::removeStaleDecryptedManifests();

    QStringList args = app.arguments().mid(1);
    bool verbose = false;
    while (!args.isEmpty() && args.first() == QLatin1String("--verbose")) {
        verbose = true;
        args.removeFirst();
    }
    if (args.isEmpty()) {
        cliErr(usage());
        return exitcode::kUsage;
    }
    const QString first = args.first();
    if (first == QLatin1String("--help") || first == QLatin1String("-h")) {
        cliOut(usage());
        return exitcode::kSuccess;
    }
    if (first == QLatin1String("--version")) {
        cliOut(QStringLiteral("quillometry-cli %1\n").arg(QString::fromLatin1(product::kVersion)));
        // Where the bubble pages' files were found: an installed program
        // must find its own, never those of the tree it was built in.
        cliOut(QStringLiteral("Bubble pages: %1\n").arg(product::wabbFolder()));
        return exitcode::kSuccess;
    }
    if (first == QLatin1String("help")) {
        if (args.size() == 1) {
            cliOut(usage());
            return exitcode::kSuccess;
        }
        if (args.size() > 2) {
            cliErr(QStringLiteral("Usage: quillometry-cli help [COMMAND]\n"));
            return exitcode::kUsage;
        }
        const CliCommand* command = CliRegistry::find(args.at(1));
        if (!command)
            return unknownCommand(args.at(1));
        cliOut(commandHelp(*command));
        return exitcode::kSuccess;
    }
    const CliCommand* command = CliRegistry::find(first);
    if (!command)
        return unknownCommand(first);
    if (verbose)
        args.insert(1, QStringLiteral("--verbose"));
    return runCliCommand(*command, args.mid(1));
}
