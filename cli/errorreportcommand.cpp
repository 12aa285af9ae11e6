// quillometry-cli error-report TEXT [--host HOST[:PORT]] [--dry-run]: sends
// one error report the way the window's error box does, and waits for the
// server to take it. --dry-run prints the exact body and sends nothing. The
// command line never reports its own errors; only this command sends one.
#include "cli/clicommand.h"
#include "cli/clioutput.h"
#include "cli/exitcodes.h"
#include "cli/onlineclisupport.h"
#include "online/onlineservices.h"

#include <QEventLoop>

namespace {

int run(const CliArgs& args)
{
    const QString text = args.arg(0);
    if (args.isSet(QStringLiteral("dry-run"))) {
        cliOut(QString::fromUtf8(OnlineServices::errorReportBody(text)) + QLatin1Char('\n'));
        return exitcode::kSuccess;
    }
    QString host;
    int code = exitcode::kSuccess;
    if (!vendorHostFor(args, &host, &code))
        return code;

    OnlineServices services(host, QString());
    QEventLoop loop;
    OnlineAnswer answer;
    QObject::connect(&services, &OnlineServices::errorReportFinished, [&](const OnlineAnswer& result) {
        answer = result;
        loop.quit();
    });
    if (!services.sendErrorReport(text))
        return noVendorServer();
    loop.exec();
    if (answer.failure.isEmpty() && answer.status >= 200 && answer.status < 300) {
        cliOut(QStringLiteral("report delivered to %1\n").arg(host));
        return exitcode::kSuccess;
    }
    cliError(QStringLiteral("could not deliver the report to %1 (%2).").arg(host, answer.reason()));
    return exitcode::kFailure;
}

const CliRegistrar reg({
    .name = QStringLiteral("error-report"),
    .summary = QStringLiteral("send TEXT to the vendor's server as the window's error box reports an error "
                              "(exit 0 once the server took it)"),
    .arguments = {{QStringLiteral("TEXT"),
                   QStringLiteral("the error text; line-break tags become line ends, the home folder \"~\"")}},
    .options = {vendorHostOption(),
                {QStringLiteral("dry-run"), QString(), QStringLiteral("print the body that would be sent; send nothing")}},
    .examples = {QStringLiteral("error-report \"Cannot open the backup.<br/>Disk full\" --dry-run"),
                 QStringLiteral("error-report \"Cannot open the backup.\" --host updates.example.com")},
    .json = false,
    .run = run,
});

}  // namespace
