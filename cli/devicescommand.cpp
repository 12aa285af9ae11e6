// devices [--watch SECONDS]: the connected iPhones, one "UDID<tab>name" line
// each; with --watch also every arrival and removal for that long.
#include "cli/clicommand.h"
#include "cli/clioutput.h"
#include "cli/deviceclisupport.h"
#include "cli/exitcodes.h"
#include "device/deviceconnection.h"
#include "device/mobiledevicesubscribe.h"

#include <QCoreApplication>
#include <QTimer>

namespace {

int run(const CliArgs& args)
{
    int watch = 0;
    if (!secondsOption(args, QStringLiteral("watch"), 1, 0, &watch))
        return exitcode::kUsage;
    if (!requireUsbDaemon())
        return exitcode::kFailure;
    QStringList udids;
    if (!listConnectedUdids(&udids)) {
        cliError(QStringLiteral("the USB daemon did not list the devices"));
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
        cliError(QStringLiteral("could not subscribe to device events"));
        return exitcode::kFailure;
    }
    QTimer::singleShot(watch * 1000, QCoreApplication::instance(), &QCoreApplication::quit);
    QCoreApplication::exec();
    subscriber.stop();
    return exitcode::kSuccess;
}

const CliRegistrar reg({
    .name = QStringLiteral("devices"),
    .summary = QStringLiteral("list the connected iPhones as \"UDID<tab>name\"; --watch then prints \"attached UDID\" "
                              "and \"detached UDID\" as phones come and go"),
    .arguments = {},
    .options = {{QStringLiteral("watch"), QStringLiteral("SECONDS"), QStringLiteral("watch arrivals and removals "
                                                                                     "this long")}},
    .examples = {QStringLiteral("devices --watch 60")},
    .json = false,
    .run = run,
});

}  // namespace
