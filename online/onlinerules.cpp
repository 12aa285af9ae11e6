#include "online/onlinerules.h"

#include "base/productinfo.h"

#include <QDir>
#include <QRegularExpression>

namespace online {

QString reportEncode(const QString& text)
{
    QByteArray b64 = text.toUtf8().toBase64();
    b64.replace('/', '!');
    b64.replace('=', '-');
    return QString::fromLatin1(b64);
}

std::optional<qint64> stampTime(const std::optional<QByteArray>& stamp)
{
    if (!stamp)
        return std::nullopt;
    bool ok = false;
    const qint64 value = stamp->toLongLong(&ok);
    if (!ok || value == 0)
        return std::nullopt;
    return value;
}

bool isCheckDue(const std::optional<QByteArray>& stamp, qint64 now)
{
    const std::optional<qint64> last = stampTime(stamp);
    if (!last)
        return true;
    const quint32 age = quint32(quint64(now) - quint64(*last));
    return age > kCheckInterval;
}

UpdateVerdict readUpdateAnswer(const QByteArray& answer)
{
    UpdateVerdict verdict;
    if (answer.size() > kAnswerLimit)
        return verdict;
    const QString text = QString::fromUtf8(answer);
    if (!text.trimmed().startsWith(QLatin1String("http://"), Qt::CaseInsensitive)) {
        verdict.kind = UpdateVerdict::UpToDate;
        return verdict;
    }
    // Only the first line is the link; it counts when it is a whole http
    // address, never a local path or another scheme dressed up as one.
    const QString firstLine = text.trimmed().section(QRegularExpression(QStringLiteral("[\\r\\n]")), 0, 0).trimmed();
    const QUrl link(firstLine, QUrl::StrictMode);
    if (link.isValid() && link.scheme() == QLatin1String("http") && !link.host().isEmpty()) {
        verdict.kind = UpdateVerdict::Obsolete;
        verdict.link = link;
    }
    return verdict;
}

std::optional<QString> advertFromAnswer(const QByteArray& answer)
{
    if (answer.size() > kAdvertLimit)
        return std::nullopt;
    QString text = QString::fromUtf8(answer);
    static const QRegularExpression leadingTag(QStringLiteral("^<a"), QRegularExpression::CaseInsensitiveOption);
    if (!leadingTag.match(text).hasMatch())
        return std::nullopt;
    text.replace(leadingTag, QStringLiteral("<a style=\"color:%1;text-decoration:none;\"").arg(QStringLiteral("#FF8B00")));
    return text;
}

bool isOpenableAdvertLink(const QUrl& link)
{
    const QString scheme = link.scheme().toLower();
    return link.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https"))
           && !link.host().isEmpty();
}

QString reportText(const QString& text, const QString& home)
{
    QString out = text;
    if (!home.isEmpty() && home != QLatin1String("/")) {
        // The home folder as a whole path element only: "/home/ann" in
        // "/home/ann/x" or at the end of a sentence, never in "/home/anna".
        const Qt::CaseSensitivity cs =
#ifdef Q_OS_WIN
            Qt::CaseInsensitive;
#else
            Qt::CaseSensitive;
#endif
        QStringList forms{QDir::cleanPath(home)};
        const QString native = QDir::toNativeSeparators(forms.first());
        if (native != forms.first())
            forms << native;
        for (const QString& form : forms) {
            const QRegularExpression re(
                QRegularExpression::escape(form) + QStringLiteral("(?=[/\\\\\\s\"'<>:;,)\\]]|$)"),
                cs == Qt::CaseInsensitive ? QRegularExpression::CaseInsensitiveOption
                                          : QRegularExpression::NoPatternOption);
            out.replace(re, QStringLiteral("~"));
        }
    }
    static const QRegularExpression br(QStringLiteral("< *br */?>"), QRegularExpression::CaseInsensitiveOption);
    out.replace(br, QStringLiteral("\r\n"));
    out.replace(QLatin1Char('<'), QStringLiteral("&lt;"));
    out.replace(QLatin1Char('>'), QStringLiteral("&gt;"));
    return out;
}

QString reportVersion()
{
    return QStringLiteral("%1(%2)").arg(QString::fromLatin1(product::kVersion)).arg(product::kBuildNumber);
}

QByteArray errorReportBody(const QString& productName, const QString& text, const QString& home)
{
    const QString body = QStringLiteral("prod=") + reportEncode(productName) + QStringLiteral("&ver=")
                         + reportEncode(reportVersion()) + QStringLiteral("&err=")
                         + reportEncode(reportText(text, home));
    return body.toUtf8();
}

QString systemName()
{
#ifdef Q_OS_WIN
    return QStringLiteral("win64");
#else
    return QStringLiteral("linux64");
#endif
}

QString updateCheckPath()
{
    return QStringLiteral("/sms_check_update.php?pid=%1&ver=%2&q=1")
        .arg(QString::fromLatin1(product::kIdentifier))
        .arg(product::kBuildNumber);
}

QString advertPath()
{
    return QStringLiteral("/adv.php?pid=%1").arg(QString::fromLatin1(product::kIdentifier));
}

QString updatePagePath(quint32 volumeSerial)
{
    return QStringLiteral("/sms_check_update.php?pid=%1&ver=%2&vs=%3")
               .arg(QString::fromLatin1(product::kIdentifier))
               .arg(product::kBuildNumber)
               .arg(volumeSerial)
           + QStringLiteral("&sys=") + systemName();
}

QByteArray userAgent()
{
    return QByteArrayLiteral("Quillometry-Chat-Transfer/") + product::kVersion;
}

}  // namespace online
