#include "device/iosdeviceinfo.h"

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
