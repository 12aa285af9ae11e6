// device-snapshot UDID: saves the chats device-load last loaded from the
// phone as its snapshot (read as snapshot:UDID); an earlier snapshot's
// database moves into Documents/db_<ms>, its media files stay.
#include "base/apperror.h"
#include "cli/clicommand.h"
#include "cli/clioutput.h"
#include "cli/deviceclisupport.h"
#include "cli/exitcodes.h"
#include "cli/itunesclisupport.h"
#include "device/ioscachefolders.h"

#include <QDir>

namespace {

int run(const CliArgs& args)
{
    const QString udid = args.arg(0);
    if (!requirePlainUdid(udid))
        return exitcode::kFailure;
    IOSDeviceInfo device;
    device.udid = udid;
    FunctionJob job(QStringLiteral("Saving messages cache..."), [&](JobMonitor&) {
        saveDeviceSnapshot(device);
        return QStringLiteral("Save messages cache successfully.");
    });
    PlainConsoleMonitor monitor;
    const int code = monitor.runJob(job);
    if (code == exitcode::kSuccess)
        cliOut(QStringLiteral("Snapshot: %1\n").arg(QDir::toNativeSeparators(whatsAppSnapshotFolder(device))));
    return code;
}

const CliRegistrar reg({
    .name = QStringLiteral("device-snapshot"),
    .summary = QStringLiteral("save the chats device-load last loaded from an iPhone as its snapshot "
                              "(snapshot:UDID); a failed save leaves the previous snapshot as it was"),
    .arguments = {{QStringLiteral("UDID"), QStringLiteral("the phone (see the devices command)")}},
    .options = {},
    .examples = {QStringLiteral("device-snapshot 00008030-001A2B3C4D5E6F70")},
    .json = false,
    .run = run,
});

}  // namespace
