// import FOLDER [--to NAME] [--app whatsapp|business]: what the window's
// "Import from iTunes Backup" does. Without --app the backup's only app is
// taken; a backup holding both gives WhatsApp and a note naming --app
// business. The WhatsApp files of the backup are copied (decrypted) into the
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

int run(const CliArgs& args)
{
    const WhatsAppApp* chosenApp = nullptr;
    if (args.isSet(QStringLiteral("app"))) {
        chosenApp = WhatsAppApp::find(args.value(QStringLiteral("app")));
        if (!chosenApp) {
            cliErr(QStringLiteral("error: --app takes whatsapp or business, not \"%1\".\n")
                       .arg(args.value(QStringLiteral("app"))));
            return exitcode::kUsage;
        }
    }
    const QString to = args.value(QStringLiteral("to"));
    const bool hasTo = args.isSet(QStringLiteral("to"));
    if (hasTo) {
        const int nameCode = checkLocalDbName(to);
        if (nameCode != exitcode::kSuccess)
            return nameCode;
    }
    const ItunesCliOptions options = itunesCliOptions(args);
    BackupManifest backup(args.arg(0));
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
    // The name is checked before anything is copied.
    if (const int nameCode = checkLocalDbName(name); nameCode != exitcode::kSuccess)
        return nameCode;
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
        discardCreatedLocalDatabase(target, base);
        return code;
    }
    cliOut(QStringLiteral("Imported %1 messages (%2 new) into the local database \"%3\".\n")
               .arg(save.sourceCount())
               .arg(save.addedCount())
               .arg(target.name));
    return exitcode::kSuccess;
}

const CliRegistrar reg({
    .name = QStringLiteral("import"),
    .summary = QStringLiteral("load WhatsApp (or WhatsApp Business) from an iTunes backup and save its messages "
                              "into a local database (device name + \"_Backup\" or \"_Business_Backup\" unless "
                              "--to names one)"),
    .arguments = {{QStringLiteral("FOLDER"), QStringLiteral("the backup folder (see itunes-list)")}},
    .options = QList<CliOption>{{QStringLiteral("to"), QStringLiteral("NAME"),
                                 QStringLiteral("the local database to save into (created when missing)")},
                                {QStringLiteral("app"), QStringLiteral("whatsapp|business"),
                                 QStringLiteral("which app to import (default: the one the backup holds; "
                                                "WhatsApp when it holds both)")}} +
               backupPasswordOptions(),
    .examples = {QStringLiteral("import /tmp/demo-backup --password \"s3cret pw\""),
                 QStringLiteral("import ~/bk --to Anna_Backup --password-env BKPW"),
                 QStringLiteral("import ~/bk --app business")},
    .json = false,
    .run = run,
});

}  // namespace
