// The copy of a phone's own WhatsApp databases that a transfer makes before
// it changes anything, so that the transfer can be undone. The files come
// decrypted out of the phone's freshly refreshed backup, each stored under
// the backup domain and relative path it came from:
//
//   ios_static_cache/<UDID>/pre-transfer/<ms>/<domain>/<relative path>
//
// A copy appears under its name only when complete ("<ms>.partial" before);
// the five newest copies of a phone are kept. Clearing the caches spares
// them (they live beside the snapshot).
#pragma once

#include "device/iosdeviceinfo.h"

#include <QDateTime>
#include <QList>
#include <QString>

class BackupManifest;
class JobMonitor;

struct PreTransferFile {
    QString domain;
    QString relativePath;
    QString localPath;  // the decrypted copy
};

struct PreTransferCopy {
    QString id;      // the milliseconds since the epoch when it was made
    QString folder;  // absolute
    QDateTime time;
    QList<PreTransferFile> files;
    // The transfer it was made for reached the phone (a failed transfer's
    // copy only holds what the phone still has).
    bool transferred = false;

    bool isValid() const { return !id.isEmpty(); }
    // ChatStorage.sqlite of the copy (with its log beside it), or empty.
    QString chatDatabase() const;
};

// "ios_static_cache/<UDID>/pre-transfer"
QString preTransferFolder(const IOSDeviceInfo& device);

// True for the file names a copy takes: ChatStorage.sqlite, ChatSearch.sqlite
// and LID.sqlite, each with its "-wal" and "-shm".
bool isPreTransferFileName(const QString& name);

// Copies the WhatsApp databases out of `backup` (opened, unlocked, loaded)
// into a new copy and drops the oldest beyond `keep`, those of failed
// transfers first. Throws AppError (the
// half-made copy removed) when a file cannot be copied or the backup holds
// no ChatStorage.sqlite of WhatsApp.
PreTransferCopy savePreTransferCopyThrow(BackupManifest& backup, const IOSDeviceInfo& device, JobMonitor* monitor,
                                         int keep = 5);

// The complete copies of a phone, newest first.
QList<PreTransferCopy> preTransferCopies(const IOSDeviceInfo& device);
// The copy with this id; without one, the newest whose transfer reached the
// phone. Invalid when there is none.
PreTransferCopy findPreTransferCopy(const IOSDeviceInfo& device, const QString& id = {});

// Records that the transfer after `copy` reached the phone, with the
// largest message key of the database it wrote.
void markPreTransferCopyTransferred(const PreTransferCopy& copy, qint64 lastMessageKey);
// That key, or -1 when the copy does not know it.
qint64 transferredLastMessageKey(const PreTransferCopy& copy);

// Where a file of a copy lies in a phone's cache app folder (the layout of a
// device load: the group container's and the app's Documents/ files both in
// Documents/), or empty for a file that has no place there.
QString cachePathFor(const QString& appFolder, const PreTransferFile& file);
