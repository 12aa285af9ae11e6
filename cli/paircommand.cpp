// pair UDID [--wait SECONDS]: makes the iPhone trust this computer; with
// --wait it asks again every second while the phone waits for "Trust".
#include "cli/clicommand.h"
#include "cli/clioutput.h"
#include "cli/deviceclisupport.h"
#include "cli/exitcodes.h"
#include "device/deviceconnection.h"

#include <QElapsedTimer>
#include <QThread>

namespace {

int run(const CliArgs& args)
{
    int wait = 0;
    if (!secondsOption(args, QStringLiteral("wait"), 0, 0, &wait))
        return exitcode::kUsage;
    const QString udid = args.arg(0);
    if (!requirePlainUdid(udid) || !requireUsbDaemon())
        return exitcode::kFailure;
    QElapsedTimer waited;
    waited.start();
    bool told = false;
    QString error;
    for (;;) {
        if (pairDevice(udid, &error)) {
            cliOut(QStringLiteral("Paired with %1\n").arg(udid));
            return exitcode::kSuccess;
        }
        if (waited.elapsed() >= qint64(wait) * 1000)
            break;
        if (!told) {
            cliErr(QStringLiteral("Tap \"Trust\" on the iPhone %1 ...\n").arg(udid));
            told = true;
        }
        QThread::sleep(1);
    }
    cliError(plainText(error).trimmed());
    return exitcode::kFailure;
}

const CliRegistrar reg({
    .name = QStringLiteral("pair"),
    .summary = QStringLiteral("make a connected iPhone trust this computer (tap \"Trust\" on the phone); a refused "
                              "pairing leaves no pairing record"),
    .arguments = {{QStringLiteral("UDID"), QStringLiteral("the phone (see the devices command)")}},
    .options = {{QStringLiteral("wait"), QStringLiteral("SECONDS"), QStringLiteral("ask again every second this "
                                                                                    "long")}},
    .examples = {QStringLiteral("pair 00008030-001A2B3C4D5E6F70 --wait 30")},
    .json = false,
    .run = run,
});

}  // namespace
