// itunes-ls FOLDER [PATH]: browse the folder tree of an iTunes backup.
#include "base/apperror.h"
#include "cli/clicommand.h"
#include "cli/exitcodes.h"
#include "cli/itunesclisupport.h"
#include "itunes/backupmanifest.h"

namespace {

QString line(const BackupNode& node)
{
    const MBDBRecord& r = node.record;
    const QChar kind = node.isFolder() ? QLatin1Char('d') : (r.isLink() ? QLatin1Char('l') : QLatin1Char('-'));
    QString text = QStringLiteral("%1 %2 %3 %4").arg(kind).arg(r.size, 12).arg(r.domain.text(), -40).arg(node.name);
    if (node.isFolder())
        text += QLatin1Char('/');
    if (r.isLink())
        text += QStringLiteral(" -> ") + r.target.text();
    return text + QLatin1Char('\n');
}

int run(const QStringList& args)
{
    ItunesCliOptions options;
    QString error;
    if (!parseItunesCliOptions(args, false, &options, &error) || options.positional.isEmpty()
        || options.positional.size() > 2) {
        cliErr(QStringLiteral("usage: quillometry-cli itunes-ls FOLDER [PATH] [--password P | --password-env NAME]\n%1")
                   .arg(error.isEmpty() ? QString() : error + QLatin1Char('\n')));
        return exitcode::kUsage;
    }
    BackupManifest backup(options.positional.first());
    const int code = openAndLoadItunesBackup(backup, options);
    if (code != exitcode::kSuccess)
        return code;
    QString path = options.positional.value(1);
    while (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    const BackupNode* node = backup.nodeAt(path);
    if (!node) {
        cliErr(QStringLiteral("error: %1 is not in this backup\n").arg(path));
        return exitcode::kFailure;
    }
    if (!node->children.empty() || node == &backup.root) {
        for (const auto& child : node->children)
            cliOut(line(*child));
    } else {
        cliOut(line(*node));
    }
    return exitcode::kSuccess;
}

CliRegistrar reg({QStringLiteral("itunes-ls"), QStringLiteral("itunes-ls FOLDER [PATH] [--password P | --password-env NAME]"),
                  QStringLiteral("list a folder of an iTunes backup's tree (apps under Applications/)"), run});

}  // namespace
