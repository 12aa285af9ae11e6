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

int run(const CliArgs& args)
{
    BackupManifest backup(args.arg(0));
    const int code = openAndLoadItunesBackup(backup, itunesCliOptions(args));
    if (code != exitcode::kSuccess)
        return code;
    QString path = args.arg(1);
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

const CliRegistrar reg({
    .name = QStringLiteral("itunes-ls"),
    .summary = QStringLiteral("list a folder of an iTunes backup's tree (apps under Applications/)"),
    .arguments = {{QStringLiteral("FOLDER"), QStringLiteral("the backup folder")},
                  {QStringLiteral("PATH"), QStringLiteral("the folder inside the backup's tree (default: the top)"),
                   true}},
    .options = backupPasswordOptions(),
    .examples = {QStringLiteral("itunes-ls ~/bk AppDomainGroup/group.net.whatsapp.WhatsApp.shared")},
    .json = false,
    .run = run,
});

}  // namespace
