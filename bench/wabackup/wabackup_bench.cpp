// WhatsApp-only backups and restores beside libimobiledevice's own tool in
// the same run, on one simulated phone (phonesim on the loopback) holding
// WA_MB of WhatsApp media and OTHER_MB of another app's files (4 MB each):
//   backup    `idevicebackup2 backup` beside `quillometry-cli wa-backup`,
//             first full, then incremental (nothing changed)
//   restore   `idevicebackup2 restore --skip-apps --no-reboot` beside
//             `quillometry-cli wa-restore` with the reduced manifest
//             (Manifest-wa.db); the phone reboots between and after
// Per stage: seconds, MB/s by the bytes the simulator counted as sent
// (backups) or the bytes the backup folder holds (restores), our rate and
// time over idevicebackup2's, and the bytes each full backup holds on disk. The
// aim: a throughput at least idevicebackup2's, less time and less disk.
// Both backups are checked against the phone (ChatStorage.sqlite and a
// media file). Everything is written below WORK_FOLDER and removed at the end.
// Usage: wabackup_bench [WA_MB (2048)] [OTHER_MB (1024)] [WORK_FOLDER ($TMPDIR)]
#include "bench/common/phonesimbench.h"
#include "itunes/backupmanifest.h"

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
    bool ok1 = true, ok2 = true;
    const qint64 waMb = args.value(0, QStringLiteral("2048")).toLongLong(&ok1);
    const qint64 otherMb = args.value(1, QStringLiteral("1024")).toLongLong(&ok2);
    if (!ok1 || !ok2 || waMb < 4 || otherMb < 4) {
        std::fprintf(stderr, "usage: wabackup_bench [WA_MB (2048)] [OTHER_MB (1024)] [WORK_FOLDER ($TMPDIR)]\n");
        return 2;
    }
    const QString base = args.value(2, QDir::tempPath());
    // The phone, the whole backup, the WhatsApp-only backup, restore staging.
    const qint64 needed = (waMb * 4 + otherMb * 2) * 1024 * 1024 + (256 << 20);
    if (!enoughSpace("wabackup_bench", base, needed))
        return 1;
    QTemporaryDir work(base + "/wabackup-bench-XXXXXX");
    if (!work.isValid())
        return 1;
    const QString phone = work.filePath("phone");
    const QString toolFolder = work.filePath("idevicebackup2");
    const QString ourFolder = work.filePath("quillometry");
    QDir().mkpath(toolFolder);
    QDir().mkpath(ourFolder);
    std::printf("wabackup_bench: %lld MB of WhatsApp media and %lld MB of another app on one simulated phone\n", waMb,
                otherMb);
    if (!seedBenchPhone(QStringLiteral(Q_PHONESIM_PATH), work.path(), phone, waMb))
        return 1;
    // The other app's files go into the photos example's container.
    const QString photos = findFile(phone + "/fs", "album.bin");
    if (photos.isEmpty() || !writeRandomFiles(QFileInfo(photos).absolutePath(), "big", otherMb, 11))
        return 1;

    Sim sim(QStringLiteral(Q_PHONESIM_PATH));
    if (!sim.start(phone, work.filePath("records")))
        return 1;
    const QString cli = QStringLiteral(Q_CLI_PATH);
    const auto toolBackup = [&] { return runTool("idevicebackup2", {"-u", kUdid, "backup", toolFolder}); };
    const auto ourBackup = [&] { return runTool(cli, {"wa-backup", kUdid, "--root", ourFolder}); };
    const BackupStages stages = runBackupStages(sim, toolBackup, toolFolder, ourBackup, ourFolder);
    if (!stages.ok())
        return 1;
    stages.print();

    bool ok = true;
    ok = checkBackupsAgainstPhone(cli, work.path(), phone, {toolFolder, ourFolder}) && ok;

    // The reduced manifest, as the transfer writes it.
    try {
        BackupManifest backup(ourFolder + "/" + kUdid);
        backup.openThrow();
        backup.loadThrow();
        backup.filteredManifestThrow(false,
                                     {QStringLiteral("AppDomain-net.whatsapp.WhatsApp"),
                                      QStringLiteral("AppDomainGroup-group.net.whatsapp.WhatsApp.shared")},
                                     ourFolder + "/" + kUdid + "/Manifest-wa.db");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "reduced manifest: %s\n", e.what());
        return 1;
    }
    const Run toolRestore =
        runTool("idevicebackup2", {"-u", kUdid, "restore", "--skip-apps", "--no-reboot", toolFolder});
    sim.rebootAndWait();
    const Run ourRestore =
        runTool(cli, {"wa-restore", kUdid, "--root", ourFolder, "--manifest-substitute", "Manifest-wa.db"});
    sim.waitAttached();
    if (!toolRestore.ok || !ourRestore.ok)
        return 1;
    // Restore MB/s: the bytes each backup folder holds (what the phone may ask for).
    printRow("restore", toolRestore, bytesBelow(toolFolder + "/" + kUdid), ourRestore,
             bytesBelow(ourFolder + "/" + kUdid));
    return ok ? 0 : 1;
}
