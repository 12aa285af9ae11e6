// What the device commands share: their small argument parser, the checks
// that a daemon answers and that a UDID can name a folder, the monitor that
// prints the jobs' rich-text messages as plain text, and value formatting.
#pragma once

#include "cli/consolemonitor.h"

#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>

class PlistCFType;

struct DeviceCliArgs {
    QStringList positional;
    QMap<QString, QString> values;  // option -> value
    QSet<QString> flags;
    bool help = false;
};

// Options in `valueOptions` take one value, those in `flagOptions` none.
// False with a message for an unknown option or a missing value.
bool parseDeviceCliArgs(const QStringList& args, const QStringList& valueOptions, const QStringList& flagOptions,
                        DeviceCliArgs* out, QString* error);

// The whole number of seconds given with `option` (`fallback` when it is
// absent); false when it is no number or below `minimum`.
bool secondsOption(const DeviceCliArgs& args, const QString& option, int minimum, int fallback, int* seconds);

// Prints the usage text (with its example) and returns the usage exit code,
// or success when --help asked for it.
int deviceCliUsage(const QString& usage, bool asked, const QString& error = QString());

// True when a USB daemon answers; otherwise says so on stderr. The command
// line never starts a daemon itself.
bool requireUsbDaemon();

// True for a UDID that can name a folder; otherwise says so on stderr.
bool requirePlainUdid(const QString& udid);

// A rich-text message (line breaks, links, bold) as plain text.
QString plainText(const QString& richText);

// One lockdown value as text: strings as they are, numbers in decimal,
// booleans as true/false, data in base64, dates in ISO form.
QString lockdownValueText(const PlistCFType& value);

// The console monitor, printing every message as plain text.
class PlainConsoleMonitor : public ConsoleMonitor {
public:
    using ConsoleMonitor::ConsoleMonitor;
    void postProgress(const QString& status, int value, const QString& text) override;
    void postError(const QString& message) override;
    void postSuccess(const QString& message) override;
};
