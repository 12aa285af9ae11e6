// Device backup and restore figures beside libimobiledevice's own tool in
// the same run, on one simulated phone (phonesim on the loopback) holding a
// WhatsApp container with SIZE_MB of media files (4 MB each):
//   backup    `idevicebackup2 backup` beside `quillometry-cli device-backup`,
//             first full, then incremental (nothing changed)
//   restore   `idevicebackup2 restore --skip-apps --no-reboot` beside
//             `quillometry-cli device-restore --no-reboot --no-system-files`
//             (the phone is rebooted between restores)
// Backup MB/s use the bytes the simulator counted as sent; restore MB/s the
// bytes stored in the backup folder. Both backups are checked against the
// phone (ChatStorage.sqlite and a media file, byte for byte).
// Each stage starts after the file system's dirty pages were written out.
// Everything is written below WORK_FOLDER and removed at the end.
// Usage: devicebackup_bench [SIZE_MB (2048)] [WORK_FOLDER ($TMPDIR)]
#include "bench/common/phonesimbench.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

#ifndef Q_PHONESIM_PATH
#define Q_PHONESIM_PATH "phonesim"
#define Q_CLI_PATH "quillometry-cli"
#endif

using namespace phonesimbench;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    bool ok = true;
    const qint64 sizeMb = args.value(0, QStringLiteral("2048")).toLongLong(&ok);
    if (!ok || sizeMb < 4) {
        std::fprintf(stderr, "usage: devicebackup_bench [SIZE_MB (2048)] [WORK_FOLDER ($TMPDIR)]\n");
        return 2;
    }
    const QString base = args.value(1, QDir::tempPath());
    // The phone, two backups and the restored copies of the media.
    const qint64 needed = sizeMb * 5 * 1024 * 1024 + (256 << 20);
    if (!enoughSpace("devicebackup_bench", base, needed))
        return 1;
    QTemporaryDir work(base + "/devicebackup-bench-XXXXXX");
    if (!work.isValid())
        return 1;
    const QString phone = work.filePath("phone");
    const QString toolFolder = work.filePath("idevicebackup2");
    const QString ourFolder = work.filePath("quillometry");
    QDir().mkpath(toolFolder);
    QDir().mkpath(ourFolder);
    std::printf("devicebackup_bench: %lld MB of WhatsApp media on one simulated phone\n", sizeMb);
    if (!seedBenchPhone(QStringLiteral(Q_PHONESIM_PATH), work.path(), phone, sizeMb))
        return 1;
    Sim sim(QStringLiteral(Q_PHONESIM_PATH));
    if (!sim.start(phone, work.filePath("records")))
        return 1;

    const QString cli = QStringLiteral(Q_CLI_PATH);
    const auto toolBackup = [&] { return runTool("idevicebackup2", {"-u", kUdid, "backup", toolFolder}); };
    const auto ourBackup = [&] { return runTool(cli, {"device-backup", kUdid, "--to", ourFolder}); };
    const BackupStages stages = runBackupStages(sim, toolBackup, toolFolder, ourBackup, ourFolder);
    if (!stages.ok())
        return 1;
    stages.print();

    // Both backups hold what the phone holds.
    ok = checkBackupsAgainstPhone(cli, work.path(), phone, {toolFolder, ourFolder}) && ok;

    const Run toolRestore =
        runTool("idevicebackup2", {"-u", kUdid, "restore", "--skip-apps", "--no-reboot", toolFolder});
    sim.rebootAndWait();
    const Run ourRestore =
        runTool(cli, {"device-restore", kUdid, "--from", ourFolder, "--no-reboot", "--no-system-files"});
    if (!toolRestore.ok || !ourRestore.ok)
        return 1;
    printRow("restore", toolRestore, bytesBelow(toolFolder + "/" + kUdid), ourRestore,
             bytesBelow(ourFolder + "/" + kUdid));
    return ok ? 0 : 1;
}
