// What the chat-database benchmarks share: their command line, the database
// they measure, timing and the sqlite3 shell as the baseline.
#pragma once

#include "tools/fixturebuilder/chatdbbuilder.h"

#include <QElapsedTimer>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

struct BenchOptions {
    QList<qint64> sizes{200000};  // every size asked for, in order
    ChatDbLayout layout = ChatDbLayout::Local;
    qint64 messages() const { return sizes.value(0, 200000); }  // the first (or only) size
};

// Reads [MESSAGES[,MESSAGES...]] [--layout local|modern|today]: one size, or
// several separated by commas (each measured in turn, for how the figures
// grow with the size). False after printing the usage of the program
// `name` when a message count is not a positive number.
bool parseBenchOptions(const QStringList& args, const char* name, BenchOptions* options);

// Resident memory of this process from /proc/self/status, in MiB ("VmRSS:",
// "VmHWM:" for the peak); -1 when unknown.
double statusMiB(const char* key);
// Starts the peak (VmHWM) afresh from the current resident size, after
// handing freed heap back to the system (so that what writing the database
// left behind does not count), and SQLite's own peak with it; returns the
// resident size in MiB the peak starts from (-1 when unknown).
double resetPeakMemory();
// The most memory SQLite held (page caches, statements) since the last
// resetPeakMemory, in MiB.
double sqlitePeakMiB();

const char* layoutName(ChatDbLayout layout);

// Writes a chat database into `folder`: three chats (one a group with
// members) and `messages` messages of the bulk mix spread over them.
ChatDbFolder writeBenchDatabase(const QString& folder, ChatDbLayout layout, qint64 messages);

// Milliseconds since the timer started.
double ms(const QElapsedTimer& t);
// Seconds since the timer started.
double seconds(const QElapsedTimer& t);

class Job;
// Runs a job and adds the seconds it took to *secondsTaken; false (its
// errors on stderr, after `what`) when it did not succeed.
bool runJob(Job& job, const char* what, double* secondsTaken);

// Runs a tool to its end; false (its error output on stderr) when it
// failed or did not exit with 0.
bool runTool(const QString& program, const QStringList& args);

// Runs the sqlite3 shell on a script against a database; returns
// milliseconds, or -1 when it failed (the shell's error goes to stderr).
double runShell(const QString& shell, const QString& database, const QString& script);

// The figures of one size when a benchmark measures several: messages per
// second of each measured kind (named when printed) and the peak memory.
struct SizeFigures {
    qint64 messages = 0;
    std::vector<double> rates;  // msg/s, in the order of the names
    double peakMiB = 0;
    double startMiB = -1;   // resident size when the measured work began
    double sqliteMiB = -1;  // SQLite's own peak during the work
};

// Prints every size's rates and peak memory (with the resident size it
// started from and SQLite's share, where known), then how they changed
// from the first size to the last; nothing for fewer than two sizes. `names` name the
// rates ("first merge", "ascending", ...).
void printGrowth(const std::vector<const char*>& names, const QList<SizeFigures>& sizes);

// Runs `bench` for every size asked for, under a heading of its own when
// there are several; the first code other than 0 ends the run and is
// returned.
int runEverySize(const BenchOptions& options, const std::function<int(qint64, ChatDbLayout)>& bench);
