// device-info UDID [--domain D] [--key K]: lockdown values of a connected
// iPhone (the phone must trust this computer).
#include "chatstore/plistcftype.h"
#include "cli/clicommand.h"
#include "cli/clioutput.h"
#include "cli/deviceclisupport.h"
#include "cli/exitcodes.h"
#include "device/deviceconnection.h"

namespace {

int run(const CliArgs& args)
{
    const QString udid = args.arg(0);
    if (!requirePlainUdid(udid) || !requireUsbDaemon())
        return exitcode::kFailure;
    const QString key = args.value(QStringLiteral("key"));
    const PlistCFType value = readLockdownValue(udid, args.value(QStringLiteral("domain")), key);
    if (value.isNone()) {
        cliError(QStringLiteral("could not read %1 from %2 (is it connected, and does it trust this computer? see "
                                "the pair command)")
                     .arg(key.isEmpty() ? QStringLiteral("the lockdown values") : key, udid));
        return exitcode::kFailure;
    }
    if (!key.isEmpty() || value.type() != PlistCFType::DictionaryType) {
        cliOut(lockdownValueText(value) + QLatin1Char('\n'));
        return exitcode::kSuccess;
    }
    for (const auto& [k, v] : value.entries())
        cliOut(QStringLiteral("%1: %2\n").arg(k, lockdownValueText(v)));
    return exitcode::kSuccess;
}

const CliRegistrar reg({
    .name = QStringLiteral("device-info"),
    .summary = QStringLiteral("show the lockdown values of a connected iPhone as \"Key: value\" lines, or one value "
                              "alone with --key"),
    .arguments = {{QStringLiteral("UDID"), QStringLiteral("the phone (see the devices command)")}},
    .options = {{QStringLiteral("domain"), QStringLiteral("DOMAIN"), QStringLiteral("a lockdown domain, such as "
                                                                                     "com.apple.mobile.backup")},
                {QStringLiteral("key"), QStringLiteral("KEY"), QStringLiteral("print this value alone")}},
    .examples = {QStringLiteral("device-info 00008030-001A2B3C4D5E6F70 --key ProductVersion")},
    .json = false,
    .run = run,
});

}  // namespace
