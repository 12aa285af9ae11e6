// backup-folder [--clear]: where WhatsApp-only backups of phones are kept
// between runs (the temporary backup folder "wa"), chosen as the device
// load chooses it but not created; --clear removes it with every backup in
// it, and the memory file of the choice.
#include "cli/clicommand.h"
#include "cli/clioutput.h"
#include "cli/exitcodes.h"
#include "device/backuptempfolder.h"

#include <QDir>
#include <QFileInfo>

namespace {

int run(const CliArgs& args)
{
    const QString folder = chooseBackupTempFolder(QStringLiteral("wa"));
    if (!args.isSet(QStringLiteral("clear"))) {
        cliOut(QDir::toNativeSeparators(folder) + QLatin1Char('\n'));
        return exitcode::kSuccess;
    }
    removeBackupTempFolder(QStringLiteral("wa"));
    const QFileInfo left(folder);
    if (left.exists() || left.isSymLink()) {
        cliError(QStringLiteral("could not remove %1").arg(QDir::toNativeSeparators(folder)));
        return exitcode::kFailure;
    }
    cliOut(QStringLiteral("Removed %1\n").arg(QDir::toNativeSeparators(folder)));
    return exitcode::kSuccess;
}

const CliRegistrar reg({
    .name = QStringLiteral("backup-folder"),
    .summary = QStringLiteral("print the temporary backup folder of the WhatsApp-only backups (chosen, not "
                              "created); --clear removes it and the remembered choice"),
    .arguments = {},
    .options = {{QStringLiteral("clear"), QString(), QStringLiteral("remove the folder with every backup in it")}},
    .examples = {QStringLiteral("backup-folder"), QStringLiteral("backup-folder --clear")},
    .json = false,
    .run = run,
});

}  // namespace
