// quillometry-cli: the same jobs as the window, from a terminal.
#include "base/productinfo.h"

#include <QCoreApplication>
#include <QStringList>
#include <QTextStream>

namespace {

const char* kUsage =
    "Usage: quillometry-cli COMMAND [ARGS...]\n"
    "\n"
    "Moves WhatsApp chat histories between iPhones, iTunes backups and local databases.\n"
    "\n"
    "Options:\n"
    "  --help       show this text\n"
    "  --version    show the program's version\n";

}  // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quillometry-cli"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(product::kVersion));
    QTextStream out(stdout);
    QTextStream err(stderr);
    const QStringList args = app.arguments().mid(1);
    if (args.isEmpty() || args.first() == QLatin1String("--help") || args.first() == QLatin1String("-h")) {
        out << kUsage;
        return args.isEmpty() ? 2 : 0;
    }
    if (args.first() == QLatin1String("--version")) {
        out << "quillometry-cli " << product::kVersion << "\n";
        return 0;
    }
    err << "quillometry-cli: unknown command '" << args.first() << "'; see --help\n";
    return 2;
}
