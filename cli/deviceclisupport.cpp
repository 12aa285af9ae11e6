#include "cli/deviceclisupport.h"

#include "chatstore/plistcftype.h"
#include "cli/exitcodes.h"
#include "cli/clioutput.h"
#include "cli/onlineclisupport.h"
#include "device/deviceconnection.h"
#include "device/iosdeviceinfo.h"
#include "online/systemmode.h"
#include "device/mobiledevicesubscribe.h"

#include <QRegularExpression>

bool secondsOption(const CliArgs& args, const QString& option, int minimum, int fallback, int* seconds)
{
    *seconds = fallback;
    if (!args.isSet(option))
        return true;
    bool ok = false;
    *seconds = args.value(option).toInt(&ok);
    if (ok && *seconds >= minimum)
        return true;
    cliError(QStringLiteral("--%1 needs a whole number of seconds (at least %2)").arg(option).arg(minimum));
    return false;
}

bool requireUsbDaemon()
{
    if (MobiledeviceSubscribe::daemonAnswers())
        return true;
    cliError(QStringLiteral("no USB daemon (usbmuxd) answers; plug the iPhone in (udev starts the daemon) or "
                            "start usbmuxd, then try again"));
    return false;
}

bool requirePlainUdid(const QString& udid)
{
    if (isPlainUdid(udid))
        return true;
    cliError(QStringLiteral("'%1' is no UDID (letters, digits and '-' only)").arg(udid));
    return false;
}

bool manifestSubstituteOption(const CliArgs& args, QString* name)
{
    *name = args.value(QStringLiteral("manifest-substitute"));
    if (!args.isSet(QStringLiteral("manifest-substitute")))
        return true;
    if (name->isEmpty() || name->contains(QLatin1Char('/')) || name->contains(QLatin1Char('\\'))
        || *name == QLatin1String(".") || *name == QLatin1String("..")) {
        cliError(QStringLiteral("--manifest-substitute needs a file name inside the device folder"));
        return false;
    }
    return true;
}

int restoreExitCode(int code, const QString& lastError)
{
    if (code == exitcode::kFailure
        && (lastError.contains(QLatin1String("MBErrorDomain/207")) || lastError.startsWith(QLatin1String("error code:207."))))
        return exitcode::kPassword;
    return code;
}

QString plainText(const QString& richText)
{
    QString text = richText;
    text.replace(QRegularExpression(QStringLiteral("<br\\s*/?>"), QRegularExpression::CaseInsensitiveOption),
                 QStringLiteral("\n"));
    text.replace(QRegularExpression(QStringLiteral("</p>"), QRegularExpression::CaseInsensitiveOption),
                 QStringLiteral("\n"));
    text.remove(QRegularExpression(QStringLiteral("<[^>]*>")));
    text.replace(QLatin1String("&lt;"), QLatin1String("<"));
    text.replace(QLatin1String("&gt;"), QLatin1String(">"));
    text.replace(QLatin1String("&quot;"), QLatin1String("\""));
    text.replace(QLatin1String("&#39;"), QLatin1String("'"));
    text.replace(QLatin1String("&nbsp;"), QLatin1String(" "));
    text.replace(QLatin1String("&amp;"), QLatin1String("&"));
    return text;
}

QString lockdownValueText(const PlistCFType& value)
{
    switch (value.type()) {
    case PlistCFType::StringType:
        return value.toText();
    case PlistCFType::BooleanType:
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    case PlistCFType::NumberType:
        return value.isUInt() ? QString::number(value.toUInt()) : QString::number(value.toReal());
    case PlistCFType::DataType:
        return QString::fromLatin1(value.toBytes().toBase64());
    case PlistCFType::DateType:
        return value.toDate().toString(Qt::ISODate);
    default:
        return value.toString();
    }
}

void PlainConsoleMonitor::postProgress(const QString& status, int value, const QString& text)
{
    ConsoleMonitor::postProgress(plainText(status), value, plainText(text));
}

void PlainConsoleMonitor::postError(const QString& message)
{
    ConsoleMonitor::postError(plainText(message));
}

void PlainConsoleMonitor::postSuccess(const QString& message)
{
    ConsoleMonitor::postSuccess(plainText(message));
}

bool ConsoleLoadFrontend::runStage(Job& job)
{
    PlainConsoleMonitor monitor;
    const bool ok = monitor.runJob(job) == exitcode::kSuccess;
    if (!ok && !monitor.lastError().isEmpty())
        m_lastError = monitor.lastError();
    return ok;
}

bool ConsoleLoadFrontend::askPassword(const IOSDeviceInfo&, BackupManifest&, bool wrong, QString* password, bool*)
{
    // The command line asks once; a wrong password ends the sequence.
    if (wrong) {
        cliError(QStringLiteral("Invalid password."));
        return false;
    }
    return backupPasswordFromOptions(m_options, password) == exitcode::kSuccess;
}

void ConsoleLoadFrontend::showWarning(const QString& richText) { cliError(plainText(richText).trimmed()); }

void ConsoleLoadFrontend::showError(const QString& text)
{
    m_lastError = text;
    cliError(plainText(text).trimmed());
}

PIOSDeviceInfo pairedDevice(const QString& udid, const ItunesCliOptions& options)
{
    if (!requireUsbDaemon())
        return nullptr;
    QString error;
    if (!pairDevice(udid, &error)) {
        cliError(plainText(error).trimmed());
        return nullptr;
    }
    PIOSDeviceInfo device = connectedDeviceInfo(udid);
    if (options.hasPassword)
        device->backupPassword = options.password;
    return device;
}

bool transferSystemMode(const CliArgs& args, bool* mode, int* code)
{
    *mode = false;
    if (!args.isSet(QStringLiteral("host"))) {
        *mode = systemMode();
        return true;
    }
    QString host;
    if (!vendorHostFor(args, &host, code))
        return false;
    *mode = systemMode(host);
    return true;
}

int transferExitCode(IOSDeviceTransfer::Outcome outcome, const ConsoleLoadFrontend& frontend)
{
    switch (outcome) {
    case IOSDeviceTransfer::Outcome::Transferred:
        return exitcode::kSuccess;
    case IOSDeviceTransfer::Outcome::Cancelled:
        return exitcode::kCancelled;
    case IOSDeviceTransfer::Outcome::PasswordRefused:
        return exitcode::kPassword;
    case IOSDeviceTransfer::Outcome::Failed:
        return restoreExitCode(exitcode::kFailure, frontend.lastError());
    case IOSDeviceTransfer::Outcome::CloudBackupOn:
    case IOSDeviceTransfer::Outcome::NoWhatsApp:
        break;
    }
    return exitcode::kFailure;
}
