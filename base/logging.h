// The daily log files: every Qt message of any thread becomes one line in
// "log-yyyyMMdd.txt" of the log folder. Logging never shows a message and
// never fails loudly; a line that cannot be written is lost.
#pragma once

#include <QString>
#include <QtGlobal>

// Remembers `folder` as the log folder, deletes the oldest files so that at
// most `keep` regular files remain (by name, ascending: the date in the
// names makes them the oldest days), and installs logMessageHandler.
void installLogging(const QString& folder, int keep);

// Where logMessageHandler echoes a message besides the log file: the window
// prints debug lines on standard output; the command line keeps both of its
// streams for its own output and echoes every line to standard error only
// when asked to (--verbose).
enum class LogEcho { DebugToStdout, None, AllToStderr };
void setLogEcho(LogEcho echo);

// "(D hh:mm:ss) text", "(W ...)", "(C ...)", "(F ...)" and "(hh:mm:ss) text"
// for any other kind, appended to the day's file when a log folder is set.
// Lines are echoed as setLogEcho says (debug lines to standard output by
// default); after a fatal line the file is flushed and the process aborts.
void logMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message);

// The line logMessageHandler writes for a message of `type` at `time`.
QString logLine(QtMsgType type, const QString& time, const QString& message);

// Deletes the first (count - keep) regular files of `folder` sorted by name.
void pruneLogFolder(const QString& folder, int keep);
