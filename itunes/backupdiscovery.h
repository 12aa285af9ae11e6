// Finding the iTunes (and Finder) backups of the current user: the standard
// backup roots, which sub-folders of a root are backups, opening them, and
// the newest-first order in which choosers list them. Nothing here shows a
// window; a folder that cannot be opened is handed to the caller's error
// callback and skipped.
#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class BackupManifest;
using PBackupManifest = std::shared_ptr<BackupManifest>;

// The folders that hold backups, in the order they are searched: under the
// per-user application-data root "Apple Computer/MobileSync/Backup", under
// home "Apple/MobileSync/Backup", and the Finder's
// "Library/Application Support/MobileSync/Backup" under home.
QStringList backupRoots();
// The same three, for a given application-data root and home folder.
QStringList backupRootsFor(const QString& appDataRoot, const QString& homeFolder);

// A folder is listed as a backup when it holds Manifest.plist and one of
// Manifest.mbdb or Manifest.db.
bool isBackupFolder(const QString& folder);

// The sub-folders of a root (directories only, hidden ones included), by
// modification time, oldest first. A missing root gives an empty list. The
// chooser orders its rows by backup date, whatever the order found here.
QStringList backupSubFolders(const QString& root);

// Called for a backup folder whose Manifest.plist cannot be read, with the
// folder's path and the error text.
using BackupErrorCallback = std::function<void(const QString& folder, const QString& error)>;

// Every backup found in the roots, each opened (openThrow), in the order
// found. Failures go to onError (when given) and the folder is skipped.
QList<PBackupManifest> findBackups(const QStringList& roots, const BackupErrorCallback& onError = {});

// Where a backup dated `date` goes in a list kept newest first: before the
// first entry whose date is earlier than its own, so equal dates go after
// the entries already there.
int newestFirstRow(const QList<QDateTime>& datesInRowOrder, const QDateTime& date);

// The text of an error while opening a listed or added backup:
// "load <folder> error. <text>".
QString backupLoadErrorText(const QString& folder, const QString& error);
