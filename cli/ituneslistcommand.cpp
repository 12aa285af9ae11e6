// itunes-list: the iTunes and Finder backups of the standard backup folders,
// newest first, as the window's chooser lists them.
#include "cli/clicommand.h"
#include "cli/exitcodes.h"
#include "cli/itunesclisupport.h"
#include "itunes/backupdiscovery.h"
#include "itunes/backupmanifest.h"

#include <QDir>

namespace {

int run(const QStringList& args)
{
    if (!args.isEmpty()) {
        cliErr(QStringLiteral("usage: quillometry-cli itunes-list\n"));
        return exitcode::kUsage;
    }
    const QList<PBackupManifest> found = findBackups(backupRoots(), [](const QString& folder, const QString& error) {
        cliErr(backupLoadErrorText(folder, error) + QLatin1Char('\n'));
    });
    QList<PBackupManifest> rows;
    QList<QDateTime> dates;
    for (const PBackupManifest& backup : found) {
        const int row = newestFirstRow(dates, backup->date);
        dates.insert(row, backup->date);
        rows.insert(row, backup);
    }
    QString text;
    for (const PBackupManifest& backup : rows) {
        text += QStringLiteral("%1\t%2\t%3\t%4\n")
                    .arg(backup->displayName, backup->date.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")),
                         QDir::toNativeSeparators(backup->folder.absolutePath()),
                         backup->isEncrypted ? QStringLiteral("encrypted") : QStringLiteral("plain"));
    }
    if (rows.isEmpty()) {
        cliErr(QStringLiteral("No iTunes backup found in:\n"));
        for (const QString& root : backupRoots())
            cliErr(QStringLiteral("  %1\n").arg(QDir::toNativeSeparators(root)));
    }
    cliOut(text);
    return exitcode::kSuccess;
}

CliRegistrar reg({QStringLiteral("itunes-list"), QStringLiteral("itunes-list"),
                  QStringLiteral("list the iTunes backups of the standard backup folders, newest first "
                                 "(name, date, path, encrypted or plain)"),
                  run});

}  // namespace
