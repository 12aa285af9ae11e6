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
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <random>
#include <unistd.h>

#ifndef Q_PHONESIM_PATH
#define Q_PHONESIM_PATH "phonesim"
#define Q_CLI_PATH "quillometry-cli"
#endif

namespace {

const QString kUdid = QStringLiteral("00008030-001A2B3C4D5E6F70");
const QString kGroupDomain = QStringLiteral("AppDomainGroup-group.net.whatsapp.WhatsApp.shared");

double seconds(const QElapsedTimer& t) { return double(t.nsecsElapsed()) / 1e9; }

struct Run {
    bool ok = false;
    double secs = 0;
    QByteArray output;
};

Run runTool(const QString& program, const QStringList& args, const QByteArray& input = QByteArray())
{
    // Dirty pages of the stage before are written out first, so neither
    // side pays for the other's writes.
    ::sync();
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    QElapsedTimer t;
    t.start();
    p.start(program, args);
    if (!input.isEmpty()) {
        p.write(input);
        p.closeWriteChannel();
    }
    Run r;
    r.ok = p.waitForFinished(-1) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    r.secs = seconds(t);
    r.output = p.readAll();
    if (!r.ok)
        std::fprintf(stderr, "%s %s failed:\n%s\n", qPrintable(program), qPrintable(args.join(' ')),
                     r.output.right(2000).constData());
    return r;
}

qint64 bytesBelow(const QString& folder)
{
    qint64 total = 0;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        total += it.fileInfo().size();
    }
    return total;
}

QByteArray sha1Of(const QString& path)
{
    QFile f(path);
    QCryptographicHash h(QCryptographicHash::Sha1);
    if (!f.open(QIODevice::ReadOnly) || !h.addData(&f))
        return QByteArray();
    return h.result();
}

QString findFile(const QString& root, const QString& name)
{
    QDirIterator it(root, {name}, QDir::Files, QDirIterator::Subdirectories);
    return it.hasNext() ? it.next() : QString();
}

// The chat folder seeded into the phone: a small database and media files.
bool writeChatFolder(const QString& folder, qint64 sizeMb)
{
    QDir().mkpath(folder + "/Library/Media/4915100000001@s.whatsapp.net");
    QFile db(folder + "/ChatStorage.sqlite");
    if (!db.open(QIODevice::WriteOnly))
        return false;
    QByteArray page(4096, '\0');
    page.replace(0, 16, QByteArray("SQLite format 3\0", 16));
    db.write(page.repeated(64));
    db.close();
    std::mt19937_64 rng(7);
    QByteArray chunk(4 << 20, '\0');
    for (qint64 i = 0; i * 4 < sizeMb; ++i) {
        auto* words = reinterpret_cast<quint64*>(chunk.data());
        for (qsizetype w = 0; w < chunk.size() / 8; ++w)
            words[w] = rng();
        QFile f(folder + QStringLiteral("/Library/Media/4915100000001@s.whatsapp.net/media-%1.jpg").arg(i));
        if (!f.open(QIODevice::WriteOnly) || f.write(chunk) != chunk.size())
            return false;
    }
    return true;
}

struct Sim {
    QProcess process;
    QString control;
    bool start(const QString& phone, const QString& records)
    {
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(QStringLiteral(Q_PHONESIM_PATH),
                      {"serve", "--port", "0", "--pair-records", records, "--phone", phone});
        QString mux;
        while ((mux.isEmpty() || control.isEmpty()) && process.waitForReadyRead(10000)) {
            while (process.canReadLine()) {
                const QString line = QString::fromUtf8(process.readLine()).trimmed();
                if (line.startsWith("USBMUXD_SOCKET_ADDRESS="))
                    mux = line.section('=', 1);
                else if (line.startsWith("PHONESIM_CONTROL="))
                    control = line.section('=', 1);
            }
        }
        if (mux.isEmpty())
            return false;
        qputenv("USBMUXD_SOCKET_ADDRESS", mux.toUtf8());
        return true;
    }
    QString ctl(const QStringList& words)
    {
        const Run r = runTool(QStringLiteral(Q_PHONESIM_PATH), QStringList{"ctl", "--control", control} + words);
        return QString::fromUtf8(r.output).trimmed();
    }
    qint64 bytesSent()
    {
        const QString reply = ctl({"stats", kUdid});
        for (const QString& w : reply.split(' '))
            if (w.startsWith("bytes="))
                return w.mid(6).toLongLong();
        return -1;
    }
    void rebootAndWait()
    {
        ctl({"reboot", kUdid});
        for (int i = 0; i < 100; ++i) {
            QThread::msleep(100);
            if (ctl({"list"}).contains(kUdid + ":attached"))
                return;
        }
    }
    ~Sim()
    {
        process.terminate();
        if (!process.waitForFinished(5000))
            process.kill();
        process.waitForFinished(2000);
    }
};

void printRow(const char* stage, const Run& tool, qint64 toolBytes, const Run& ours, qint64 ourBytes)
{
    const double toolRate = tool.secs > 0 ? double(toolBytes) / 1e6 / tool.secs : 0;
    const double ourRate = ours.secs > 0 ? double(ourBytes) / 1e6 / ours.secs : 0;
    std::printf("%-22s idevicebackup2 %8.2f s %9.1f MB/s | quillometry-cli %8.2f s %9.1f MB/s | ratio %.2f\n", stage,
                tool.secs, toolRate, ours.secs, ourRate, toolRate > 0 ? ourRate / toolRate : 0.0);
}

}  // namespace

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
    const QStorageInfo storage(base);
    if (storage.bytesAvailable() < needed) {
        std::fprintf(stderr, "devicebackup_bench: %s has %lld MB free, %lld MB needed\n", qPrintable(base),
                     storage.bytesAvailable() >> 20, needed >> 20);
        return 1;
    }
    QTemporaryDir work(base + "/devicebackup-bench-XXXXXX");
    if (!work.isValid())
        return 1;
    const QString chat = work.filePath("chat");
    const QString phone = work.filePath("phone");
    const QString toolFolder = work.filePath("idevicebackup2");
    const QString ourFolder = work.filePath("quillometry");
    QDir().mkpath(toolFolder);
    QDir().mkpath(ourFolder);
    std::printf("devicebackup_bench: %lld MB of WhatsApp media on one simulated phone\n", sizeMb);
    if (!writeChatFolder(chat, sizeMb)
        || !runTool(QStringLiteral(Q_PHONESIM_PATH), {"seed", "--phone", phone, "--chat-folder", chat, "--udid", kUdid,
                                                      "--name", "Bench iPhone"})
                .ok)
        return 1;
    QDir(chat).removeRecursively();
    Sim sim;
    if (!sim.start(phone, work.filePath("records")))
        return 1;

    const QString cli = QStringLiteral(Q_CLI_PATH);
    const auto toolBackup = [&] { return runTool("idevicebackup2", {"-u", kUdid, "backup", toolFolder}); };
    const auto ourBackup = [&] { return runTool(cli, {"device-backup", kUdid, "--to", ourFolder}); };
    const Run toolFull = toolBackup();
    const qint64 toolFullBytes = sim.bytesSent();
    const Run ourFull = ourBackup();
    const qint64 ourFullBytes = sim.bytesSent();
    const Run toolIncr = toolBackup();
    const qint64 toolIncrBytes = sim.bytesSent();
    const Run ourIncr = ourBackup();
    const qint64 ourIncrBytes = sim.bytesSent();
    if (!toolFull.ok || !ourFull.ok || !toolIncr.ok || !ourIncr.ok)
        return 1;
    printRow("backup (full)", toolFull, toolFullBytes, ourFull, ourFullBytes);
    printRow("backup (incremental)", toolIncr, toolIncrBytes, ourIncr, ourIncrBytes);
    std::printf("%-22s idevicebackup2 %lld bytes | quillometry-cli %lld bytes\n", "incremental sent", toolIncrBytes,
                ourIncrBytes);

    // Both backups hold what the phone holds.
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
