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

#include <QPushButton>

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

const WhatsAppApp* chooseWhatsAppApp(QWidget* window, const QList<const WhatsAppApp*>& apps)
{
    if (apps.isEmpty())
        return &WhatsAppApp::messenger();  // the copy reports that there is no WhatsApp data
    if (apps.size() == 1)
        return apps.first();
    QMessageBox box(QMessageBox::Question, QObject::tr("Import from iTunes Backup"),
                    QObject::tr("This backup holds the chats of more than one app. Which one do you want to load?"),
                    QMessageBox::NoButton, window);
    box.setTextFormat(Qt::PlainText);
    QList<QPair<QAbstractButton*, const WhatsAppApp*>> choices;
    for (const WhatsAppApp* app : apps) {
        QPushButton* button = box.addButton(app->name, QMessageBox::AcceptRole);
        button->setObjectName(QStringLiteral("app_") + app->cliName);
        choices.append({button, app});
    }
    QPushButton* cancel = box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(qobject_cast<QPushButton*>(choices.first().first));
    box.setEscapeButton(cancel);
    box.exec();
    for (const auto& [button, app] : choices)
        if (box.clickedButton() == button)
            return app;
    return nullptr;
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

    // A backup with both WhatsApp and WhatsApp Business asks which one first.
    const WhatsAppApp* app = chooseWhatsAppApp(window, IOSLoadWAFromiTunesThread::appsInBackup(backup));
    if (!app)
        return false;
    IOSLoadWAFromiTunesThread copy(backup, targetFolder, *app);
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
        save(IOSLoadWAFromiTunesThread::proposedDatabaseName(backup, targetFolder, *app), source);
    return true;
}
