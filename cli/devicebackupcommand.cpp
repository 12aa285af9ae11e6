// device-backup UDID --to FOLDER: a whole-phone backup into FOLDER/UDID
// (created private to the user). The phone encrypts the backup itself when
// its backup password is set, so no password is asked here.
#include "cli/clicommand.h"
#include "cli/clioutput.h"
#include "cli/deviceclisupport.h"
#include "cli/exitcodes.h"
#include "device/backup2tooljob.h"
#include "platform/osservices.h"

#include <QDir>

namespace {

int run(const CliArgs& args)
{
    const QString udid = args.arg(0);
    const QString root = QDir(args.value(QStringLiteral("to"))).absolutePath();
    if (!requirePlainUdid(udid) || !requireUsbDaemon())
        return exitcode::kFailure;
    if (!QDir().mkpath(root) || !platform::createPrivateFolder(root + QLatin1Char('/') + udid)) {
        cliError(QStringLiteral("cannot create the folder %1/%2").arg(root, udid));
        return exitcode::kFailure;
    }
    Backup2Options options;
    options.op = 0;
    Backup2ToolJob job(udid, root, options);
    PlainConsoleMonitor monitor;
    return monitor.runJob(job);
}

const CliRegistrar reg({
    .name = QStringLiteral("device-backup"),
    .summary = QStringLiteral("back a whole connected iPhone up into FOLDER/UDID; a later run sends only what "
                              "changed"),
    .arguments = {{QStringLiteral("UDID"), QStringLiteral("the phone (see the devices command)")}},
    .options = {{QStringLiteral("to"), QStringLiteral("FOLDER"), QStringLiteral("the folder that receives UDID/"),
                 true}},
    .examples = {QStringLiteral("device-backup 00008030-001A2B3C4D5E6F70 --to ~/iphone-backups")},
    .json = false,
    .run = run,
});

}  // namespace
