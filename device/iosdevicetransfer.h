// Transferring messages to a connected iPhone, the same for the window, the
// command line and tests:
//
//   1. refresh: the phone's WhatsApp-only backup is brought up to date and
//      copied into its cache (IOSDeviceLoad), so that messages the phone
//      received since it was loaded are merged too, not overwritten;
//   2. the pre-transfer copy of the phone's own databases (pretransfercopy.h);
//   3. merge (IOSRestoreWAMessagesThread) into a working copy of the cache's
//      databases beside the cache, never into the cache itself;
//   4. checks of the merged databases (integrity, message order, key
//      counters): a failure ends the transfer before anything is written;
//   5. write (IOSMergeWAFiles2iTunesBKThread) into the backup, keeping the
//      replaced files aside, then the stored databases read back
//      (decrypted) and compared with the merged files;
//   6. the reduced manifest "Manifest-wa.db" naming only WhatsApp's domains;
//   7. restore (IOSMobileRestoreThread) with the reduced manifest;
//   8. only now: the backup's set-aside files are dropped and the working
//      copy replaces the cache's databases.
//
// Any failure on the way puts the backup back as the refresh left it and
// drops the working copy: the cache and the backup keep the phone's own
// data, and the front end is told that the phone was not changed (a phone
// applies a restore only once every file has arrived) and where the
// pre-transfer copy lies. A refusal with "MBErrorDomain/205" still removes
// the backup folder (the restore job does that).
//
// IOSDeviceTransferUndo writes a pre-transfer copy back the same way.
#pragma once

#include "chatstore/abswamsgssource.h"
#include "device/iosdeviceinfo.h"
#include "device/iosloadwhatsappthread.h"
#include "device/pretransfercopy.h"
#include "itunes/backupfileentry.h"

#include <QString>

#include <functional>
#include <memory>

class BackupManifest;

class IOSDeviceTransfer {
public:
    enum class Outcome { Transferred, Cancelled, Failed, CloudBackupOn, PasswordRefused, NoWhatsApp };

    IOSDeviceTransfer(PIOSDeviceInfo target, PAbsWAMsgsSource source);

    // The remote restore setting read by the front end (online/): the
    // restore then sends only the switches that differ from the phone's
    // defaults and leaves the system files alone.
    void setSystemMode(bool on) { m_systemMode = on; }

    Outcome run(IOSDeviceLoadFrontend& frontend);

    // Source messages handled and messages the phone did not have.
    qint64 processed() const { return m_processed; }
    qint64 added() const { return m_added; }
    // The copy made before anything was written (invalid when none was).
    const PreTransferCopy& preTransferCopy() const { return m_copy; }

    // "Successfully transferred %1 messages to iPhone. ..." (rich text)
    static QString successText(qint64 processed);
    // What happened to the phone after a failure, with the copy's name.
    static QString phoneUnchangedText(const PreTransferCopy& copy);

    // Checks a merged chat database (and the search index beside it when
    // given and present) before it is written anywhere: SQLite's integrity
    // check, each chat's ZSORT numbering 1..n, and every Core Data key
    // counter (Z_MAX) at or above the largest key of its table. Throws
    // AppError naming what is wrong.
    static void checkMergedDatabasesThrow(const QString& databasePath, const QString& searchPath = {});

    // The working copy's folder beside the phone's cache.
    static QString workingFolder(const IOSDeviceInfo& device);

private:
    PIOSDeviceInfo m_target;
    PAbsWAMsgsSource m_source;
    bool m_systemMode = false;
    qint64 m_processed = 0;
    qint64 m_added = 0;
    PreTransferCopy m_copy;
};

class IOSDeviceTransferUndo {
public:
    using Outcome = IOSDeviceTransfer::Outcome;

    // copyId: the pre-transfer copy to write back; empty means the newest
    // whose transfer reached the phone.
    IOSDeviceTransferUndo(PIOSDeviceInfo target, const QString& copyId = {});
    void setSystemMode(bool on) { m_systemMode = on; }

    // confirm gets, after the refresh, the number of messages on the phone
    // that the copy does not hold (received since the transfer) and says
    // whether to go on; false cancels with nothing written.
    Outcome run(IOSDeviceLoadFrontend& frontend, const std::function<bool(qint64 dropped)>& confirm);

    const PreTransferCopy& copy() const { return m_copy; }
    qint64 dropped() const { return m_dropped; }

    // Messages of the database at `current` that the copy's database does not
    // hold: newer than the transfer when the copy knows where it ended,
    // otherwise by stanza id.
    static qint64 messagesSince(const PreTransferCopy& copy, const QString& current);

private:
    PIOSDeviceInfo m_target;
    QString m_copyId;
    bool m_systemMode = false;
    PreTransferCopy m_copy;
    qint64 m_dropped = 0;
};
