// quillometry-cli update-page [--host HOST[:PORT]]: prints the address the
// window's "Check for Update" opens, instead of opening a browser. Sends
// nothing.
#include "base/productinfo.h"
#include "cli/clicommand.h"
#include "cli/exitcodes.h"
#include "cli/onlineclisupport.h"
#include "online/onlineservices.h"
#include "platform/osservices.h"

#include <QTextStream>

namespace {

int runUpdatePage(const QStringList& args)
{
    const OnlineCliSpec spec{
        QStringLiteral("update-page [--host HOST[:PORT]]"),
        QStringLiteral("Prints the vendor's update page for this version and computer, the page the window's\n"
                       "\"Check for Update\" opens. Nothing is sent; open the address yourself.\n"
                       "\n"
                       "Example:\n"
                       "  quillometry-cli update-page --host updates.example.com\n"),
        false, false, false};
    OnlineCliArgs a;
    if (const int code = parseOnlineCliArgs(args, spec, a); code >= 0)
        return code;
    if (a.host.isEmpty()) {
        QTextStream(stderr) << noVendorServerText() << "\n";
        return exitcode::kFailure;
    }
    const OnlineServices services(a.host, QString());
    const QUrl page = services.updatePageUrl(platform::volumeSerialNumber(QByteArray(product::kIdentifier)));
    QTextStream(stdout) << page.toString(QUrl::FullyEncoded) << "\n";
    return exitcode::kSuccess;
}

const CliRegistrar reg({QStringLiteral("update-page"), QStringLiteral("update-page [--host HOST[:PORT]]"),
                        QStringLiteral("print the vendor's update page address (\"Check for Update\")"),
                        runUpdatePage});

}  // namespace
