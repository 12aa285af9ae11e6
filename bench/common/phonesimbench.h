// What the benchmarks against a simulated phone share: running a tool
// with its time (after the dirty pages of the stage before were written
// out), the bytes of a folder, a file's SHA-1, the chat folder seeded into
// the phone (a small database and media files), the simulator with its
// control channel, and one row of figures beside idevicebackup2's.
#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <functional>

namespace phonesimbench {

extern const QString kUdid;
extern const QString kGroupDomain;

double seconds(const QElapsedTimer& t);

struct Run {
    bool ok = false;
    double secs = 0;
    QByteArray output;
};

Run runTool(const QString& program, const QStringList& args, const QByteArray& input = QByteArray());
qint64 bytesBelow(const QString& folder);
QByteArray sha1Of(const QString& path);
QString findFile(const QString& root, const QString& name);
// A small database and sizeMb of media files (4 MB each) named `prefix`-N.
bool writeChatFolder(const QString& folder, qint64 sizeMb);
// sizeMb of random files (4 MB each) in `folder`, named `prefix`-N.bin.
bool writeRandomFiles(const QString& folder, const QString& prefix, qint64 sizeMb, quint64 seed);

struct Sim {
    QString phonesim;
    QProcess process;
    QString control;
    explicit Sim(QString program) : phonesim(std::move(program)) {}
    bool start(const QString& phone, const QString& records);
    QString ctl(const QStringList& words);
    qint64 bytesSent();
    // Waits until the phone is attached again (after a reboot of its own or one asked for).
    void waitAttached();
    void rebootAndWait();
    ~Sim();
};

// Enough space below `base` for `needed` bytes; otherwise says so for `bench`.
bool enoughSpace(const char* bench, const QString& base, qint64 needed);
// Writes the chat folder, seeds the phone from it and removes it again.
bool seedBenchPhone(const QString& phonesim, const QString& work, const QString& phone, qint64 sizeMb);
// The backups in each folder hold the phone's ChatStorage.sqlite and first
// media file byte for byte (read through `itunes-get`); prints one line each.
bool checkBackupsAgainstPhone(const QString& cli, const QString& work, const QString& phone, const QStringList& folders);

// A full, then an incremental backup by each side (idevicebackup2 first),
// with the bytes the simulator counted and the bytes each folder holds
// after the full one.
struct BackupStages {
    Run toolFull, ourFull, toolIncr, ourIncr;
    qint64 toolFullBytes = 0, ourFullBytes = 0, toolIncrBytes = 0, ourIncrBytes = 0;
    qint64 toolFullDisk = 0, ourFullDisk = 0;
    bool ok() const { return toolFull.ok && ourFull.ok && toolIncr.ok && ourIncr.ok; }
    // The rows of figures of both backups.
    void print() const;
};
BackupStages runBackupStages(Sim& sim, const std::function<Run()>& tool, const QString& toolFolder,
                             const std::function<Run()>& ours, const QString& ourFolder);

void printRow(const char* stage, const Run& tool, qint64 toolBytes, const Run& ours, qint64 ourBytes);

}  // namespace phonesimbench
