#include "cli/onlineclisupport.h"

#include "base/productinfo.h"
#include "cli/clioutput.h"
#include "cli/exitcodes.h"

CliOption vendorHostOption()
{
    return {QStringLiteral("host"), QStringLiteral("HOST[:PORT]"),
            QStringLiteral("the vendor's web server to use instead of the build's")};
}

std::optional<QString> vendorHostFor(const CliArgs& args, int* code)
{
    if (!args.isSet(QStringLiteral("host")))
        return product::vendorHost();
    const QString host = args.value(QStringLiteral("host"));
    if (product::vendorBaseUrl(host).isEmpty()) {
        cliError(QStringLiteral("--host takes HOST or HOST:PORT (a port from 1 to 65535), not \"%1\".").arg(host));
        *code = exitcode::kUsage;
        return std::nullopt;
    }
    return host;
}

int noVendorServer()
{
    cliErr(QStringLiteral("no vendor server is configured; nothing was sent\n"));
    return exitcode::kFailure;
}
