// What every command of quillometry-cli writes and how: UTF-8 text on
// standard output (results) and standard error (errors, progress), JSON
// documents for --json, and the program's log, which stays in the log file
// unless --verbose asks for it on standard error.
#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QDateTime>
#include <QString>

// Writes UTF-8 text to standard output / standard error.
void cliOut(const QString& text);
void cliErr(const QString& text);
// "error: " + text + line feed on standard error.
void cliError(const QString& text);

// One JSON document on standard output (indented, texts as they are).
void cliOutJson(const QJsonArray& array);
void cliOutJson(const QJsonObject& object);
// ISO 8601 with the local offset always written out: 2024-03-05T09:00:00+01:00.
QString isoDateWithOffset(const QDateTime& dateTime);
// A Core Data date (seconds since 2001-01-01 UTC) for JSON: the fields
// <key> (ISO 8601 local time with its offset) and <key>CoreData (the seconds).
void addJsonDate(QJsonObject& object, const QString& key, double coreDataSeconds);

// Help text in two aligned columns, each row indented by two blanks.
QString cliHelpTable(const QList<QPair<QString, QString>>& rows);

// Log lines are echoed on standard error only in verbose mode.
void setCliVerbose(bool verbose);
// Sends the program's log into the data folder's daily files (once).
void startCliLogging();
