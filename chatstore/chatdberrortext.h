// The one place where an SQLite failure becomes a text for the user: which
// database file, what is wrong with it, and what the user can do. The
// SQLite wording stays in brackets; statements never reach the user (they
// go to the log where they are raised).
#pragma once

#include <QString>

#include <exception>

// The text for `message` (SQLite's or a job's own) raised on the chat
// database `databasePath`. A message that already names the file is kept.
QString chatDatabaseErrorText(const QString& databasePath, const QString& message);

// The same for a thrown error: an Sqlite3Error names its own database file
// (used when it has one); anything else is taken to concern databasePath.
QString chatDatabaseErrorText(const QString& databasePath, const std::exception& error);
