// quillometry-cli: the same jobs as the window, from a terminal.
#include "base/apptranslator.h"
#include "base/productinfo.h"
#include "cli/clicommand.h"
#include "cli/exitcodes.h"
#include "platform/osservices.h"

#include <QCoreApplication>
#include <QStringList>
#include <QTextStream>

namespace {

QString usage()
{
    QString text = QStringLiteral(
        "Usage: quillometry-cli COMMAND [ARGS...]\n"
        "\n"
        "Moves WhatsApp chat histories between iPhones, iTunes backups and local databases.\n"
        "\n"
        "Options:\n"
        "  --help       show this text\n"
        "  --version    show the program's version\n");
    if (!CliRegistry::all().isEmpty()) {
        text += QStringLiteral("\nCommands:\n");
        for (const CliCommand& c : CliRegistry::all())
            text += QStringLiteral("  %1\n      %2\n").arg(c.synopsis, c.summary);
    }
    text += QStringLiteral(
        "\nExit codes: 0 success, 1 failure, 2 wrong arguments, 3 cancelled,\n"
        "4 password missing or wrong, 130 interrupted by a second Ctrl-C.\n");
    return text;
}

}  // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    // A phone or daemon that goes away mid-write is an error, not the end.
    platform::ignoreBrokenPipe();
    QCoreApplication::setApplicationName(QStringLiteral("quillometry-cli"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(product::kVersion));
    // The jobs' texts (IDS_ keys) read the same as in the window.
    AppTranslator translator;
    translator.loadEmbedded();
    QCoreApplication::installTranslator(&translator);
    QTextStream out(stdout);
    QTextStream err(stderr);
    const QStringList args = app.arguments().mid(1);
    if (args.isEmpty() || args.first() == QLatin1String("--help") || args.first() == QLatin1String("-h")) {
        out << usage();
        return args.isEmpty() ? exitcode::kUsage : exitcode::kSuccess;
    }
    if (args.first() == QLatin1String("--version")) {
        out << "quillometry-cli " << product::kVersion << "\n";
        return exitcode::kSuccess;
    }
    if (const CliCommand* command = CliRegistry::find(args.first()))
        return command->run(args.mid(1));
    err << "quillometry-cli: unknown command '" << args.first() << "'; see --help\n";
    return exitcode::kUsage;
}
