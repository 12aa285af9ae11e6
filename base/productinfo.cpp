#include "base/productinfo.h"

#include "base/buildconfig.h"

#include <QCoreApplication>

namespace product {

QString vendorHost() { return QStringLiteral(Q_VENDOR_HOST); }

QString supportAddress() { return QStringLiteral(Q_SUPPORT_ADDRESS); }

QString productTitle()
{
    return QCoreApplication::translate("product", kName) + QStringLiteral(" (x64)")
           + QStringLiteral(" v%1").arg(QString::fromLatin1(kVersion));
}

}  // namespace product
