// itunes-get FOLDER DOMAIN RELATIVE_PATH --out FILE: copy one file out of an
// iTunes backup, decrypted.
#include "base/apperror.h"
#include "cli/clicommand.h"
#include "cli/consolemonitor.h"
#include "cli/exitcodes.h"
#include "cli/itunesclisupport.h"
#include "itunes/backupmanifest.h"

namespace {

int run(const CliArgs& args)
{
    BackupManifest backup(args.arg(0));
    const int code = openItunesBackup(backup, itunesCliOptions(args));
    if (code != exitcode::kSuccess)
        return code;
    const QString domain = args.arg(1);
    const QString relativePath = args.arg(2);
    const QString out = args.value(QStringLiteral("out"));
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

const CliRegistrar reg({
    .name = QStringLiteral("itunes-get"),
    .summary = QStringLiteral("copy one file out of an iTunes backup, decrypted"),
    .arguments = {{QStringLiteral("FOLDER"), QStringLiteral("the backup folder")},
                  {QStringLiteral("DOMAIN"), QStringLiteral("the file's domain (see itunes-ls)")},
                  {QStringLiteral("RELATIVE_PATH"), QStringLiteral("the file's path inside its domain")}},
    .options = QList<CliOption>{{QStringLiteral("out"), QStringLiteral("FILE"), QStringLiteral("where to write the file"),
                                 true}} +
               backupPasswordOptions(),
    .examples = {QStringLiteral("itunes-get ~/bk AppDomainGroup-group.net.whatsapp.WhatsApp.shared ChatStorage.sqlite "
                                "--out /tmp/ChatStorage.sqlite --password-env BKPW")},
    .json = false,
    .run = run,
});

}  // namespace
