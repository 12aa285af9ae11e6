// itunes-info FOLDER: what an iTunes backup folder holds.
#include "base/apperror.h"
#include "cli/clicommand.h"
#include "cli/exitcodes.h"
#include "cli/itunesclisupport.h"
#include "itunes/backupmanifest.h"
#include "itunes/iosloadwafromitunesthread.h"

namespace {

int run(const QStringList& args)
{
    ItunesCliOptions options;
    QString error;
    if (!parseItunesCliOptions(args, false, &options, &error) || options.positional.size() != 1) {
        cliErr(QStringLiteral("usage: quillometry-cli itunes-info FOLDER [--password P | --password-env NAME]\n%1")
                   .arg(error.isEmpty() ? QString() : error + QLatin1Char('\n')));
        return exitcode::kUsage;
    }
    BackupManifest backup(options.positional.first());
    try {
        backup.openThrow();
    } catch (const std::exception& e) {
        cliErr(QStringLiteral("error: %1\n").arg(errorText(e)));
        return exitcode::kFailure;
    }
    cliOut(QStringLiteral("Device name: %1\nUDID: %2\nProduct: %3\nVersion: %4\nSerial number: %5\nDate: %6\n"
                          "Encrypted: %7\nLayout: %8\n")
               .arg(backup.deviceName, backup.udid, backup.productType, backup.productVersion, backup.serialNumber,
                    backup.date.toString(Qt::ISODate), backup.isEncrypted ? QStringLiteral("yes") : QStringLiteral("no"),
                    backup.isDbLayout() ? QStringLiteral("Manifest.db") : QStringLiteral("Manifest.mbdb")));
    const int code = openAndLoadItunesBackup(backup, options);
    if (code != exitcode::kSuccess)
        return code;
    QStringList apps;
    for (const WhatsAppApp* app : IOSLoadWAFromiTunesThread::appsInBackup(backup))
        apps << app->name;
    cliOut(QStringLiteral("Records: %1\nApps: %2\n")
               .arg(backup.records.count())
               .arg(apps.isEmpty() ? QStringLiteral("none") : apps.join(QStringLiteral(", "))));
    return exitcode::kSuccess;
}

CliRegistrar reg({QStringLiteral("itunes-info"), QStringLiteral("itunes-info FOLDER [--password P | --password-env NAME]"),
                  QStringLiteral("show the device, date, encryption, manifest layout and record count of an iTunes backup, and which WhatsApp apps it holds"),
                  run});

}  // namespace
