#include "base/productinfo.h"

#include "base/buildconfig.h"

namespace product {

QString vendorHost() { return QStringLiteral(Q_VENDOR_HOST); }

}  // namespace product
