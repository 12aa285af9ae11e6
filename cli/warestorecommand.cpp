// wa-restore UDID [--root FOLDER] [password] [--manifest-substitute NAME]
// [--conditional] [--no-system-files]: sends the WhatsApp-only backup
// FOLDER/UDID (without --root: the temporary backup folder "wa") back to the
// phone, as the transfer's last stage does. With --manifest-substitute the
// phone receives FOLDER/UDID/NAME whenever it asks for Manifest.db: a
// backup that keeps only WhatsApp restores only with a manifest naming only
// WhatsApp's domains (the phone would ask for every dropped file of the
// full one and refuse with MBErrorDomain/205, which also deletes the device
// folder). An encrypted backup's password is checked before the phone is
// asked.
#include "cli/clicommand.h"
#include "cli/clioutput.h"
#include "cli/deviceclisupport.h"
#include "cli/exitcodes.h"
#include "cli/itunesclisupport.h"
#include "device/backuptempfolder.h"
#include "device/iosmobilerestorethread.h"
#include "itunes/backupmanifest.h"

#include <QDir>
#include <QFileInfo>

namespace {

int run(const CliArgs& args)
{
    const QString udid = args.arg(0);
    QString substitute;
    if (!requirePlainUdid(udid))
        return exitcode::kFailure;
    if (!manifestSubstituteOption(args, &substitute))
        return exitcode::kUsage;
    const QString root = args.isSet(QStringLiteral("root")) ? QDir(args.value(QStringLiteral("root"))).absolutePath()
                                                            : chooseBackupTempFolder(QStringLiteral("wa"));
    const QString folder = root + QLatin1Char('/') + udid;
    if (!substitute.isEmpty() && !QFileInfo(folder + QLatin1Char('/') + substitute).isFile()) {
        cliError(QStringLiteral("%1 is not in %2").arg(substitute, QDir::toNativeSeparators(folder)));
        return exitcode::kFailure;
    }

    // The backup and its password first: nothing is asked of the phone for
    // a backup that cannot be restored.
    BackupManifest backup(folder);
    QString password;
    if (const int code = openItunesBackup(backup, itunesCliOptions(args), &password); code != exitcode::kSuccess)
        return code;
    if (!requireUsbDaemon())
        return exitcode::kFailure;

    auto device = std::make_shared<IOSDeviceInfo>();
    device->udid = udid;
    IOSMobileRestoreThread job(device, root, args.isSet(QStringLiteral("conditional")));
    job.setSystemFiles(!args.isSet(QStringLiteral("no-system-files")));
    job.setPassword(password);
    job.setManifestSubstitute(substitute);
    PlainConsoleMonitor monitor;
    const int ran = monitor.runJob(job);
    const int code = restoreExitCode(ran, monitor.lastError());
    if (code == exitcode::kSuccess)
        cliOut(QStringLiteral("Restored %1 to %2\n").arg(QDir::toNativeSeparators(folder), udid));
    return code;
}

QList<CliOption> restoreOptions()
{
    QList<CliOption> options{{QStringLiteral("root"), QStringLiteral("FOLDER"),
                              QStringLiteral("the folder that holds UDID/ instead of the temporary backup folder")}};
    options += backupPasswordOptions();
    options += QList<CliOption>{
        {QStringLiteral("manifest-substitute"), QStringLiteral("NAME"),
         QStringLiteral("serve FOLDER/UDID/NAME whenever the phone asks for Manifest.db")},
        {QStringLiteral("conditional"), QString(), QStringLiteral("send only the restore switches that differ from "
                                                                  "the phone's defaults (no reboot switch)")},
        {QStringLiteral("no-system-files"), QString(), QStringLiteral("leave the phone's system files alone")},
    };
    return options;
}

const CliRegistrar reg({
    .name = QStringLiteral("wa-restore"),
    .summary = QStringLiteral("restore a WhatsApp-only backup (the temporary backup folder, or FOLDER/UDID) to a "
                              "connected iPhone, which then restarts; an encrypted backup needs its password (exit "
                              "code 4 when it is missing or wrong)"),
    .arguments = {{QStringLiteral("UDID"), QStringLiteral("the phone (see the devices command)")}},
    .options = restoreOptions(),
    .examples = {QStringLiteral("wa-restore 00008030-001A2B3C4D5E6F70 --manifest-substitute Manifest-wa.db"),
                 QStringLiteral("wa-restore 00008030-001A2B3C4D5E6F70 --root ~/wa-backups --password-env BKPW "
                                "--manifest-substitute Manifest-wa.db")},
    .json = false,
    .run = run,
});

}  // namespace
