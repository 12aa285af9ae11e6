// Local databases: chat databases the program keeps on the computer under
// a name the user chose, each a folder of local_databases in the data
// folder laid out like a WhatsApp chat folder:
//   <name>/ChatStorage.sqlite        created at the first open, always upgraded
//   <name>/Library/                  media files under their stored paths
//   <name>/Library/Media/Profile/    chat pictures and thumbnails
// A sub-folder counts as a local database when it holds ChatStorage.sqlite.
//
// The name rules and the find-or-create by name live here, once, for the
// window and the command line alike. A name is only ever used as one plain
// folder name inside local_databases: nothing a user types can make a
// backup write, or a deletion remove, anything outside it.
#pragma once

#include "chatstore/ioswhatsappdb.h"
#include "chatstore/localdblock.h"

#include <QString>
#include <QStringList>

#include <memory>

// The text to show when `name` cannot name a local database, or empty when
// it can: IDS_PLEASE_SELECT_DATABASE_OR_INPUT_NEW_NAME when it is empty
// after trimming; IDS_INVALID_LOCALDB_NAME when it holds one of
// \ / : * ? " < > | or a line feed, carriage return, tab or NUL, when it is
// "." or ".." (or only dots and blanks, which some systems read as such),
// or when it would resolve to anything but a folder directly inside
// local_databases. A name with leading or trailing blanks is accepted as is.
QString localDbNameError(const QString& name);

// `proposal` made into a name localDbNameError accepts: every character the
// rules refuse becomes "_" (a name of dots and blanks only becomes "_" too).
QString validLocalDbName(const QString& proposal);

// The names of the local databases in `baseFolder` (sub-folders holding
// ChatStorage.sqlite), ordered without regard to case.
QStringList localDatabaseNames(const QString& baseFolder);

// The name among `existing` that `name` selects: an exact match first, else
// the first equal without regard to case; empty when none.
QString matchLocalDatabaseName(const QString& name, const QStringList& existing);

// The chat database of a local-database folder: no contacts database, the
// media folder Library, the profile folder Library/Media/Profile, upgraded
// on opening and created at the first open.
std::shared_ptr<IOSWhatsAppDb> openLocalDatabase(const QString& folder);

struct LocalDatabase {
    QString name;    // the folder name (an existing database's own spelling)
    QString folder;  // absolute path
    std::shared_ptr<IOSWhatsAppDb> db;
    bool created = false;         // ChatStorage.sqlite was made by this call
    bool createdFolder = false;   // and so was its folder
    PLocalDbLock lock;            // this job's claim; keep it until the job ended
};

// The local database that `name` selects in `baseFolder`, created (folder
// with Library/Media/Profile) when there is none; an existing database is
// matched without regard to case. The job's lock (LocalDbLock) is taken
// first and comes back in the result. A new ChatStorage.sqlite is made
// whole under a temporary name in its folder and linked into place only
// when no database has appeared there, so no one ever sees a half-made
// one. Throws AppError with the name-rule text for a name localDbNameError
// refuses, the "in use" text when another job keeps the database, or when
// the folder or the database cannot be made.
LocalDatabase findOrCreateLocalDatabase(const QString& name, const QString& baseFolder);

// The same in the data folder's local_databases.
LocalDatabase findOrCreateLocalDatabase(const QString& name);

// Undoes what findOrCreateLocalDatabase provably made for `local` after its
// job failed: the folder when it made the folder, else only the database
// file it made; nothing of a database that existed before. Closes the
// database first; the lock stays with `local`.
void discardCreatedLocalDatabase(LocalDatabase& local, const QString& baseFolder);

// Removes a local database's folder with everything in it (links are
// removed, never followed). Only folders directly inside baseFolder whose
// name passes the rules are touched; returns false otherwise or when
// something could not be removed.
bool removeLocalDatabase(const QString& name, const QString& baseFolder);

// After a chat was deleted from a database: removes the folder "Media/" +
// jid inside the database's media folder, but only when the JID is a plain
// name (no "/" or "\\", not "." or "..") and the folder lies inside the media
// folder. Returns true when a folder was removed.
bool removeChatMediaFolder(const IOSWhatsAppDb& db, const QString& jid);

// An app container copied as a phone keeps it (<bundle id>/Documents,
// <bundle id>/Library), opened as it is: never created, never upgraded.
std::shared_ptr<IOSWhatsAppDb> openAppContainerCopy(const QString& appFolder);

// The chat database of a saved device copy (a folder of virtual_ios in the
// data folder): the phone's app folder net.whatsapp.WhatsApp inside it when
// that holds Documents/ChatStorage.sqlite (with its contacts database), else
// the folder's own ChatStorage.sqlite. Never created when missing.
std::shared_ptr<IOSWhatsAppDb> openSavedDeviceCopy(const QString& folder);
