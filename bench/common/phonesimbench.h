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

void printRow(const char* stage, const Run& tool, qint64 toolBytes, const Run& ours, qint64 ourBytes);

}  // namespace phonesimbench
