// device-load UDID [--password P | --password-env NAME] [--app whatsapp|business]:
// what the window does when a phone arrives: pairing, then a WhatsApp-only
// backup into the temporary backup folder (incremental after the first
// load), the backup unlocked with the phone's backup password, and WhatsApp's
// files copied into the phone's cache folder, which the other commands then
// read as device:UDID.
#include "base/apperror.h"
#include "chatstore/loadwhatsappdbthread.h"
#include "chatstore/whatsappapp.h"
#include "cli/chatsource.h"
#include "cli/clicommand.h"
#include "cli/clioutput.h"
#include "cli/deviceclisupport.h"
#include "cli/exitcodes.h"
#include "cli/itunesclisupport.h"
#include "device/deviceconnection.h"
#include "device/iosloadwhatsappthread.h"

namespace {

int run(const CliArgs& args)
{
    const QString udid = args.arg(0);
    const WhatsAppApp* app = &WhatsAppApp::messenger();
    if (args.isSet(QStringLiteral("app"))) {
        app = WhatsAppApp::find(args.value(QStringLiteral("app")));
        if (!app) {
            cliError(QStringLiteral("--app takes whatsapp or business, not \"%1\".").arg(args.value(QStringLiteral("app"))));
            return exitcode::kUsage;
        }
    }
    if (!requirePlainUdid(udid))
        return exitcode::kFailure;
    // Given on the command line, the password is tried before anything is asked.
    const ItunesCliOptions options = itunesCliOptions(args);
    const PIOSDeviceInfo device = pairedDevice(udid, options);
    if (!device)
        return exitcode::kFailure;

    ConsoleLoadFrontend frontend(options);
    IOSDeviceLoad load(device, *app);
    switch (load.run(frontend)) {
    case IOSDeviceLoad::Outcome::Loaded:
        break;
    case IOSDeviceLoad::Outcome::Cancelled:
        return exitcode::kCancelled;
    case IOSDeviceLoad::Outcome::PasswordRefused:
        return exitcode::kPassword;
    case IOSDeviceLoad::Outcome::Failed:
    case IOSDeviceLoad::Outcome::CloudBackupOn:
    case IOSDeviceLoad::Outcome::NoWhatsApp:
        return exitcode::kFailure;
    }

    ChatSource source;
    if (!openChatSource(QStringLiteral("device:") + udid, &source))
        return exitcode::kFailure;
    int code = exitcode::kSuccess;
    const PChatDbView view = loadChatSource(source, &code);
    if (!view)
        return code;
    qint64 messages = 0;
    try {
        for (const auto& [pk, session] : view->index().sessions)
            messages += view->database()->countMessages(session.get());
    } catch (const std::exception& e) {
        cliError(chatDatabaseErrorText(source.db->databasePath(), e));
        return exitcode::kFailure;
    }
    cliOut(QStringLiteral("Loaded %1 from %2 (%3 backup)\n")
               .arg(app->name, device->name.isEmpty() ? udid : device->name,
                    load.wasIncremental() ? QStringLiteral("incremental") : QStringLiteral("full")));
    cliOut(QStringLiteral("Chats: %1\nMessages: %2\n").arg(view->index().sessions.size()).arg(messages));
    cliOut(QStringLiteral("Read it as device:%1\n").arg(udid));
    return exitcode::kSuccess;
}

const CliRegistrar reg({
    .name = QStringLiteral("device-load"),
    .summary = QStringLiteral("load WhatsApp from a connected iPhone into its cache folder (pairing, a WhatsApp-only "
                              "backup, the copy), as the window does when the phone arrives; read it as device:UDID"),
    .arguments = {{QStringLiteral("UDID"), QStringLiteral("the phone (see the devices command)")}},
    .options = QList<CliOption>{{QStringLiteral("app"), QStringLiteral("whatsapp|business"),
                                 QStringLiteral("which app to load (default whatsapp)")}} +
               backupPasswordOptions(),
    .examples = {QStringLiteral("device-load 00008030-001A2B3C4D5E6F70"),
                 QStringLiteral("device-load 00008030-001A2B3C4D5E6F70 --password-env BKPW")},
    .json = false,
    .run = run,
});

}  // namespace
