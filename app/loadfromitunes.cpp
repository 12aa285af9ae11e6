#include "app/loadfromitunes.h"

#include "app/loaditunesbackupdlg.h"
#include "app/messagebox.h"
#include "app/passcodedlg.h"
#include "app/progressjob.h"
#include "chatstore/ioswhatsappdb.h"
#include "chatstore/loadwhatsappdbthread.h"
#include "chatstore/wamsgsdatasource.h"
#include "itunes/backupmanifest.h"
#include "itunes/iosloadwafromitunesthread.h"

bool loadFromItunes(QWidget* window, const QString& targetFolder, const SaveToLocalDatabase& save)
{
    PBackupManifest backup;
    {
        LoadItunesBackupDlg chooser(window);
        if (chooser.exec() != QDialog::Accepted)
            return false;
        backup = chooser.chosenBackup();
    }
    if (!backup)
        return false;
    return loadChosenBackup(window, *backup, targetFolder, save);
}

bool loadChosenBackup(QWidget* window, BackupManifest& backup, const QString& targetFolder,
                      const SaveToLocalDatabase& save)
{
    if (backup.isEncrypted && backup.password.isEmpty()) {
        PasscodeDlg prompt(backup, window);
        if (prompt.exec() != QDialog::Accepted)
            return false;
    }
    try {
        backup.loadThrow();
    } catch (const std::exception& e) {
        errorBox(QString::fromUtf8(e.what()));
        return false;
    }

    IOSLoadWAFromiTunesThread copy(backup, targetFolder);
    if (!runProgressJob(window, QString(), copy))
        return false;

    std::shared_ptr<IOSWhatsAppDb> db;
    PChatDbView view;
    try {
        db = IOSLoadWAFromiTunesThread::openLoadedDb(copy.appFolder());
    } catch (const std::exception& e) {
        errorBox(QString::fromUtf8(e.what()));
        return false;
    }
    LoadWhatsAppDbThread load(db);
    bool listed = runProgressJob(window, QString(), load, [&] { view = load.takeResult(false); });
    if (!listed || !view)
        return false;
    const auto source = std::make_shared<WAMsgsDataSource>(view, nullptr, true);
    if (save)
        save(IOSLoadWAFromiTunesThread::proposedDatabaseName(backup, targetFolder), source);
    return true;
}
