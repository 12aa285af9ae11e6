// Backup2ToolHook: every decision about single files during a mobilebackup2
// backup or restore (where a received file goes, how folders are listed,
// moved, copied and removed). backup2tool carries the conversation and asks
// the hook; the base class keeps a plain backup folder, and subclasses keep
// only what their job needs.
//
// Paths are relative to the backup root as the phone sends them.
// backup2tool checks them with resolveInside() before any hook call, so a
// hook never sees a path that leaves the root or passes through a symbolic
// link.
#pragma once

#include <QDateTime>
#include <QFile>
#include <QList>
#include <QString>

#include <memory>

class PlistCFType;

// One entry of a folder listing.
struct DLFileEntry {
    QString name;            // no path
    qint32 type = 1;         // 2 = folder, 1 = regular file
    quint64 size = 0;        // bytes
    QDateTime modified;
};

class Backup2ToolHook {
public:
    virtual ~Backup2ToolHook();

    virtual void init(const QString& root, const QString& udid);
    // False ends the run with `result`.
    virtual bool onMessage(const QString& root, const QString& udid, const PlistCFType& message, int& result,
                           QString& error);
    virtual QList<DLFileEntry> listDir(const QString& root, const QString& path);
    virtual void beforeReceiveFile(const QString& root, const QString& udid, const QString& localPath,
                                   const QString& devicePath);
    // Opens root/path for writing; returns 0 or the file's error code.
    virtual int openReceiveFile(const QString& root, const QString& path, QFile& file, QString& error);
    virtual void fileReceived(const QString& root, const QString& path, qint64 bytes);
    virtual int moveItem(const QString& root, const QString& source, const QString& target, QString& error);
    virtual int removeItem(const QString& root, const QString& path, QString& error);
    virtual int copyEntry(const QString& root, const QString& source, const QString& target, QString& error);
    virtual int makeDirectory(const QString& root, const QString& name, QString& error);

    // root + "/" + path when the path is relative, names no "." or ".."
    // component, is not the root itself and passes through no symbolic link
    // below the root (the last component included); an empty text
    // otherwise. Every path a phone names goes through here first.
    static QString resolveInside(const QString& root, const QString& path);

protected:
    // Removes a file, or a folder depth first; links are removed as links.
    static void removeRecursively(const QString& absolutePath);
    static int copyRecursively(const QString& source, const QString& target, QString& error);
};

using PBackup2ToolHook = std::shared_ptr<Backup2ToolHook>;
