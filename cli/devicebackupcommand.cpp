// device-backup UDID --to FOLDER: a whole-phone backup into FOLDER/UDID
// (created private to the user). The phone encrypts the backup itself when
// its backup password is set, so no password is asked here.
#include "cli/clicommand.h"
#include "cli/deviceclisupport.h"
#include "cli/exitcodes.h"
#include "cli/itunesclisupport.h"
#include "device/backup2tooljob.h"
#include "platform/osservices.h"

#include <QDir>

namespace {

const char* const kUsage =
    "usage: quillometry-cli device-backup UDID --to FOLDER\n"
    "Backs the whole iPhone up into FOLDER/UDID; a later run sends only what changed.\n"
    "example: quillometry-cli device-backup 00008030-001A2B3C4D5E6F70 --to ~/iphone-backups\n";

int run(const QStringList& args)
{
    DeviceCliArgs a;
    QString error;
    if (!parseDeviceCliArgs(args, {QStringLiteral("--to")}, {}, &a, &error) || a.help || a.positional.size() != 1
        || !a.values.contains(QStringLiteral("--to")))
        return deviceCliUsage(QString::fromLatin1(kUsage), a.help && error.isEmpty(), error);
    const QString udid = a.positional.first();
    const QString root = QDir(a.values.value(QStringLiteral("--to"))).absolutePath();
    if (!requirePlainUdid(udid) || !requireUsbDaemon())
        return exitcode::kFailure;
    if (!QDir().mkpath(root) || !platform::createPrivateFolder(root + QLatin1Char('/') + udid)) {
        cliErr(QStringLiteral("error: cannot create the folder %1/%2\n").arg(root, udid));
        return exitcode::kFailure;
    }
    Backup2Options options;
    options.op = 0;
    Backup2ToolJob job(udid, root, options);
    PlainConsoleMonitor monitor;
    return monitor.runJob(job);
}

CliRegistrar reg({QStringLiteral("device-backup"), QStringLiteral("device-backup UDID --to FOLDER"),
                  QStringLiteral("back a whole connected iPhone up into FOLDER/UDID"), run});

}  // namespace
