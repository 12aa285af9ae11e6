// pair UDID [--wait SECONDS]: makes the iPhone trust this computer; with
// --wait it asks again every second while the phone waits for "Trust".
#include "cli/clicommand.h"
#include "cli/deviceclisupport.h"
#include "cli/exitcodes.h"
#include "cli/itunesclisupport.h"
#include "device/deviceconnection.h"

#include <QElapsedTimer>
#include <QThread>

namespace {

const char* const kUsage =
    "usage: quillometry-cli pair UDID [--wait SECONDS]\n"
    "Pairs with the iPhone; tap \"Trust\" on the phone. With --wait it retries every second for that long.\n"
    "A refused pairing leaves no pairing record behind.\n"
    "example: quillometry-cli pair 00008030-001A2B3C4D5E6F70 --wait 30\n";

int run(const QStringList& args)
{
    DeviceCliArgs a;
    QString error;
    if (!parseDeviceCliArgs(args, {QStringLiteral("--wait")}, {}, &a, &error) || a.help || a.positional.size() != 1)
        return deviceCliUsage(QString::fromLatin1(kUsage), a.help && error.isEmpty(), error);
    int wait = 0;
    if (!secondsOption(a, QStringLiteral("--wait"), 0, 0, &wait))
        return deviceCliUsage(QString::fromLatin1(kUsage), false, QStringLiteral("--wait needs a number of seconds"));
    const QString udid = a.positional.first();
    if (!requirePlainUdid(udid) || !requireUsbDaemon())
        return exitcode::kFailure;
    QElapsedTimer waited;
    waited.start();
    bool told = false;
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
    cliErr(QStringLiteral("error: %1\n").arg(plainText(error).trimmed()));
    return exitcode::kFailure;
}

CliRegistrar reg({QStringLiteral("pair"), QStringLiteral("pair UDID [--wait SECONDS]"),
                  QStringLiteral("make a connected iPhone trust this computer"), run});

}  // namespace
