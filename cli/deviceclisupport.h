// What the device commands share: a seconds option, the checks that a
// daemon answers and that a UDID can name a folder, the monitor that
// prints the jobs' rich-text messages as plain text, and value formatting.
#pragma once

#include "cli/clicommand.h"
#include "cli/consolemonitor.h"
#include "cli/itunesclisupport.h"
#include "device/iosdevicetransfer.h"
#include "device/iosloadwhatsappthread.h"

#include <QString>
#include <QStringList>

class PlistCFType;

// The whole number of seconds given with --`option` (`fallback` when it is
// absent); false after saying so (exit code 2 is the caller's) when it is no
// number or below `minimum`.
bool secondsOption(const CliArgs& args, const QString& option, int minimum, int fallback, int* seconds);

// True when a USB daemon answers; otherwise says so on stderr. The command
// line never starts a daemon itself.
bool requireUsbDaemon();

// True for a UDID that can name a folder; otherwise says so on stderr.
bool requirePlainUdid(const QString& udid);

// The --manifest-substitute NAME of the restore commands: a plain file
// name inside the device folder. False after saying so (exit code 2 is the
// caller's).
bool manifestSubstituteOption(const CliArgs& args, QString* name);

// The exit code of a restore: the phone's "invalid password" answer is
// exit code 4, like a password refused before the phone was asked.
int restoreExitCode(int code, const QString& lastError);

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

// The front end of the device sequences (load, transfer, undo) on the
// command line: each stage under the plain console monitor, the password
// from the options (asked once: a wrong one ends the sequence), warnings and
// errors as plain text on standard error.
class ConsoleLoadFrontend : public IOSDeviceLoadFrontend {
public:
    explicit ConsoleLoadFrontend(const ItunesCliOptions& options) : m_options(options) {}

    bool runStage(Job& job) override;
    bool askPassword(const IOSDeviceInfo&, BackupManifest&, bool wrong, QString* password, bool*) override;
    void showWarning(const QString& richText) override;
    void showError(const QString& text) override;
    // The error text of the last stage that failed.
    QString lastError() const { return m_lastError; }

private:
    ItunesCliOptions m_options;
    QString m_lastError;
};

// Pairs with the phone (the daemon must answer) and reads its identity; a
// password given in the options becomes its backup password. Null after
// saying why (exit code 1 is the caller's).
PIOSDeviceInfo pairedDevice(const QString& udid, const ItunesCliOptions& options);

// The remote restore setting for the transfer commands: asked of --host
// when given (a bad one: false with *code set), else of the build's host
// (none: mode 0, nothing asked).
bool transferSystemMode(const CliArgs& args, bool* mode, int* code);

// The exit code of a transfer or an undo: 3 for a cancel, 4 for a password
// (refused before, or answered by the phone), 1 for every other failure.
int transferExitCode(IOSDeviceTransfer::Outcome outcome, const ConsoleLoadFrontend& frontend);
