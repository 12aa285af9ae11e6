// devices [--watch SECONDS]: the connected iPhones, one "UDID<tab>name" line
// each; with --watch also every arrival and removal for that long.
#include "cli/clicommand.h"
#include "cli/deviceclisupport.h"
#include "cli/exitcodes.h"
#include "cli/itunesclisupport.h"
#include "device/deviceconnection.h"
#include "device/mobiledevicesubscribe.h"

#include <QCoreApplication>
#include <QTimer>

namespace {

const char* const kUsage =
    "usage: quillometry-cli devices [--watch SECONDS]\n"
    "Lists the connected iPhones as \"UDID<tab>name\"; with --watch it then prints \"attached UDID\" and\n"
    "\"detached UDID\" as phones come and go, for SECONDS seconds.\n"
    "example: quillometry-cli devices --watch 60\n";

int run(const QStringList& args)
{
    DeviceCliArgs a;
    QString error;
    if (!parseDeviceCliArgs(args, {QStringLiteral("--watch")}, {}, &a, &error) || a.help || !a.positional.isEmpty())
        return deviceCliUsage(QString::fromLatin1(kUsage), a.help && error.isEmpty(), error);
    int watch = 0;
    if (!secondsOption(a, QStringLiteral("--watch"), 1, 0, &watch))
        return deviceCliUsage(QString::fromLatin1(kUsage), false, QStringLiteral("--watch needs a number of seconds"));
    if (!requireUsbDaemon())
        return exitcode::kFailure;
    QStringList udids;
    if (!listConnectedUdids(&udids)) {
        cliErr(QStringLiteral("error: the USB daemon did not list the devices\n"));
        return exitcode::kFailure;
    }
    for (const QString& udid : udids)
        cliOut(QStringLiteral("%1\t%2\n").arg(udid, readPublicDeviceName(udid)));
    if (watch == 0)
        return exitcode::kSuccess;

    // The subscriber starts no daemon here (empty command).
    MobiledeviceSubscribe subscriber(QStringList{});
    QObject::connect(&subscriber, &MobiledeviceSubscribe::newDevice, &subscriber,
                     [](const QString& udid) { cliOut(QStringLiteral("attached %1\n").arg(udid)); });
    QObject::connect(&subscriber, &MobiledeviceSubscribe::kickDevice, &subscriber,
                     [](const QString& udid) { cliOut(QStringLiteral("detached %1\n").arg(udid)); });
    if (!subscriber.start()) {
        cliErr(QStringLiteral("error: could not subscribe to device events\n"));
        return exitcode::kFailure;
    }
    QTimer::singleShot(watch * 1000, QCoreApplication::instance(), &QCoreApplication::quit);
    QCoreApplication::exec();
    subscriber.stop();
    return exitcode::kSuccess;
}

CliRegistrar reg({QStringLiteral("devices"), QStringLiteral("devices [--watch SECONDS]"),
                  QStringLiteral("list the connected iPhones (UDID and name); --watch prints arrivals and removals"),
                  run});

}  // namespace
