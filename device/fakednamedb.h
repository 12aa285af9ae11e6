// FakeDNameDb: the small table ("dname.sqlite" in a device folder) that
// remembers every file a phone sent during a WhatsApp-only backup: its
// backup file name, the sub-folder it belongs in, the phone's own path, the
// bytes received, when the row was written, and whether the data was kept.
// FakeBackup2ToolHook reports the dropped files from here when the phone
// lists the backup folder, so the phone believes it holds a whole backup.
//
// The store keeps one transaction open from opening to destruction and
// commits it every 10000 addFile calls and at the end, so a backup of many
// files costs few disk syncs. SQL errors after opening are swallowed: a row
// that could not be written is simply missing, and the phone sends that
// file again next time. Nothing here ever deletes a file on disk.
#pragma once

#include "chatstore/sqlite3db.h"
#include "device/backup2toolhook.h"

#include <QList>
#include <QString>

class FakeDNameDb : public Sqlite3DB {
public:
    FakeDNameDb() = default;
    ~FakeDNameDb() override;

    // Opens (or creates, with its table and index) the store at `path` and
    // begins the running transaction. True at once when already open.
    bool openDb(const QString& path, QString& error);

    // Commits the running transaction and closes the store.
    void closeDb();

    // The phone's path recorded for the backup file name f; empty without a row.
    QString findDevicePath(const QString& f);
    // Records a file the phone is about to send (size 0 until received).
    void addFile(const QString& f, const QString& devicePath, bool kept, qint64 time);
    void setFileSizeTime(const QString& f, qint64 time, qint64 size);
    void removeFile(const QString& f);
    // The folder entries (p empty only) and file entries of sub-folder p.
    QList<DLFileEntry> listEntries(const QString& p);

    // The sub-folder of a backup file name: its first two characters when it
    // has 32 or more, else empty (the device folder itself).
    static QString subFolderOf(const QString& f);

    // addFile calls since opening.
    quint64 addedFiles() const { return m_added; }

private:
    void commitAndBegin();

    quint64 m_added = 0;
};
