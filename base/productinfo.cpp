#include "base/productinfo.h"

#include "base/buildconfig.h"

#include <QCoreApplication>
#include <QUrl>

namespace product {

QString vendorHost() { return QStringLiteral(Q_VENDOR_HOST); }

QString vendorBaseUrl(const QString& host)
{
    if (host.isEmpty())
        return QString();
    for (const QChar c : host) {
        if (c.isSpace() || c == u'/' || c == u'\\' || c == u'@' || c == u'?' || c == u'#')
            return QString();
    }
    const QUrl url(QStringLiteral("http://") + host, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty() || !url.userInfo().isEmpty() || !url.path().isEmpty())
        return QString();
    // A port that is given must be a number in range; QUrl reads ":" with
    // nothing after it as no port, which is refused here too.
    if (host.endsWith(u':') || url.port() == 0)
        return QString();
    return url.toString(QUrl::FullyEncoded);
}

QString vendorLink(const QString& caption, const QString& path)
{
    const QString base = vendorBaseUrl();
    if (base.isEmpty())
        return caption.toHtmlEscaped();
    return QStringLiteral("<a href=\"%1%2\">%3</a>").arg(base, path, caption.toHtmlEscaped());
}

QString supportAddress() { return QStringLiteral(Q_SUPPORT_ADDRESS); }

QString productTitle()
{
    return QCoreApplication::translate("product", kName) + QStringLiteral(" (x64)")
           + QStringLiteral(" v%1").arg(QString::fromLatin1(kVersion));
}

}  // namespace product
