// device-restore UDID --from FOLDER: restores the backup FOLDER/UDID to the
// connected iPhone. An encrypted backup's password is checked against the
// backup before the phone is asked.
#include "cli/clicommand.h"
#include "cli/clioutput.h"
#include "cli/deviceclisupport.h"
#include "cli/exitcodes.h"
#include "cli/itunesclisupport.h"
#include "device/backup2tooljob.h"
#include "itunes/backupmanifest.h"

#include <QDir>

namespace {

int run(const CliArgs& args)
{
    const QString udid = args.arg(0);
    QString substitute;
    if (!requirePlainUdid(udid))
        return exitcode::kFailure;
    if (!manifestSubstituteOption(args, &substitute))
        return exitcode::kUsage;
    const QString root = QDir(args.value(QStringLiteral("from"))).absolutePath();

    // The backup and its password first: nothing is asked of the phone for
    // a backup that cannot be restored.
    BackupManifest backup(root + QLatin1Char('/') + udid);
    Backup2Options options;
    options.op = 1;
    if (const int code = openItunesBackup(backup, itunesCliOptions(args), &options.password);
        code != exitcode::kSuccess)
        return code;
    if (!requireUsbDaemon())
        return exitcode::kFailure;

    options.shouldReboot = !args.isSet(QStringLiteral("no-reboot"));
    options.systemFiles = !args.isSet(QStringLiteral("no-system-files"));
    options.conditional = args.isSet(QStringLiteral("conditional"));
    Backup2ToolJob job(udid, root, options);
    if (!substitute.isEmpty())
        job.setPrepare([substitute](backup2tool& tool) { tool.setManifestSubstitute(substitute); });
    PlainConsoleMonitor monitor;
    const int code = monitor.runJob(job);
    return restoreExitCode(code, monitor.lastError());
}

QList<CliOption> restoreOptions()
{
    QList<CliOption> options{{QStringLiteral("from"), QStringLiteral("FOLDER"),
                              QStringLiteral("the folder that holds UDID/"), true}};
    options += backupPasswordOptions();
    options += QList<CliOption>{
        {QStringLiteral("no-reboot"), QString(), QStringLiteral("the phone does not restart afterwards")},
        {QStringLiteral("no-system-files"), QString(), QStringLiteral("leave the phone's system files alone")},
        {QStringLiteral("conditional"), QString(), QStringLiteral("send only the restore switches that differ from "
                                                                  "the phone's defaults")},
        {QStringLiteral("manifest-substitute"), QStringLiteral("NAME"),
         QStringLiteral("serve FOLDER/UDID/NAME whenever the phone asks for Manifest.db")},
    };
    return options;
}

const CliRegistrar reg({
    .name = QStringLiteral("device-restore"),
    .summary = QStringLiteral("restore the backup FOLDER/UDID to a connected iPhone; an encrypted backup needs its "
                              "password (exit code 4 when it is missing or wrong)"),
    .arguments = {{QStringLiteral("UDID"), QStringLiteral("the phone (see the devices command)")}},
    .options = restoreOptions(),
    .examples = {QStringLiteral("device-restore 00008030-001A2B3C4D5E6F70 --from ~/iphone-backups --no-reboot")},
    .json = false,
    .run = run,
});

}  // namespace
