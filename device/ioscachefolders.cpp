#include "device/ioscachefolders.h"

#include "base/apperror.h"
#include "base/datafolder.h"

#include <QDir>
#include <QFile>

namespace {

// A UDID names a folder: anything that is not a plain name is refused.
QString plainUdid(const QString& udid)
{
    if (udid.isEmpty() || udid == QLatin1String(".") || udid == QLatin1String("..") || udid.contains(QLatin1Char('/'))
        || udid.contains(QLatin1Char('\\')))
        throw AppError(QStringLiteral("Invalid device id \"%1\".").arg(udid));
    return udid;
}

QString privateFolder(const QString& path)
{
    if (!QDir().mkpath(path))
        throw AppError(QStringLiteral("mkpath %1 failed.").arg(QDir::toNativeSeparators(path)));
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return path;
}

QString cacheIn(const QString& base, const QString& kind, const IOSDeviceInfo& device)
{
    privateFolder(QDir(base).filePath(kind));
    return privateFolder(QDir(base).filePath(kind + QLatin1Char('/') + plainUdid(device.udid)));
}

}  // namespace

QString iosCacheFolderIn(const QString& dataFolder, const IOSDeviceInfo& device)
{
    return cacheIn(dataFolder, QStringLiteral("ios_cache"), device);
}

QString iosCacheFolder(const IOSDeviceInfo& device) { return iosCacheFolderIn(dataFolder(), device); }

QString iosStaticCacheFolder(const IOSDeviceInfo& device)
{
    return cacheIn(dataFolder(), QStringLiteral("ios_static_cache"), device);
}

QString whatsAppCacheFolder(const IOSDeviceInfo& device)
{
    return privateFolder(QDir(iosCacheFolder(device)).filePath(QStringLiteral("net.whatsapp.WhatsApp")));
}

QString virtualDeviceUdid(const QString& backupId) { return QStringLiteral("virtual_") + backupId; }
