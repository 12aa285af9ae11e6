// backup2tool: the host side of one mobilebackup2 backup or restore. It
// opens the phone's service, sends the request and then answers every
// device-link message until the phone says it is done. Decisions about
// single files belong to the Backup2ToolHook; the bytes travel through a
// Backup2Transport (libimobiledevice unless a test gives its own).
//
// Everything the phone sends is checked before it is used: paths must stay
// inside the backup root, names and blocks are read with bounds, and a
// message with missing or mistyped items ends the run with an error.
#pragma once

#include "device/backup2toolhook.h"
#include "device/backup2transport.h"

#include <QMutex>
#include <QObject>
#include <QString>

#include <functional>

struct Backup2Options {
    qint32 op = 0;                     // 0 = backup, 1 = restore
    bool conditional = false;
    bool systemFiles = true;           // RestoreSystemFiles
    bool shouldReboot = true;          // RestoreShouldReboot
    bool dontCopyBackup = true;        // RestoreDontCopyBackup
    bool preserveSettings = true;      // RestorePreserveSettings
    bool removeItemsNotRestored = false;
    QString password;
};

class backup2tool : public QObject {
    Q_OBJECT
public:
    backup2tool(const QString& udid, const QString& backupRoot, PBackup2ToolHook hook = nullptr,
                QObject* parent = nullptr);
    ~backup2tool() override;

    // One whole backup or restore; 0 is success. Transport and protocol
    // faults throw; failures the phone reports are returned with `error`.
    qint32 run(Backup2Options options, QString& error);
    // run() turned into a user text: returns on success, throws the text
    // otherwise, and throws JobCancelled when the run was cancelled.
    void runThrow(const Backup2Options& options);

    void setManifestSubstitute(const QString& name) { m_manifestSubstitute = name; }
    QString deviceFolder() const { return m_deviceFolder; }
    bool wasCancelled() const;

    // The transport of the next run (tests); null restores libimobiledevice.
    void setTransportFactory(std::function<PBackup2Transport()> factory) { m_transportFactory = std::move(factory); }
    // How long a file-name read may see nothing before the run gives up.
    void setSilenceLimit(int milliseconds) { m_silenceLimitMs = milliseconds; }

    // "%0.1f GB" and friends, as shown in progress texts.
    static QString sizeText(quint64 bytes);
    // The user text runThrow() throws for a failed run.
    static QString failureText(qint32 op, qint32 result, const QString& error);

public slots:
    void cancel();

signals:
    void update(double pg, QString status1, QString status2);

private:
    class Run;

    mutable QMutex m_lock;
    QString m_udid;
    QString m_backupRoot;
    QString m_deviceFolder;
    PBackup2ToolHook m_hook;
    double m_progress = 0;
    bool m_cancelled = false;
    QString m_manifestSubstitute;
    QString m_extraErrorDetail;
    std::function<PBackup2Transport()> m_transportFactory;
    int m_silenceLimitMs = 5 * 60 * 1000;
};
