// The window's "Import from iTunes Backup": choose a backup, ask for its
// password when it is encrypted, load its manifest, copy WhatsApp's files
// out of it behind a progress dialog, open them as a chat database and hand
// all of its messages to the window's save step, which merges them into a
// local database (the device name followed by "_Backup" proposed, or the
// local database the command was started from).
#pragma once

#include "chatstore/abswamsgssource.h"
#include "chatstore/whatsappapp.h"

#include <QString>

#include <functional>

class BackupManifest;
class QWidget;

// The window's saveToLocalDatabase(proposedName, source).
using SaveToLocalDatabase = std::function<void(const QString& proposedName, const PAbsWAMsgsSource& source)>;

// targetFolder: empty from the menu and the Local Databases root; the local
// database's folder from a local database's entry (the copy then goes into
// that folder, and that database's name is proposed). Returns true when the
// messages were handed to the save step.
bool loadFromItunes(QWidget* window, const QString& targetFolder, const SaveToLocalDatabase& save);

// Which app to load from a backup holding these: the only one without
// asking, else the user's choice (nullptr when they cancel).
const WhatsAppApp* chooseWhatsAppApp(QWidget* window, const QList<const WhatsAppApp*>& apps);

// The steps after the chooser, for a chosen backup.
bool loadChosenBackup(QWidget* window, BackupManifest& backup, const QString& targetFolder,
                      const SaveToLocalDatabase& save);
