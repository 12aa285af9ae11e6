// "Export Messages to iTunes Backup" (selected messages, the chat on show,
// or all messages of the database): the user picks a backup, its WhatsApp
// data is loaded into the cache of the backup's virtual device, the messages
// are merged into that copy, and the merged databases and new media files
// are written into the backup, all or nothing. The cache is removed
// afterwards whatever happened.
#pragma once

#include "app/commandrules.h"
#include "chatstore/abswamsgssource.h"

#include <QObject>

class BackupManifest;
class MainWindow;

class ExportToItunesCommands : public QObject {
    Q_OBJECT
public:
    explicit ExportToItunesCommands(MainWindow* window);

    void exportToItunes(CommandScope scope);
    // The flow for a source and a chosen, opened backup (also for tests).
    bool exportToBackup(const PAbsWAMsgsSource& source, BackupManifest& backup);

    static QString successText(qint64 messages);

private:
    MainWindow* m_window;
};
