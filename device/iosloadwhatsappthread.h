// Loading WhatsApp from a connected phone, the same for the window, the
// command line and tests:
//
//   1. IOSLoadWhatsAppThread: the first progress step;
//   2. checkDeviceBackupSettings: a phone that backs up to iCloud refuses;
//   3. IOSMobileBackupThread: a WhatsApp-only backup into the temporary
//      backup folder "wa" (incremental after the first load); the window
//      backs up WhatsApp Business too and asks which to load when the
//      phone has both;
//   4. the backup opened and, when encrypted, unlocked with the phone's
//      password (asked for when it has none or it no longer verifies);
//   5. IOSLoadWAFromiTunesThread: the app's files copied into the phone's
//      cache folder "ios_cache/<UDID>";
//   6. the success check: the cache holds a non-empty ChatStorage.sqlite.
//
// The front end runs each stage under a progress display of its own and
// answers the questions (password) and boxes (warning, error) of the load.
// A copy that fails or is cancelled leaves no half-filled app folder behind
// that would later open as the phone's chats; the snapshot is never touched.
#pragma once

#include "base/job.h"
#include "chatstore/whatsappapp.h"
#include "device/iosdeviceinfo.h"

#include <QString>

class BackupManifest;

class IOSLoadWhatsAppThread : public Job {
public:
    explicit IOSLoadWhatsAppThread(PIOSDeviceInfo device) : m_device(std::move(device)) {}
    void run(JobMonitor& monitor) override;
    const PIOSDeviceInfo& device() const { return m_device; }

private:
    PIOSDeviceInfo m_device;
};

// True when the load or a transfer may go on: false only when the phone
// says that its iCloud backup is on (then *warning holds the box's text).
// A phone that cannot be asked, or answers something else, may go on.
bool checkDeviceBackupSettings(const IOSDeviceInfo& device, QString* warning = nullptr);

// "Failed to transfer data to device. Please turn off iCloud backup..."
QString cloudBackupText();
// The rich text of the iCloud warning box, with its picture.
QString cloudBackupWarningText();
// The text when the cache holds no usable chat database after a load.
QString cantAccessWhatsAppText();

class IOSDeviceLoadFrontend {
public:
    virtual ~IOSDeviceLoadFrontend();
    // Runs one stage under its own progress display; true when it ended
    // with success (its error has then been shown by the display).
    virtual bool runStage(Job& job) = 0;
    // The password of the phone's encrypted backup; `wrong` when the last
    // one did not unlock it. False when the user gives none. A front end
    // that unlocked `backup` with it already sets *unlocked.
    virtual bool askPassword(const IOSDeviceInfo& device, BackupManifest& backup, bool wrong, QString* password,
                             bool* unlocked) = 0;
    virtual void showWarning(const QString& richText) = 0;
    virtual void showError(const QString& text) = 0;
    // Which app to load from a phone that has several; null cancels. By
    // default the first (WhatsApp).
    virtual const WhatsAppApp* chooseApp(const QList<const WhatsAppApp*>& apps);
};

class IOSDeviceLoad {
public:
    enum class Outcome { Loaded, Cancelled, Failed, CloudBackupOn, PasswordRefused, NoWhatsApp };

    IOSDeviceLoad(PIOSDeviceInfo device, const WhatsAppApp& app = WhatsAppApp::messenger());

    // The backup of a load goes below `root` instead of the temporary
    // backup folder, and the cache below `dataFolder` (tests).
    void setBackupRoot(const QString& root) { m_backupRoot = root; }
    // Back up both apps and, when the phone has both, let the front end
    // choose (the window); otherwise only the app given is loaded.
    void setChooseApp(bool choose) { m_chooseApp = choose; }
    const WhatsAppApp& app() const { return *m_app; }

    Outcome run(IOSDeviceLoadFrontend& frontend);

    // The app folder the load fills: "ios_cache/<UDID>/<bundle id>".
    QString appFolder() const;
    QString databasePath() const;
    // Whether the backup was incremental; how many files the copy wrote.
    bool wasIncremental() const { return m_incremental; }
    int copiedFiles() const { return m_copied; }
    // The phone's WhatsApp-only backup the last run made (backupRoot/UDID).
    QString backupFolder() const { return m_backupFolder; }

private:
    Outcome copyStage(IOSDeviceLoadFrontend& frontend, BackupManifest& backup);

    PIOSDeviceInfo m_device;
    const WhatsAppApp* m_app;
    QString m_backupRoot;
    bool m_chooseApp = false;
    bool m_incremental = false;
    int m_copied = 0;
    QString m_backupFolder;
};
