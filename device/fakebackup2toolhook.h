// FakeBackup2ToolHook: the hook of a WhatsApp-only backup. The phone sends
// an ordinary backup of everything; this hook keeps on disk only the files
// of the included apps' containers (found by the container UUID in the
// phone's path of each file) and the backup's own bookkeeping files, drops
// the data of all others, and records every file in FakeDNameDb. When the
// phone lists the backup folder to plan an incremental backup, the dropped
// files are reported from the store with the size and time recorded for
// them, so the phone takes the backup for complete and sends only what
// changed.
//
// One hook serves one run. Paths arrive checked by backup2tool (inside the
// backup root, no links); file names from the phone only ever name a row of
// the store or a file inside the device folder.
#pragma once

#include "device/backup2toolhook.h"
#include "device/fakednamedb.h"

#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>

class FakeBackup2ToolHook : public Backup2ToolHook {
public:
    FakeBackup2ToolHook();
    ~FakeBackup2ToolHook() override;

    // Bundle identifiers whose data is kept ("net.whatsapp.WhatsApp").
    void setIncludedApps(const QStringList& bundleIds);
    QSet<QString> includedApps() const { return m_includedApps; }

    // Gives the container map instead of asking the phone in init (tests).
    void setAppContainers(const QMap<QString, QSet<QString>>& containers);
    // Bundle id -> upper-case UUIDs of its data and group containers.
    const QMap<QString, QSet<QString>>& appContainers() const { return m_appContainers; }
    const QSet<QString>& allContainers() const { return m_allContainers; }
    // What the installation proxy said when it could not be asked (empty
    // when the map was read).
    QString containerError() const { return m_containerError; }

    void init(const QString& root, const QString& udid) override;
    QList<DLFileEntry> listDir(const QString& root, const QString& path) override;
    void beforeReceiveFile(const QString& root, const QString& udid, const QString& localPath,
                           const QString& devicePath) override;
    int openReceiveFile(const QString& root, const QString& path, QFile& file, QString& error) override;
    void fileReceived(const QString& root, const QString& path, qint64 bytes) override;
    int removeItem(const QString& root, const QString& path, QString& error) override;
    int copyEntry(const QString& root, const QString& source, const QString& target, QString& error) override;
    int makeDirectory(const QString& root, const QString& name, QString& error) override;

    // True when the file is kept on disk: a fixed name, or a file of an
    // included app's container. An empty device path is looked up in the store.
    bool isIncluded(const QString& root, const QString& path, const QString& devicePath);

    // Reads the container map from the phone's installation proxy.
    void loadContainers(const QString& udid);

    // The lower-case names that are always kept.
    static const QSet<QString>& fixedNames();
    // The first container UUID in a phone path, upper case; empty when none.
    static QString containerUuidOf(const QString& devicePath);

    FakeDNameDb& store() { return m_store; }

    // What this run received: files and bytes kept and dropped.
    quint64 keptFiles() const { return m_keptFiles; }
    quint64 keptBytes() const { return m_keptBytes; }
    quint64 droppedFiles() const { return m_droppedFiles; }
    quint64 droppedBytes() const { return m_droppedBytes; }
    // True once the phone sent the device folder's own Status.plist in this
    // run (it does so last, after the backup is in place).
    bool statusReceived() const { return m_statusReceived; }

private:
    void openStoreThrow(const QString& root, const QString& udid);

    QSet<QString> m_includedApps;
    FakeDNameDb m_store;
    QMap<QString, QSet<QString>> m_appContainers;
    QSet<QString> m_allContainers;
    bool m_containersGiven = false;
    QString m_containerError;
    QString m_udid;
    // The decision of the file being received.
    QString m_currentPath;
    bool m_currentKept = false;
    quint64 m_keptFiles = 0;
    quint64 m_keptBytes = 0;
    quint64 m_droppedFiles = 0;
    quint64 m_droppedBytes = 0;
    bool m_statusReceived = false;
};
