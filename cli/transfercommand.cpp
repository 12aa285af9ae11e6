// transfer SOURCE --to UDID [--chat JID] [--password P | --password-env NAME]
// [--host HOST[:PORT]]: what the window's "Transfer Messages to iPhone" does.
// The phone's WhatsApp data is refreshed first (an incremental backup and
// the copy into its cache), its own databases are saved as a pre-transfer
// copy, the messages of SOURCE are merged into a working copy, checked,
// written into the phone's WhatsApp-only backup and restored to the phone,
// which then restarts. Any failure leaves the phone, its cache and its
// backup as the refresh found them. snapshot:UDID restores a phone's saved
// snapshot into that phone; --to may then be left out.
#include "chatstore/wamsgsdatasource.h"
#include "cli/chatsource.h"
#include "cli/clicommand.h"
#include "cli/clioutput.h"
#include "cli/deviceclisupport.h"
#include "cli/exitcodes.h"
#include "cli/itunesclisupport.h"
#include "cli/onlineclisupport.h"
#include "device/iosdevicetransfer.h"

namespace {

// The phone a device:UDID or snapshot:UDID source names, else empty.
QString sourcePhone(const QString& source, bool* snapshot)
{
    for (const char* prefix : {"device:", "snapshot:"}) {
        if (source.startsWith(QLatin1String(prefix))) {
            *snapshot = QLatin1String(prefix) == QLatin1String("snapshot:");
            return source.mid(int(qstrlen(prefix)));
        }
    }
    return {};
}

int run(const CliArgs& args)
{
    const QString sourceText = args.arg(0);
    QString udid = args.value(QStringLiteral("to"));
    bool snapshot = false;
    const QString phone = sourcePhone(sourceText, &snapshot);
    if (udid.isEmpty()) {
        if (!snapshot) {
            cliError(QStringLiteral("--to UDID names the iPhone to transfer to (see the devices command); only a "
                                    "snapshot:UDID source goes back to its own phone without it."));
            return exitcode::kUsage;
        }
        udid = phone;
    }
    if (snapshot && udid != phone) {
        cliError(QStringLiteral("A snapshot goes back to its own iPhone: --to must be %1.").arg(phone));
        return exitcode::kUsage;
    }
    if (!snapshot && !phone.isEmpty() && phone == udid) {
        cliError(QStringLiteral("SOURCE is the loaded chats of %1 itself; they are on that iPhone already.").arg(udid));
        return exitcode::kUsage;
    }
    if (!requirePlainUdid(udid))
        return exitcode::kFailure;
    // A bad --host is a usage error before the phone is asked anything.
    bool mode = false;
    int code = exitcode::kSuccess;
    if (!transferSystemMode(args, &mode, &code))
        return code;

    ChatSource source;
    if (!openChatSource(sourceText, &source))
        return exitcode::kFailure;
    PChatSession chat;
    const PChatDbView view = loadChatSource(source, args.value(QStringLiteral("chat")), &chat, &code);
    if (!view)
        return code;
    const PAbsWAMsgsSource messages = std::make_shared<WAMsgsDataSource>(view, chat, true);

    const ItunesCliOptions options = itunesCliOptions(args);
    const PIOSDeviceInfo device = pairedDevice(udid, options);
    if (!device)
        return exitcode::kFailure;

    ConsoleLoadFrontend frontend(options);
    IOSDeviceTransfer transfer(device, messages);
    transfer.setSystemMode(mode);
    if (const int ran = transferExitCode(transfer.run(frontend), frontend); ran != exitcode::kSuccess)
        return ran;
    cliOut(QStringLiteral("%1 messages transferred to %2, %3 new\n")
               .arg(transfer.processed())
               .arg(device->name.isEmpty() ? udid : device->name)
               .arg(transfer.added()));
    cliOut(QStringLiteral("The iPhone restarts now. Undo with: quillometry-cli transfer-undo %1 --copy %2\n")
               .arg(udid, transfer.preTransferCopy().id));
    return exitcode::kSuccess;
}

const CliRegistrar reg({
    .name = QStringLiteral("transfer"),
    .summary = QStringLiteral("merge the messages of SOURCE into the WhatsApp data of a connected iPhone and restore "
                              "it to the phone, which then restarts; the phone's own databases are saved first "
                              "(see transfer-undo), and any failure leaves the phone unchanged"),
    .arguments = {chatSourceArgument(QStringLiteral("the messages to transfer"))},
    .options = QList<CliOption>{{QStringLiteral("to"), QStringLiteral("UDID"),
                                 QStringLiteral("the iPhone to transfer to (see devices); may be left out for "
                                                "snapshot:UDID, which goes back to its own phone")},
                                {QStringLiteral("chat"), QStringLiteral("JID"), QStringLiteral("only this chat")}} +
               backupPasswordOptions() + QList<CliOption>{vendorHostOption()},
    .examples = {QStringLiteral("transfer device:00008030-001A2B3C4D5E6F70 --to 00008101-000A11B22C33D440"),
                 QStringLiteral("transfer Anna_Backup --to 00008101-000A11B22C33D440 --chat 4915550001@s.whatsapp.net "
                                "--password-env BKPW"),
                 QStringLiteral("transfer snapshot:00008101-000A11B22C33D440")},
    .json = false,
    .run = run,
});

}  // namespace
