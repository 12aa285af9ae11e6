// The per-phone folders under the data folder: "ios_cache/<UDID>" holds the
// current copy of a phone's WhatsApp data (its app container layout in
// "net.whatsapp.WhatsApp"), "ios_static_cache/<UDID>" the saved snapshot.
// Each is created with its parents when asked for, private to the user
// (0700): it holds the user's chats.
#pragma once

#include "device/iosdeviceinfo.h"

#include <QString>

QString iosCacheFolder(const IOSDeviceInfo& device);
QString iosStaticCacheFolder(const IOSDeviceInfo& device);
// The "net.whatsapp.WhatsApp" folder inside iosCacheFolder.
QString whatsAppCacheFolder(const IOSDeviceInfo& device);

// The same below another data folder (tests, the command line's private
// folder).
QString iosCacheFolderIn(const QString& dataFolder, const IOSDeviceInfo& device);

// The UDID of the virtual device that stands for an iTunes backup.
QString virtualDeviceUdid(const QString& backupId);
