#include "base/productinfo.h"

#include "base/buildconfig.h"

#include <QCoreApplication>

namespace product {

QString vendorHost() { return QStringLiteral(Q_VENDOR_HOST); }

QString vendorLink(const QString& caption, const QString& path)
{
    const QString host = vendorHost();
    if (host.isEmpty())
        return caption.toHtmlEscaped();
    return QStringLiteral("<a href=\"http://%1%2\">%3</a>").arg(host, path, caption.toHtmlEscaped());
}

QString supportAddress() { return QStringLiteral(Q_SUPPORT_ADDRESS); }

QString productTitle()
{
    return QCoreApplication::translate("product", kName) + QStringLiteral(" (x64)")
           + QStringLiteral(" v%1").arg(QString::fromLatin1(kVersion));
}

}  // namespace product
