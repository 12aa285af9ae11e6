#include "device/iosdeviceinfo.h"

#include "device/deviceconnection.h"

#include <QDir>
#include <QFileInfo>

PIOSDeviceInfo savedDeviceCopyInfo(const QString& folder)
{
    auto info = std::make_shared<IOSDeviceInfo>();
    const QFileInfo fi(folder);
    info->name = fi.fileName();
    info->udid = QDir::cleanPath(fi.absoluteFilePath());
    return info;
}

PIOSDeviceInfo connectedDeviceInfo(const QString& udid)
{
    auto info = std::make_shared<IOSDeviceInfo>();
    info->udid = udid;
    const PlistCFType all = readLockdownValue(udid, QString(), QString());
    info->name = all.value(QStringLiteral("DeviceName")).toText();
    info->countryCode = all.value(QStringLiteral("MobileSubscriberCountryCode")).toText();
    info->productVersion = all.value(QStringLiteral("ProductVersion")).toText();
    info->productType = all.value(QStringLiteral("ProductType")).toText();
    return info;
}

bool isPlainUdid(const QString& udid)
{
    if (udid.isEmpty() || udid.size() > 128)
        return false;
    for (const QChar c : udid) {
        const char16_t u = c.unicode();
        const bool ok = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '-';
        if (!ok)
            return false;
    }
    return true;
}
