#include "cli/onlineclisupport.h"

#include "base/productinfo.h"
#include "cli/clioutput.h"
#include "cli/exitcodes.h"

CliOption vendorHostOption()
{
    return {QStringLiteral("host"), QStringLiteral("HOST[:PORT]"),
            QStringLiteral("the vendor's web server to use instead of the build's")};
}

bool vendorHostFor(const CliArgs& args, QString* host, int* code)
{
    if (args.isSet(QStringLiteral("host"))) {
        *host = args.value(QStringLiteral("host"));
        if (product::vendorBaseUrl(*host).isEmpty()) {
            cliError(QStringLiteral("--host takes HOST or HOST:PORT (a port from 1 to 65535), not \"%1\".").arg(*host));
            *code = exitcode::kUsage;
            return false;
        }
        return true;
    }
    *host = product::vendorHost();
    if (host->isEmpty()) {
        *code = noVendorServer();
        return false;
    }
    return true;
}

int noVendorServer()
{
    cliErr(QStringLiteral("no vendor server is configured; nothing was sent\n"));
    return exitcode::kFailure;
}
