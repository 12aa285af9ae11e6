// quillometry-cli update-check [--host HOST[:PORT]] [--force]: the window's
// start-up check without a window. Follows the daily rule on the data
// folder's stamp unless --force, sends the update and advert requests and
// writes the same files the window writes; prints one line.
#include "base/datafolder.h"
#include "cli/clicommand.h"
#include "cli/clioutput.h"
#include "cli/exitcodes.h"
#include "cli/onlineclisupport.h"
#include "online/onlineservices.h"

#include <QDateTime>
#include <QEventLoop>

namespace {

int run(const CliArgs& args)
{
    QString host;
    int code = exitcode::kSuccess;
    if (!vendorHostFor(args, &host, &code))
        return code;

    OnlineServices services(host, dataFolder());
    if (!args.isSet(QStringLiteral("force")) && !services.isCheckDue(QDateTime::currentSecsSinceEpoch())) {
        const QDateTime last = QDateTime::fromSecsSinceEpoch(services.lastCheckTime().value_or(0), Qt::UTC);
        cliOut(QStringLiteral("not due (last check %1 UTC)\n").arg(last.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))));
        return exitcode::kSuccess;
    }

    QEventLoop loop;
    int pending = 2;
    OnlineAnswer update;
    OnlineAnswer advert;
    QObject::connect(&services, &OnlineServices::checkVersionReadyRead, [&](const OnlineAnswer& answer) {
        update = answer;
        if (--pending == 0)
            loop.quit();
    });
    QObject::connect(&services, &OnlineServices::advLinkRead, [&](const OnlineAnswer& answer) {
        advert = answer;
        if (--pending == 0)
            loop.quit();
    });
    if (!services.startOnlineChecks(true))
        return noVendorServer();
    loop.exec();

    if (!update.isOk()) {
        // A check the server did not answer leaves both files as they were.
        cliErr(QStringLiteral("no answer from %1 (%2)\n").arg(host, update.reason()));
        return exitcode::kFailure;
    }
    const UpdateVerdict verdict = services.takeUpdateAnswer(update);
    services.takeAdvertAnswer(advert);
    switch (verdict.kind) {
    case UpdateVerdict::UpToDate:
        cliOut(QStringLiteral("up to date\n"));
        return exitcode::kSuccess;
    case UpdateVerdict::Obsolete:
        cliOut(verdict.link.toString(QUrl::FullyEncoded) + QLatin1Char('\n'));
        return exitcode::kObsolete;
    case UpdateVerdict::Unreadable:
        break;
    }
    cliErr(QStringLiteral("no answer from %1 (the answer could not be read)\n").arg(host));
    return exitcode::kFailure;
}

const CliRegistrar reg({
    .name = QStringLiteral("update-check"),
    .summary = QStringLiteral("ask the vendor's server whether this version is current, as the window does once a "
                              "day; exit 5 when it is obsolete"),
    .arguments = {},
    .options = {vendorHostOption(),
                {QStringLiteral("force"), QString(), QStringLiteral("check even when the last check is recent")}},
    .examples = {QStringLiteral("update-check --host updates.example.com"),
                 QStringLiteral("update-check --host 127.0.0.1:8080 --force")},
    .json = false,
    .run = run,
});

}  // namespace
