// itunes-get FOLDER DOMAIN RELATIVE_PATH --out FILE: copy one file out of an
// iTunes backup, decrypted.
#include "base/apperror.h"
#include "cli/clicommand.h"
#include "cli/consolemonitor.h"
#include "cli/exitcodes.h"
#include "cli/itunesclisupport.h"
#include "itunes/backupmanifest.h"

namespace {

int run(const QStringList& args)
{
    ItunesCliOptions options;
    QString error;
    if (!parseItunesCliOptions(args, true, &options, &error) || options.positional.size() != 3
        || options.out.isEmpty()) {
        cliErr(QStringLiteral("usage: quillometry-cli itunes-get FOLDER DOMAIN RELATIVE_PATH --out FILE "
                              "[--password P | --password-env NAME]\n%1")
                   .arg(error.isEmpty() ? QString() : error + QLatin1Char('\n')));
        return exitcode::kUsage;
    }
    BackupManifest backup(options.positional[0]);
    const int code = openItunesBackup(backup, options);
    if (code != exitcode::kSuccess)
        return code;
    const QString domain = options.positional[1];
    const QString relativePath = options.positional[2];
    const QString out = options.out;
    FunctionJob job(QStringLiteral("Copying %1").arg(relativePath), [&](JobMonitor& monitor) {
        backup.loadThrow();
        const MBDBRecord* record = backup.records.find(MBDBParser::fileIdOf(domain, relativePath));
        if (!record)
            throw AppError(QStringLiteral("%1 %2 is not in this backup").arg(domain, relativePath));
        if (record->isFolder() || record->isLink())
            throw AppError(QStringLiteral("%1 %2 is not a regular file").arg(domain, relativePath));
        backup.copyRecordThrow(*record, out, {}, [&](qint64 total, qint64 done, const QVariant&) {
            throwIfCancelled(monitor);
            monitor.postProgress(QString(), total > 0 ? int(done * 100 / total) : 100, QString());
        });
        return QString();
    });
    ConsoleMonitor monitor;
    return monitor.runJob(job);
}

CliRegistrar reg({QStringLiteral("itunes-get"),
                  QStringLiteral("itunes-get FOLDER DOMAIN RELATIVE_PATH --out FILE [--password P | --password-env NAME]"),
                  QStringLiteral("copy one file out of an iTunes backup, decrypted"), run});

}  // namespace
