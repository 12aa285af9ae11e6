// transfer-undo UDID [--list | --copy ID] [--yes] [--password P |
// --password-env NAME] [--host HOST[:PORT]]: writes the phone's WhatsApp
// databases from before a transfer back to it. The phone's data is
// refreshed first, and the command says how many messages the phone has
// received since (the undo drops them) and asks before it goes on. Media
// files the transfer added stay on the phone as unused files.
#include "cli/clicommand.h"
#include "cli/clioutput.h"
#include "cli/deviceclisupport.h"
#include "cli/exitcodes.h"
#include "cli/itunesclisupport.h"
#include "cli/onlineclisupport.h"
#include "device/iosdevicetransfer.h"

#include <QDir>
#include <QLocale>
#include <QTextStream>

#include <unistd.h>

namespace {

int list(const IOSDeviceInfo& device)
{
    const QList<PreTransferCopy> copies = preTransferCopies(device);
    if (copies.isEmpty()) {
        cliOut(QStringLiteral("No copies from before a transfer to %1.\n").arg(device.udid));
        return exitcode::kSuccess;
    }
    for (const PreTransferCopy& copy : copies) {
        QStringList files;
        for (const PreTransferFile& f : copy.files)
            files << f.relativePath;
        cliOut(QStringLiteral("%1  %2  %3  %4\n")
                   .arg(copy.id, QLocale::system().toString(copy.time, QLocale::ShortFormat),
                        copy.transferred ? QStringLiteral("transferred") : QStringLiteral("transfer failed"),
                        files.join(QStringLiteral(", "))));
    }
    return exitcode::kSuccess;
}

int run(const CliArgs& args)
{
    const QString udid = args.arg(0);
    if (!requirePlainUdid(udid))
        return exitcode::kFailure;
    auto device = std::make_shared<IOSDeviceInfo>();
    device->udid = udid;
    if (args.isSet(QStringLiteral("list"))) {
        if (args.isSet(QStringLiteral("copy"))) {
            cliError(QStringLiteral("--list and --copy do not go together."));
            return exitcode::kUsage;
        }
        return list(*device);
    }
    // A bad --host is a usage error before the phone is asked anything.
    bool mode = false;
    int code = exitcode::kSuccess;
    if (!transferSystemMode(args, &mode, &code))
        return code;
    const bool yes = args.isSet(QStringLiteral("yes"));
    if (!yes && !isatty(STDIN_FILENO)) {
        cliError(QStringLiteral("Standard input is not a terminal; add --yes to write the copy back without asking."));
        return exitcode::kUsage;
    }
    const ItunesCliOptions options = itunesCliOptions(args);
    const PIOSDeviceInfo phone = pairedDevice(udid, options);
    if (!phone)
        return exitcode::kFailure;

    ConsoleLoadFrontend frontend(options);
    IOSDeviceTransferUndo undo(phone, args.value(QStringLiteral("copy")));
    undo.setSystemMode(mode);
    const auto confirm = [&](qint64 dropped) {
        cliErr(QStringLiteral("Copy %1 of %2 holds the WhatsApp databases from before that transfer. The iPhone "
                              "received %3 messages since; writing the copy back drops them.\n")
                   .arg(undo.copy().id, QLocale::system().toString(undo.copy().time, QLocale::ShortFormat))
                   .arg(dropped));
        if (yes)
            return true;
        cliErr(QStringLiteral("Write the copy back to %1? [y/N] ").arg(phone->name.isEmpty() ? udid : phone->name));
        QTextStream in(stdin);
        const QString answer = in.readLine().trimmed().toLower();
        return answer == QLatin1String("y") || answer == QLatin1String("yes");
    };
    const IOSDeviceTransfer::Outcome outcome = undo.run(frontend, confirm);
    if (outcome == IOSDeviceTransfer::Outcome::Cancelled)
        cliErr(QStringLiteral("cancelled\n"));
    if (const int ran = transferExitCode(outcome, frontend); ran != exitcode::kSuccess)
        return ran;
    cliOut(QStringLiteral("The WhatsApp databases of %1 are back as they were before the transfer (copy %2); %3 "
                          "messages received since were dropped. Media files the transfer added stay on the iPhone "
                          "as unused files. The iPhone restarts now.\n")
               .arg(phone->name.isEmpty() ? udid : phone->name, undo.copy().id)
               .arg(undo.dropped()));
    return exitcode::kSuccess;
}

const CliRegistrar reg({
    .name = QStringLiteral("transfer-undo"),
    .summary = QStringLiteral("write an iPhone's WhatsApp databases from before a transfer back to it (the copy "
                              "of the newest transfer that reached the phone, or --copy ID); says how many messages received since it drops and asks first"),
    .arguments = {{QStringLiteral("UDID"), QStringLiteral("the phone (see the devices command)")}},
    .options = QList<CliOption>{{QStringLiteral("list"), QString(),
                                 QStringLiteral("list the saved copies (newest first) and change nothing")},
                                {QStringLiteral("copy"), QStringLiteral("ID"), QStringLiteral("the copy to write back")},
                                {QStringLiteral("yes"), QString(),
                                 QStringLiteral("do not ask (needed without a terminal)")}} +
               backupPasswordOptions() + QList<CliOption>{vendorHostOption()},
    .examples = {QStringLiteral("transfer-undo 00008101-000A11B22C33D440 --list"),
                 QStringLiteral("transfer-undo 00008101-000A11B22C33D440 --copy 1765411200000 --yes")},
    .json = false,
    .run = run,
});

}  // namespace
