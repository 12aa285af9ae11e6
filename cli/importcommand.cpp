// import FOLDER [--to NAME] [--app whatsapp|business]: what the window's
// "Import from iTunes Backup" does. Without --app the backup's only app is
// taken; a backup with both gives WhatsApp and a note naming --app business. The WhatsApp files of the backup are copied (decrypted) into the
// import cache, opened as a chat database, and all of their messages saved
// into a local database: the one named by --to (matched without regard to
// case, created when missing), else the device name followed by "_Backup"
// ("_Business_Backup" for WhatsApp Business).
// Importing into an existing local database copies into that database's
// folder, as its own entry in the window does.
#include "base/apperror.h"
#include "base/datafolder.h"
#include "chatstore/backupmessagesthread.h"
#include "chatstore/loadwhatsappdbthread.h"
#include "chatstore/localdatabases.h"
#include "chatstore/wamsgsdatasource.h"
#include "chatstore/whatsappapp.h"
#include "cli/chatsource.h"
#include "cli/clicommand.h"
#include "cli/consolemonitor.h"
#include "cli/exitcodes.h"
#include "cli/itunesclisupport.h"
#include "itunes/backupmanifest.h"
#include "itunes/iosloadwafromitunesthread.h"

#include <QDir>

namespace {

const QString kUsage = QStringLiteral(
    "usage: quillometry-cli import FOLDER [--to NAME] [--app whatsapp|business] [--password P | --password-env NAME]\n"
    "example: quillometry-cli import ~/Backups/00008030-001A2B3C4D5E6F70 --app business\n");

int run(const QStringList& args)
{
    // --to is this command's own; the rest are the itunes-* options.
    QStringList rest;
    QString to;
    bool hasTo = false;
    const WhatsAppApp* chosenApp = nullptr;
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--app")) {
            chosenApp = i + 1 < args.size() ? WhatsAppApp::find(args[i + 1]) : nullptr;
            if (!chosenApp) {
                cliErr(kUsage + QStringLiteral("--app takes whatsapp or business\n"));
                return exitcode::kUsage;
            }
            ++i;
        } else if (args[i] == QLatin1String("--to")) {
            if (i + 1 >= args.size()) {
                cliErr(kUsage + QStringLiteral("--to needs a value\n"));
                return exitcode::kUsage;
            }
            to = args[++i];
            hasTo = true;
        } else {
            rest << args[i];
        }
    }
    ItunesCliOptions options;
    QString error;
    if (!parseItunesCliOptions(rest, false, &options, &error) || options.positional.size() != 1) {
        cliErr(kUsage + (error.isEmpty() ? QString() : error + QLatin1Char('\n')));
        return exitcode::kUsage;
    }
    if (hasTo) {
        const int nameCode = checkLocalDbName(to);
        if (nameCode != exitcode::kSuccess)
            return nameCode;
    }

    BackupManifest backup(options.positional.first());
    int code = openAndLoadItunesBackup(backup, options);
    if (code != exitcode::kSuccess)
        return code;

    const QList<const WhatsAppApp*> apps = IOSLoadWAFromiTunesThread::appsInBackup(backup);
    const WhatsAppApp& app = chosenApp ? *chosenApp : apps.size() == 1 ? *apps.first() : WhatsAppApp::messenger();
    if (!chosenApp && apps.size() > 1)
        cliErr(QStringLiteral("note: this backup also holds %1; import it with --app %2\n")
                   .arg(WhatsAppApp::business().name, WhatsAppApp::business().cliName));

    const QString base = localDatabasesFolder();
    const QString name = hasTo ? to : IOSLoadWAFromiTunesThread::proposedDatabaseName(backup, QString(), app);
    const QString existing = matchLocalDatabaseName(name, localDatabaseNames(base));
    const QString targetFolder = hasTo && !existing.isEmpty() ? QDir(base).filePath(existing) : QString();

    IOSLoadWAFromiTunesThread copy(backup, targetFolder, app);
    {
        ConsoleMonitor monitor;
        code = monitor.runJob(copy);
        if (code != exitcode::kSuccess)
            return code;
    }

    PChatDbView view;
    {
        LoadWhatsAppDbThread load(IOSLoadWAFromiTunesThread::openLoadedDb(copy.appFolder()));
        ConsoleMonitor monitor;
        code = monitor.runJob(load);
        if (code != exitcode::kSuccess)
            return code;
        if (load.failed()) {
            cliErr(QStringLiteral("error: %1\n").arg(load.errorText()));
            return exitcode::kFailure;
        }
        view = load.takeResult(false);
    }

    LocalDatabase target;
    try {
        target = findOrCreateLocalDatabase(name, base);
    } catch (const std::exception& e) {
        cliErr(QStringLiteral("error: %1\n").arg(errorText(e)));
        return exitcode::kFailure;
    }
    BackupMessagesThread save(target.db, std::make_shared<WAMsgsDataSource>(view, nullptr, true));
    ConsoleMonitor monitor;
    code = monitor.runJob(save);
    target.db->closeDb();
    if (code != exitcode::kSuccess) {
        // A database this command created and could not fill is not left
        // behind as an empty one.
        if (target.created)
            removeLocalDatabase(target.name, base);
        return code;
    }
    cliOut(QStringLiteral("Imported %1 messages (%2 new) into the local database \"%3\".\n")
               .arg(save.sourceCount())
               .arg(save.addedCount())
               .arg(target.name));
    return exitcode::kSuccess;
}

CliRegistrar reg({QStringLiteral("import"),
                  QStringLiteral("import FOLDER [--to NAME] [--app whatsapp|business] [--password P | --password-env NAME]"),
                  QStringLiteral("load WhatsApp (or WhatsApp Business) from an iTunes backup and save its messages into "
                                 "a local database (device name + \"_Backup\" or \"_Business_Backup\" unless --to "
                                 "names one)"),
                  run});

}  // namespace
