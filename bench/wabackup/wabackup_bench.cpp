// WhatsApp-only backups and restores beside libimobiledevice's own tool in
// the same run, on one simulated phone (phonesim on the loopback) holding
// WA_MB of WhatsApp media and OTHER_MB of another app's files (4 MB each):
//   backup    `idevicebackup2 backup` beside `quillometry-cli wa-backup`,
//             first full, then incremental (nothing changed)
//   restore   `idevicebackup2 restore --skip-apps --no-reboot` beside
//             `quillometry-cli wa-restore` with the reduced manifest
//             (Manifest-wa.db); the phone reboots between and after
// Per stage: seconds, MB/s by the bytes the simulator counted as sent
// (backups) or the bytes the backup folder holds (restores), the bytes the
// backup folder holds on disk, and our figure over idevicebackup2's. The
// aim: a throughput at least idevicebackup2's, less time and less disk.
// Both backups are checked against the phone (ChatStorage.sqlite and a
// media file). Everything is written below WORK_FOLDER and removed at the end.
// Usage: wabackup_bench [WA_MB (2048)] [OTHER_MB (1024)] [WORK_FOLDER ($TMPDIR)]
#include "bench/common/phonesimbench.h"
#include "itunes/backupmanifest.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStorageInfo>
#include <QTemporaryDir>

#include <cstdio>

#ifndef Q_PHONESIM_PATH
#define Q_PHONESIM_PATH "phonesim"
#define Q_CLI_PATH "quillometry-cli"
#endif

using namespace phonesimbench;

namespace {

void printDisk(const char* stage, qint64 toolBytes, qint64 ourBytes)
{
    std::printf("%-22s idevicebackup2 %9.1f MB on disk | quillometry-cli %9.1f MB on disk | ratio %.3f\n", stage,
                double(toolBytes) / 1e6, double(ourBytes) / 1e6, toolBytes > 0 ? double(ourBytes) / double(toolBytes) : 0.0);
}

void printTimes(const char* stage, const Run& tool, const Run& ours)
{
    std::printf("%-22s time ratio (ours / idevicebackup2) %.3f\n", stage, tool.secs > 0 ? ours.secs / tool.secs : 0.0);
}

}  // namespace

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
    const QStorageInfo storage(base);
    if (storage.bytesAvailable() < needed) {
        std::fprintf(stderr, "wabackup_bench: %s has %lld MB free, %lld MB needed\n", qPrintable(base),
                     storage.bytesAvailable() >> 20, needed >> 20);
        return 1;
    }
    QTemporaryDir work(base + "/wabackup-bench-XXXXXX");
    if (!work.isValid())
        return 1;
    const QString chat = work.filePath("chat");
    const QString phone = work.filePath("phone");
    const QString toolFolder = work.filePath("idevicebackup2");
    const QString ourFolder = work.filePath("quillometry");
    QDir().mkpath(toolFolder);
    QDir().mkpath(ourFolder);
    std::printf("wabackup_bench: %lld MB of WhatsApp media and %lld MB of another app on one simulated phone\n", waMb,
                otherMb);
    if (!writeChatFolder(chat, waMb)
        || !runTool(QStringLiteral(Q_PHONESIM_PATH), {"seed", "--phone", phone, "--chat-folder", chat, "--udid", kUdid,
                                                      "--name", "Bench iPhone"})
                .ok)
        return 1;
    QDir(chat).removeRecursively();
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
    const Run toolFull = toolBackup();
    const qint64 toolFullBytes = sim.bytesSent();
    const qint64 toolFullDisk = bytesBelow(toolFolder + "/" + kUdid);
    const Run ourFull = ourBackup();
    const qint64 ourFullBytes = sim.bytesSent();
    const qint64 ourFullDisk = bytesBelow(ourFolder + "/" + kUdid);
    const Run toolIncr = toolBackup();
    const qint64 toolIncrBytes = sim.bytesSent();
    const Run ourIncr = ourBackup();
    const qint64 ourIncrBytes = sim.bytesSent();
    if (!toolFull.ok || !ourFull.ok || !toolIncr.ok || !ourIncr.ok)
        return 1;
    printRow("backup (full)", toolFull, toolFullBytes, ourFull, ourFullBytes);
    printTimes("backup (full)", toolFull, ourFull);
    printDisk("backup (full)", toolFullDisk, ourFullDisk);
    printRow("backup (incremental)", toolIncr, toolIncrBytes, ourIncr, ourIncrBytes);
    printTimes("backup (incremental)", toolIncr, ourIncr);
    std::printf("%-22s idevicebackup2 %lld bytes | quillometry-cli %lld bytes\n", "incremental sent", toolIncrBytes,
                ourIncrBytes);

    bool ok = true;
    const QString phoneDb = findFile(phone + "/fs", "ChatStorage.sqlite");
    const QString phoneMedia = findFile(phone + "/fs", "media-0.jpg");
    for (const QString& folder : {toolFolder, ourFolder}) {
        for (const auto& [rel, original] :
             {std::pair{QStringLiteral("ChatStorage.sqlite"), phoneDb},
              std::pair{QStringLiteral("Message/Media/4915100000001@s.whatsapp.net/media-0.jpg"), phoneMedia}}) {
            const QString out = work.filePath("check/" + QFileInfo(original).fileName());
            QFile::remove(out);
            const Run got = runTool(cli, {"itunes-get", folder + "/" + kUdid, kGroupDomain, rel, "--out", out});
            const bool same = got.ok && !original.isEmpty() && sha1Of(out) == sha1Of(original);
            std::printf("check %-16s %-34s %s\n", qPrintable(QFileInfo(folder).fileName()),
                        qPrintable(QFileInfo(original).fileName()), same ? "same as the phone" : "DIFFERS");
            ok = ok && same;
        }
    }

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
    printTimes("restore", toolRestore, ourRestore);
    return ok ? 0 : 1;
}
