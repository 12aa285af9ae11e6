// itunes-info FOLDER: what an iTunes backup folder holds.
#include "base/apperror.h"
#include "cli/clicommand.h"
#include "cli/exitcodes.h"
#include "cli/itunesclisupport.h"
#include "itunes/backupmanifest.h"
#include "itunes/iosloadwafromitunesthread.h"

#include <QDir>
#include <QJsonArray>

namespace {

int run(const CliArgs& args)
{
    const ItunesCliOptions options = itunesCliOptions(args);
    BackupManifest backup(args.arg(0));
    try {
        backup.openThrow();
    } catch (const std::exception& e) {
        cliErr(QStringLiteral("error: %1\n").arg(errorText(e)));
        return exitcode::kFailure;
    }
    const QString date = isoDateWithOffset(backup.date);
    const QString layout = backup.isDbLayout() ? QStringLiteral("Manifest.db") : QStringLiteral("Manifest.mbdb");
    if (!args.json())
        cliOut(QStringLiteral("Device name: %1\nUDID: %2\nProduct: %3\nVersion: %4\nSerial number: %5\nDate: %6\n"
                              "Encrypted: %7\nLayout: %8\n")
                   .arg(backup.deviceName, backup.udid, backup.productType, backup.productVersion,
                        backup.serialNumber, date, backup.isEncrypted ? QStringLiteral("yes") : QStringLiteral("no"),
                        layout));
    const int code = openAndLoadItunesBackup(backup, options);
    if (code != exitcode::kSuccess)
        return code;
    QStringList apps;
    QJsonArray appsJson;
    for (const WhatsAppApp* app : IOSLoadWAFromiTunesThread::appsInBackup(backup)) {
        apps << app->name;
        appsJson.append(app->cliName);
    }
    if (args.json()) {
        cliOutJson(QJsonObject{{QStringLiteral("deviceName"), backup.deviceName},
                               {QStringLiteral("udid"), backup.udid},
                               {QStringLiteral("product"), backup.productType},
                               {QStringLiteral("version"), backup.productVersion},
                               {QStringLiteral("serialNumber"), backup.serialNumber},
                               {QStringLiteral("date"), date},
                               {QStringLiteral("encrypted"), backup.isEncrypted},
                               {QStringLiteral("layout"), layout},
                               {QStringLiteral("folder"), QDir::toNativeSeparators(backup.folder.absolutePath())},
                               {QStringLiteral("records"), qint64(backup.records.count())},
                               {QStringLiteral("apps"), appsJson}});
        return exitcode::kSuccess;
    }
    // The WhatsApp apps the backup really holds.
    cliOut(QStringLiteral("Records: %1\nApps: %2\n")
               .arg(backup.records.count())
               .arg(apps.isEmpty() ? QStringLiteral("none") : apps.join(QStringLiteral(", "))));
    return exitcode::kSuccess;
}

const CliRegistrar reg({
    .name = QStringLiteral("itunes-info"),
    .summary = QStringLiteral("show the device, date, encryption, manifest layout and record count of an iTunes "
                              "backup, and the WhatsApp apps it holds"),
    .arguments = {{QStringLiteral("FOLDER"), QStringLiteral("the backup folder (the one holding Manifest.plist)")}},
    .options = backupPasswordOptions(),
    .examples = {QStringLiteral("itunes-info ~/Apple/MobileSync/Backup/00008030-001A2B3C4D5E6F70 --password-env BKPW")},
    .json = true,
    .run = run,
});

}  // namespace
