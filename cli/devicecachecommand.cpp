// device-cache UDID: prints the phone's cache folder, the folder the
// window's "View Cache Files" opens.
#include "cli/clicommand.h"
#include "cli/clioutput.h"
#include "cli/deviceclisupport.h"
#include "cli/exitcodes.h"
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
    try {
        cliOut(QDir::toNativeSeparators(iosCacheFolder(device)) + QLatin1Char('\n'));
    } catch (const std::exception& e) {
        cliError(QString::fromUtf8(e.what()));
        return exitcode::kFailure;
    }
    return exitcode::kSuccess;
}

const CliRegistrar reg({
    .name = QStringLiteral("device-cache"),
    .summary = QStringLiteral("print the cache folder of an iPhone (created when missing), where device-load puts "
                              "its WhatsApp files"),
    .arguments = {{QStringLiteral("UDID"), QStringLiteral("the phone (see the devices command)")}},
    .options = {},
    .examples = {QStringLiteral("device-cache 00008030-001A2B3C4D5E6F70")},
    .json = false,
    .run = run,
});

}  // namespace
