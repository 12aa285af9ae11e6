// device-restore UDID --from FOLDER: restores the backup FOLDER/UDID to the
// connected iPhone. An encrypted backup's password is checked against the
// backup before the phone is asked.
#include "cli/clicommand.h"
#include "cli/deviceclisupport.h"
#include "cli/exitcodes.h"
#include "cli/itunesclisupport.h"
#include "device/backup2tooljob.h"
#include "itunes/backupmanifest.h"

#include <QDir>

namespace {

const char* const kUsage =
    "usage: quillometry-cli device-restore UDID --from FOLDER [--password P | --password-env NAME]\n"
    "                      [--no-reboot] [--no-system-files] [--conditional] [--manifest-substitute NAME]\n"
    "Restores the backup FOLDER/UDID to the iPhone. An encrypted backup needs its password (asked at a terminal\n"
    "when not given). --manifest-substitute serves FOLDER/UDID/NAME whenever the phone asks for Manifest.db.\n"
    "example: quillometry-cli device-restore 00008030-001A2B3C4D5E6F70 --from ~/iphone-backups --no-reboot\n";

int run(const QStringList& args)
{
    DeviceCliArgs a;
    QString error;
    const QStringList values{QStringLiteral("--from"), QStringLiteral("--password"), QStringLiteral("--password-env"),
                             QStringLiteral("--manifest-substitute")};
    const QStringList flags{QStringLiteral("--no-reboot"), QStringLiteral("--no-system-files"),
                            QStringLiteral("--conditional")};
    if (!parseDeviceCliArgs(args, values, flags, &a, &error) || a.help || a.positional.size() != 1
        || !a.values.contains(QStringLiteral("--from")))
        return deviceCliUsage(QString::fromLatin1(kUsage), a.help && error.isEmpty(), error);
    const QString udid = a.positional.first();
    const QString substitute = a.values.value(QStringLiteral("--manifest-substitute"));
    if (!requirePlainUdid(udid))
        return exitcode::kFailure;
    if (a.values.contains(QStringLiteral("--manifest-substitute"))
        && (substitute.isEmpty() || substitute.contains(QLatin1Char('/')) || substitute == QLatin1String(".")
            || substitute == QLatin1String("..")))
        return deviceCliUsage(QString::fromLatin1(kUsage), false,
                              QStringLiteral("--manifest-substitute needs a file name inside FOLDER/UDID"));
    const QString root = QDir(a.values.value(QStringLiteral("--from"))).absolutePath();

    // The backup and its password first: nothing is asked of the phone for
    // a backup that cannot be restored.
    ItunesCliOptions passwordOptions;
    if (a.values.contains(QStringLiteral("--password"))) {
        passwordOptions.password = a.values.value(QStringLiteral("--password"));
        passwordOptions.hasPassword = true;
    }
    passwordOptions.passwordEnv = a.values.value(QStringLiteral("--password-env"));
    BackupManifest backup(root + QLatin1Char('/') + udid);
    Backup2Options options;
    options.op = 1;
    if (const int code = openItunesBackup(backup, passwordOptions, &options.password); code != exitcode::kSuccess)
        return code;
    if (!requireUsbDaemon())
        return exitcode::kFailure;

    options.shouldReboot = !a.flags.contains(QStringLiteral("--no-reboot"));
    options.systemFiles = !a.flags.contains(QStringLiteral("--no-system-files"));
    options.conditional = a.flags.contains(QStringLiteral("--conditional"));
    Backup2ToolJob job(udid, root, options);
    if (!substitute.isEmpty())
        job.setPrepare([substitute](backup2tool& tool) { tool.setManifestSubstitute(substitute); });
    PlainConsoleMonitor monitor;
    const int code = monitor.runJob(job);
    // The phone refused the backup's password.
    if (code == exitcode::kFailure && (monitor.lastError().contains(QLatin1String("MBErrorDomain/207"))
                                          || monitor.lastError().startsWith(QLatin1String("error code:207."))))
        return exitcode::kPassword;
    return code;
}

CliRegistrar reg({QStringLiteral("device-restore"),
                  QStringLiteral("device-restore UDID --from FOLDER [--password P | --password-env NAME] [--no-reboot] "
                                 "[--no-system-files] [--conditional] [--manifest-substitute NAME]"),
                  QStringLiteral("restore the backup FOLDER/UDID to a connected iPhone"), run});

}  // namespace
