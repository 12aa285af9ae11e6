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
    int code = exitcode::kSuccess;
    const std::optional<QString> host = vendorHostFor(args, &code);
    if (!host)
        return code;
    if (host->isEmpty())
        return noVendorServer();
    const OnlineServices services(*host, QString());
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
