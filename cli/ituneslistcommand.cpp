// itunes-list: the iTunes and Finder backups of the standard backup folders,
// newest first, as the window's chooser lists them.
#include "cli/clicommand.h"
#include "cli/clioutput.h"
#include "cli/exitcodes.h"
#include "cli/itunesclisupport.h"
#include "itunes/backupdiscovery.h"
#include "itunes/backupmanifest.h"

#include <QDir>

namespace {

int run(const CliArgs& args)
{
    // A backup that cannot be read is named once, here; the log keeps its
    // own line (on standard error only with --verbose).
    QStringList unreadable;
    const QList<PBackupManifest> found = findBackups(backupRoots(), [&](const QString& folder, const QString& error) {
        unreadable << backupLoadErrorText(folder, error);
    });
    QList<PBackupManifest> rows;
    QList<QDateTime> dates;
    for (const PBackupManifest& backup : found) {
        const int row = newestFirstRow(dates, backup->date);
        dates.insert(row, backup->date);
        rows.insert(row, backup);
    }
    for (const QString& error : unreadable)
        cliErr(error + QLatin1Char('\n'));
    if (rows.isEmpty() && unreadable.isEmpty()) {
        cliErr(QStringLiteral("No iTunes backup found in:\n"));
        for (const QString& root : backupRoots())
            cliErr(QStringLiteral("  %1\n").arg(QDir::toNativeSeparators(root)));
    }
    if (args.json()) {
        QJsonArray array;
        for (const PBackupManifest& backup : rows) {
            array.append(QJsonObject{
                {QStringLiteral("name"), backup->displayName},
                {QStringLiteral("date"), isoDateWithOffset(backup->date)},
                {QStringLiteral("folder"), QDir::toNativeSeparators(backup->folder.absolutePath())},
                {QStringLiteral("encrypted"), backup->isEncrypted},
                {QStringLiteral("deviceName"), backup->deviceName},
                {QStringLiteral("udid"), backup->udid},
            });
        }
        cliOutJson(array);
        return exitcode::kSuccess;
    }
    QString text;
    for (const PBackupManifest& backup : rows) {
        text += QStringLiteral("%1\t%2\t%3\t%4\n")
                    .arg(backup->displayName, backup->date.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")),
                         QDir::toNativeSeparators(backup->folder.absolutePath()),
                         backup->isEncrypted ? QStringLiteral("encrypted") : QStringLiteral("plain"));
    }
    cliOut(text);
    return exitcode::kSuccess;
}

const CliRegistrar reg({
    .name = QStringLiteral("itunes-list"),
    .summary = QStringLiteral("list the iTunes backups of the standard backup folders, newest first (name, date, "
                              "folder, encrypted or plain)"),
    .arguments = {},
    .options = {},
    .examples = {QStringLiteral("itunes-list"), QStringLiteral("itunes-list --json")},
    .json = true,
    .run = run,
});

}  // namespace
