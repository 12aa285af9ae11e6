// clear-cache: removes every phone's cache folder and the temporary backup
// of the device loads (the next load is a full one); saved snapshots stay.
// Refused while a phone is attached, as in the window.
#include "cli/clicommand.h"
#include "cli/clioutput.h"
#include "cli/exitcodes.h"
#include "device/deviceconnection.h"
#include "device/ioscachefolders.h"

namespace {

int run(const CliArgs&)
{
    QStringList attached;
    if (listConnectedUdids(&attached) && !attached.isEmpty()) {
        cliError(clearCacheRefusedText());
        return exitcode::kFailure;
    }
    clearDeviceCaches();
    cliOut(clearCacheDoneText() + QLatin1Char('\n'));
    return exitcode::kSuccess;
}

const CliRegistrar reg({
    .name = QStringLiteral("clear-cache"),
    .summary = QStringLiteral("remove the cache folders of all iPhones and the temporary backup of the device loads; "
                              "snapshots stay; refused while a phone is attached"),
    .arguments = {},
    .options = {},
    .examples = {QStringLiteral("clear-cache --verbose")},
    .json = false,
    .run = run,
});

}  // namespace
