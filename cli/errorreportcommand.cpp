// quillometry-cli error-report TEXT [--host HOST[:PORT]] [--dry-run]: sends
// one error report the way the window's error box does, and waits for the
// server to take it. --dry-run prints the exact body and sends nothing. The
// command line never reports its own errors; only this command sends one.
#include "cli/clicommand.h"
#include "cli/exitcodes.h"
#include "cli/onlineclisupport.h"
#include "online/onlineservices.h"

#include <QEventLoop>
#include <QTextStream>

namespace {

int runErrorReport(const QStringList& args)
{
    const OnlineCliSpec spec{
        QStringLiteral("error-report TEXT [--host HOST[:PORT]] [--dry-run]"),
        QStringLiteral("Sends TEXT to the vendor's server as the window's error box reports an error: the product\n"
                       "name, the version and the text (line-break tags as line ends, the home folder written \"~\"),\n"
                       "each Base64-encoded. Exit 0 once the server took it, 1 when it could not be delivered.\n"
                       "--dry-run prints the body that would be sent and sends nothing.\n"
                       "\n"
                       "Example:\n"
                       "  quillometry-cli error-report \"Cannot open the backup.<br/>Disk full\" --dry-run\n"),
        false, true, true};
    OnlineCliArgs a;
    if (const int code = parseOnlineCliArgs(args, spec, a); code >= 0)
        return code;
    QTextStream out(stdout);
    QTextStream err(stderr);
    if (a.dryRun) {
        out << OnlineServices::errorReportBody(a.text) << "\n";
        return exitcode::kSuccess;
    }
    if (a.host.isEmpty()) {
        err << noVendorServerText() << "\n";
        return exitcode::kFailure;
    }

    OnlineServices services(a.host, QString());
    QEventLoop loop;
    OnlineAnswer answer;
    QObject::connect(&services, &OnlineServices::errorReportFinished, [&](const OnlineAnswer& result) {
        answer = result;
        loop.quit();
    });
    if (!services.sendErrorReport(a.text)) {
        err << noVendorServerText() << "\n";
        return exitcode::kFailure;
    }
    loop.exec();
    if (answer.failure.isEmpty() && answer.status >= 200 && answer.status < 300) {
        out << "report delivered to " << a.host << "\n";
        return exitcode::kSuccess;
    }
    err << "could not deliver the report to " << a.host << " (" << answer.reason() << ")\n";
    return exitcode::kFailure;
}

const CliRegistrar reg({QStringLiteral("error-report"),
                        QStringLiteral("error-report TEXT [--host HOST[:PORT]] [--dry-run]"),
                        QStringLiteral("send one error report to the vendor's server, as the error box does"),
                        runErrorReport});

}  // namespace
