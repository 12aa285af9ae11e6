// quillometry-cli update-page [--host HOST[:PORT]]: prints the address the
// window's "Check for Update" opens, instead of opening a browser. Sends
// nothing.
#include "base/productinfo.h"
#include "cli/clicommand.h"
#include "cli/clioutput.h"
#include "cli/exitcodes.h"
#include "cli/onlineclisupport.h"
#include "online/onlineservices.h"
#include "platform/osservices.h"

namespace {

int run(const CliArgs& args)
{
    QString host;
    int code = exitcode::kSuccess;
    if (!vendorHostFor(args, &host, &code))
        return code;
    const OnlineServices services(host, QString());
    const QUrl page = services.updatePageUrl(platform::volumeSerialNumber(QByteArray(product::kIdentifier)));
    cliOut(page.toString(QUrl::FullyEncoded) + QLatin1Char('\n'));
    return exitcode::kSuccess;
}

const CliRegistrar reg({
    .name = QStringLiteral("update-page"),
    .summary = QStringLiteral("print the vendor's update page for this version and computer (the window's "
                              "\"Check for Update\"); nothing is sent"),
    .arguments = {},
    .options = {vendorHostOption()},
    .examples = {QStringLiteral("update-page --host updates.example.com")},
    .json = false,
    .run = run,
});

}  // namespace
