// device-info UDID [--domain D] [--key K]: lockdown values of a connected
// iPhone (the phone must trust this computer).
#include "chatstore/plistcftype.h"
#include "cli/clicommand.h"
#include "cli/deviceclisupport.h"
#include "cli/exitcodes.h"
#include "cli/itunesclisupport.h"
#include "device/deviceconnection.h"

namespace {

const char* const kUsage =
    "usage: quillometry-cli device-info UDID [--domain DOMAIN] [--key KEY]\n"
    "Prints the phone's lockdown values as \"Key: value\" lines, or the value alone with --key.\n"
    "example: quillometry-cli device-info 00008030-001A2B3C4D5E6F70 --key ProductVersion\n";

int run(const QStringList& args)
{
    DeviceCliArgs a;
    QString error;
    if (!parseDeviceCliArgs(args, {QStringLiteral("--domain"), QStringLiteral("--key")}, {}, &a, &error) || a.help
        || a.positional.size() != 1)
        return deviceCliUsage(QString::fromLatin1(kUsage), a.help && error.isEmpty(), error);
    const QString udid = a.positional.first();
    if (!requirePlainUdid(udid) || !requireUsbDaemon())
        return exitcode::kFailure;
    const QString key = a.values.value(QStringLiteral("--key"));
    const PlistCFType value = readLockdownValue(udid, a.values.value(QStringLiteral("--domain")), key);
    if (value.isNone()) {
        cliErr(QStringLiteral("error: could not read %1 from %2 (is it connected, and does it trust this computer? "
                              "see the pair command)\n")
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

CliRegistrar reg({QStringLiteral("device-info"), QStringLiteral("device-info UDID [--domain D] [--key K]"),
                  QStringLiteral("show the lockdown values (name, iOS version, ...) of a connected iPhone"), run});

}  // namespace
