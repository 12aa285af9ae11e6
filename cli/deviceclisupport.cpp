#include "cli/deviceclisupport.h"

#include "chatstore/plistcftype.h"
#include "cli/exitcodes.h"
#include "cli/itunesclisupport.h"
#include "device/iosdeviceinfo.h"
#include "device/mobiledevicesubscribe.h"

#include <QRegularExpression>

bool parseDeviceCliArgs(const QStringList& args, const QStringList& valueOptions, const QStringList& flagOptions,
                        DeviceCliArgs* out, QString* error)
{
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            out->help = true;
        } else if (valueOptions.contains(a)) {
            if (i + 1 >= args.size()) {
                *error = QStringLiteral("%1 needs a value").arg(a);
                return false;
            }
            out->values.insert(a, args[++i]);
        } else if (flagOptions.contains(a)) {
            out->flags.insert(a);
        } else if (a.startsWith(QLatin1String("--"))) {
            *error = QStringLiteral("unknown option %1").arg(a);
            return false;
        } else {
            out->positional << a;
        }
    }
    return true;
}

bool secondsOption(const DeviceCliArgs& args, const QString& option, int minimum, int fallback, int* seconds)
{
    *seconds = fallback;
    if (!args.values.contains(option))
        return true;
    bool ok = false;
    *seconds = args.values.value(option).toInt(&ok);
    return ok && *seconds >= minimum;
}

int deviceCliUsage(const QString& usage, bool asked, const QString& error)
{
    if (asked) {
        cliOut(usage);
        return exitcode::kSuccess;
    }
    cliErr((error.isEmpty() ? QString() : QStringLiteral("error: %1\n").arg(error)) + usage);
    return exitcode::kUsage;
}

bool requireUsbDaemon()
{
    if (MobiledeviceSubscribe::daemonAnswers())
        return true;
    cliErr(QStringLiteral("error: no USB daemon (usbmuxd) answers; plug the iPhone in (udev starts the daemon) or "
                          "start usbmuxd, then try again\n"));
    return false;
}

bool requirePlainUdid(const QString& udid)
{
    if (isPlainUdid(udid))
        return true;
    cliErr(QStringLiteral("error: '%1' is no UDID (letters, digits and '-' only)\n").arg(udid));
    return false;
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
