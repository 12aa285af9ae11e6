// quillometry-cli update-check [--host HOST[:PORT]] [--force]: the window's
// start-up check without a window. Follows the daily rule on the data
// folder's stamp unless --force, sends the update and advert requests and
// writes the same files the window writes; prints one line.
#include "base/datafolder.h"
#include "cli/clicommand.h"
#include "cli/exitcodes.h"
#include "cli/onlineclisupport.h"
#include "online/onlineservices.h"

#include <QDateTime>
#include <QEventLoop>
#include <QTextStream>

namespace {

int runUpdateCheck(const QStringList& args)
{
    const OnlineCliSpec spec{
        QStringLiteral("update-check [--host HOST[:PORT]] [--force]"),
        QStringLiteral(
            "Runs the daily update check of the window's start-up: when the last check is more than a day old\n"
            "(or with --force) asks the vendor's server whether this version is current and fetches the status-bar\n"
            "advert, and records both in the data folder as the window does. Prints \"up to date\", \"not due (...)\",\n"
            "the download link of a newer version (exit 5) or \"no answer from ...\" (exit 1, nothing written).\n"
            "Without --host the build's vendor server is used; a build without one sends nothing (exit 1).\n"
            "\n"
            "Example:\n"
            "  quillometry-cli update-check --host updates.example.com --force\n"),
        true, false, false};
    OnlineCliArgs a;
    if (const int code = parseOnlineCliArgs(args, spec, a); code >= 0)
        return code;
    QTextStream out(stdout);
    QTextStream err(stderr);
    if (a.host.isEmpty()) {
        err << noVendorServerText() << "\n";
        return exitcode::kFailure;
    }

    OnlineServices services(a.host, dataFolder());
    if (!a.force && !services.isCheckDue(QDateTime::currentSecsSinceEpoch())) {
        const QDateTime last = QDateTime::fromSecsSinceEpoch(services.lastCheckTime().value_or(0), Qt::UTC);
        out << "not due (last check " << last.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) << " UTC)\n";
        return exitcode::kSuccess;
    }

    QEventLoop loop;
    int pending = 2;
    OnlineAnswer update;
    UpdateVerdict verdict;
    QObject::connect(&services, &OnlineServices::checkVersionReadyRead, [&](const OnlineAnswer& answer) {
        update = answer;
        verdict = services.takeUpdateAnswer(answer);
        if (--pending == 0)
            loop.quit();
    });
    QObject::connect(&services, &OnlineServices::advLinkRead, [&](const OnlineAnswer& answer) {
        services.takeAdvertAnswer(answer);
        if (--pending == 0)
            loop.quit();
    });
    if (!services.startOnlineChecks(true)) {
        err << noVendorServerText() << "\n";
        return exitcode::kFailure;
    }
    loop.exec();

    if (!update.isOk()) {
        err << "no answer from " << a.host << " (" << update.reason() << ")\n";
        return exitcode::kFailure;
    }
    switch (verdict.kind) {
    case UpdateVerdict::UpToDate:
        out << "up to date\n";
        return exitcode::kSuccess;
    case UpdateVerdict::Obsolete:
        out << verdict.link.toString(QUrl::FullyEncoded) << "\n";
        return exitcode::kObsolete;
    case UpdateVerdict::Unreadable:
        break;
    }
    err << "no answer from " << a.host << " (the answer could not be read)\n";
    return exitcode::kFailure;
}

const CliRegistrar reg({QStringLiteral("update-check"), QStringLiteral("update-check [--host HOST[:PORT]] [--force]"),
                        QStringLiteral("ask the vendor's server whether this version is current (daily, like the window)"),
                        runUpdateCheck});

}  // namespace
