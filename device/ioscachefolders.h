// The per-phone folders under the data folder: "ios_cache/<UDID>" holds the
// current copy of a phone's WhatsApp data (its app container layout in
// "net.whatsapp.WhatsApp"), "ios_static_cache/<UDID>" the saved snapshot.
// Each is created with its parents when asked for, private to the user
// (0700): it holds the user's chats.
#pragma once

#include "device/iosdeviceinfo.h"

#include <QString>
#include <QStringList>

QString iosCacheFolder(const IOSDeviceInfo& device);
QString iosStaticCacheFolder(const IOSDeviceInfo& device);
// The "net.whatsapp.WhatsApp" folder inside iosCacheFolder.
QString whatsAppCacheFolder(const IOSDeviceInfo& device);

// The same below another data folder (tests, the command line's private
// folder).
QString iosCacheFolderIn(const QString& dataFolder, const IOSDeviceInfo& device);

// The UDID of the virtual device that stands for an iTunes backup.
QString virtualDeviceUdid(const QString& backupId);

// Copies the folder tree `source` into `target` (created with its parents).
// A file is skipped when overwrite is off and the target file exists with
// content; otherwise it is copied under a temporary name and renamed over
// the target file, so a cut-short copy never sits under the real name.
// Symbolic links of the source are not followed. The first failure stops
// the copy: false with "mkpath %1 failed." or "copy to %1 failed." in
// *error. The paths of the files it placed go to *written when given.
bool copyFolderTree(const QString& source, const QString& target, bool overwrite, QString* error,
                    QStringList* written = nullptr);

// Saves the phone's loaded chats as its snapshot: the cache's Documents
// replace the snapshot's (an earlier snapshot database moves into
// "Documents/db_<ms>"), media files of the cache that the snapshot lacks
// are added. The database is copied with SQLite's online backup and
// checked; the new Documents are built beside the old ones and swapped in
// at the end, so a failure leaves the previous snapshot as it was. Throws
// AppError with the reason.
void saveDeviceSnapshot(const IOSDeviceInfo& device);
// The snapshot's app folder ("ios_static_cache/<UDID>/net.whatsapp.WhatsApp").
QString whatsAppSnapshotFolder(const IOSDeviceInfo& device);

// The texts of clearing the caches.
QString clearCacheRefusedText();
QString clearCacheDoneText();
// Removes "ios_cache" with every phone's cache and the temporary backup
// folder "wa" with its memory file; the snapshots stay.
void clearDeviceCaches();
