// One file to write into an iTunes backup, and the list of them that a merge
// into a backup's WhatsApp data produces.
#pragma once

#include <QList>
#include <QMap>
#include <QString>

class MBDBParser;

struct BackupFileEntry {
    QString domain;
    QString localPath;       // the file on this computer
    QString relativePath;    // inside the domain
    bool overwrite = false;  // replace the stored file when it exists
    bool protectionClass4 = false;  // new records: class 4 and its key (else class 3)
};

// What the merge job leaves for the writer.
struct WhatsAppMergeResult {
    QString databasePath;  // the merged ChatStorage.sqlite
    QString searchPath;    // ChatSearch.sqlite beside it (may be missing)
    QString mediaDomain;   // where the merge job would put media
    QMap<QString, QString> mediaFiles;  // source file -> relative path (with "Message/" or "Library/")
};

// True for a relative path that names a place inside its domain: not empty,
// not absolute, no empty, "." or ".." component.
bool isPlainBackupPath(const QString& relativePath);

// The entries that write a merge result into a backup with these records.
// The databases go where the backup keeps WhatsApp's database (the shared
// group container, else the app container's Documents/; without either,
// by the iOS version: below 8.3 the app container), overwriting; media go
// into the group container's Message/ when the backup has it, else into the
// app container's Library/, never overwriting. A media path that is not
// plain gets no entry (logged).
QList<BackupFileEntry> backupEntriesForMerge(const MBDBParser& records, const QString& productVersion,
                                             const WhatsAppMergeResult& result);
