// The temporary backup folder: where WhatsApp-only backups of phones live
// between runs, so that the next backup of a phone is incremental. It lies
// on the local file system with the most space available to the user,
// chosen once and remembered in the memory file
// "__quillometry_iosbk_temp.path" of the data folder (the chosen root as an
// absolute path); the folder itself is root + "/__quillometry_iosbk_temp"
// (+ "/" + suffix; the device load uses "wa"), one device folder per UDID
// inside.
//
// Candidates, in order: the data folder, standing for its own file system;
// then the root of every other mounted local file system whose root folder
// belongs to the user, that keeps POSIX permissions (isFixedDrive), is
// valid, ready and writable, and passes isFolderWritable; one per device;
// never "/" or "/boot". The most space wins; only a strictly greater amount
// replaces the current choice, so the first of equals wins. Phone data
// needs a file system where mode 0700 means something: tmpfs and ramfs
// (memory), pseudo file systems, network shares, FAT, exFAT and NTFS are
// never chosen.
#pragma once

#include "platform/osservices.h"

#include <QList>
#include <QString>

#include <functional>

// What the choice looks at; the defaults are the real data folder and the
// system's volume list, tests give folders of their own.
struct BackupTempContext {
    QString dataFolder;
    QList<platform::VolumeInfo> volumes;
    // Free space of a folder; the default asks the system.
    std::function<quint64(const QString&)> freeSpace;

    static BackupTempContext system();
};

// "__quillometry_iosbk_temp.path"
QString backupTempMemoryFileName();

// The remembered root when the memory file holds an absolute path, else
// the best candidate, written into the memory file; then the folder. The
// folder is not created here.
QString chooseBackupTempFolder(const QString& suffix);
QString chooseBackupTempFolder(const BackupTempContext& context, const QString& suffix);

// Removes the folder chooseBackupTempFolder gives (with everything in it,
// or a file standing in its place) and the memory file.
void removeBackupTempFolder(const QString& suffix);
void removeBackupTempFolder(const BackupTempContext& context, const QString& suffix);

// The folder for a backup job: the chosen one when it passes the write
// test, else the folder and the memory file are removed and the choice is
// made again.
QString backupTempFolderForJob(const BackupTempContext& context, const QString& suffix);

// True when a folder "__test<ms>" can be made inside `path` (with the
// missing parents); removes only the folders the test made.
bool isFolderWritable(const QString& path);

// Bytes available to the user on the file system of `folder`; the largest
// value when the system does not say.
quint64 freeDiskSpace(const QString& folder);

// True when the file system of `path` keeps POSIX permissions on a local
// disk (not memory, pseudo, network, FAT, exFAT or NTFS).
bool isFixedDrive(const QString& path);
bool isFixedFileSystemType(const QByteArray& type);
