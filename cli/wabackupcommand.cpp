// wa-backup UDID [--root FOLDER] [--app BUNDLE]...: a WhatsApp-only backup
// of a connected iPhone, the one the device load makes: the phone sends its
// whole backup, only WhatsApp's containers (or the apps given) and the
// backup's own files are kept. Without --root it goes into the temporary
// backup folder "wa" (see backup-folder); a second run sends only what
// changed.
#include "cli/clicommand.h"
#include "cli/clioutput.h"
#include "cli/deviceclisupport.h"
#include "cli/exitcodes.h"
#include "device/backup2tool.h"
#include "device/iosmobilebackupthread.h"

#include <QDir>

namespace {

int run(const CliArgs& args)
{
    const QString udid = args.arg(0);
    if (!requirePlainUdid(udid) || !requireUsbDaemon())
        return exitcode::kFailure;
    QStringList apps = args.values(QStringLiteral("app"));
    for (const QString& app : apps) {
        if (app.isEmpty() || app.contains(QLatin1Char('/'))) {
            cliError(QStringLiteral("--app needs a bundle identifier such as net.whatsapp.WhatsApp"));
            return exitcode::kUsage;
        }
    }
    if (apps.isEmpty())
        apps << QStringLiteral("net.whatsapp.WhatsApp");

    PIOSDeviceInfo device = connectedDeviceInfo(udid);
    std::unique_ptr<IOSMobileBackupThread> job;
    if (args.isSet(QStringLiteral("root"))) {
        const QString root = QDir(args.value(QStringLiteral("root"))).absolutePath();
        job = std::make_unique<IOSMobileBackupThread>(device, IOSMobileBackupThread::Root{root});
    } else {
        job = std::make_unique<IOSMobileBackupThread>(device, QStringLiteral("wa"));
    }
    job->includedApps() = apps;
    PlainConsoleMonitor monitor;
    const int code = monitor.runJob(*job);
    if (code != exitcode::kSuccess)
        return code;
    const FakeBackup2ToolHook& hook = job->hook();
    cliOut(QStringLiteral("Device folder: %1\n").arg(QDir::toNativeSeparators(job->deviceFolder())));
    cliOut(QStringLiteral("Backup: %1\n").arg(job->wasIncremental() ? QStringLiteral("incremental")
                                                                    : QStringLiteral("full")));
    cliOut(QStringLiteral("Kept: %1 files, %2 bytes (%3)\n")
               .arg(hook.keptFiles())
               .arg(hook.keptBytes())
               .arg(backup2tool::sizeText(hook.keptBytes())));
    cliOut(QStringLiteral("Dropped: %1 files, %2 bytes (%3)\n")
               .arg(hook.droppedFiles())
               .arg(hook.droppedBytes())
               .arg(backup2tool::sizeText(hook.droppedBytes())));
    return code;
}

const CliRegistrar reg({
    .name = QStringLiteral("wa-backup"),
    .summary = QStringLiteral("back up only WhatsApp (or the apps given) of a connected iPhone into the temporary "
                              "backup folder, or into FOLDER/UDID; a later run sends only what changed"),
    .arguments = {{QStringLiteral("UDID"), QStringLiteral("the phone (see the devices command)")}},
    .options = {{QStringLiteral("root"), QStringLiteral("FOLDER"),
                 QStringLiteral("the folder that receives UDID/ instead of the temporary backup folder")},
                {QStringLiteral("app"), QStringLiteral("BUNDLE"),
                 QStringLiteral("keep this app's data (repeatable; default net.whatsapp.WhatsApp)")}},
    .examples = {QStringLiteral("wa-backup 00008030-001A2B3C4D5E6F70"),
                 QStringLiteral("wa-backup 00008030-001A2B3C4D5E6F70 --root ~/wa-backups --app net.whatsapp.WhatsApp "
                                "--app net.whatsapp.WhatsAppSMB")},
    .json = false,
    .run = run,
});

}  // namespace
