#include "bench/common/phonesimbench.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>
#include <QThread>

#include <cstdio>
#include <random>
#include <unistd.h>

namespace phonesimbench {

const QString kUdid = QStringLiteral("00008030-001A2B3C4D5E6F70");
const QString kGroupDomain = QStringLiteral("AppDomainGroup-group.net.whatsapp.WhatsApp.shared");

double seconds(const QElapsedTimer& t) { return double(t.nsecsElapsed()) / 1e9; }


Run runTool(const QString& program, const QStringList& args, const QByteArray& input)
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
bool writeRandomFiles(const QString& folder, const QString& prefix, qint64 sizeMb, quint64 seed)
{
    QDir().mkpath(folder);
    std::mt19937_64 rng(seed);
    QByteArray chunk(4 << 20, '\0');
    for (qint64 i = 0; i * 4 < sizeMb; ++i) {
        auto* words = reinterpret_cast<quint64*>(chunk.data());
        for (qsizetype w = 0; w < chunk.size() / 8; ++w)
            words[w] = rng();
        QFile f(folder + QStringLiteral("/%1-%2").arg(prefix).arg(i));
        if (!f.open(QIODevice::WriteOnly) || f.write(chunk) != chunk.size())
            return false;
    }
    return true;
}

bool writeChatFolder(const QString& folder, qint64 sizeMb)
{
    QDir().mkpath(folder);
    QFile db(folder + "/ChatStorage.sqlite");
    if (!db.open(QIODevice::WriteOnly))
        return false;
    QByteArray page(4096, '\0');
    page.replace(0, 16, QByteArray("SQLite format 3\0", 16));
    db.write(page.repeated(64));
    db.close();
    // media-N.jpg
    const QString media = folder + "/Library/Media/4915100000001@s.whatsapp.net";
    if (!writeRandomFiles(media, "media", sizeMb, 7))
        return false;
    for (const QString& name : QDir(media).entryList(QDir::Files))
        QFile::rename(media + "/" + name, media + "/" + name + ".jpg");
    return true;
}

bool Sim::start(const QString& phone, const QString& records)
{
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(phonesim, {"serve", "--port", "0", "--pair-records", records, "--phone", phone});
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

QString Sim::ctl(const QStringList& words)
{
    const Run r = runTool(phonesim, QStringList{"ctl", "--control", control} + words);
    return QString::fromUtf8(r.output).trimmed();
}

qint64 Sim::bytesSent()
{
    const QString reply = ctl({"stats", kUdid});
    for (const QString& w : reply.split(' '))
        if (w.startsWith("bytes="))
            return w.mid(6).toLongLong();
    return -1;
}

void Sim::waitAttached()
{
    for (int i = 0; i < 600; ++i) {
        if (ctl({"list"}).contains(kUdid + ":attached"))
            return;
        QThread::msleep(100);
    }
}

void Sim::rebootAndWait()
{
    ctl({"reboot", kUdid});
    QThread::msleep(100);
    waitAttached();
}

Sim::~Sim()
{
    process.terminate();
    if (!process.waitForFinished(5000))
        process.kill();
    process.waitForFinished(2000);
}

BackupStages runBackupStages(Sim& sim, const std::function<Run()>& tool, const QString& toolFolder,
                             const std::function<Run()>& ours, const QString& ourFolder)
{
    BackupStages s;
    s.toolFull = tool();
    s.toolFullBytes = sim.bytesSent();
    s.toolFullDisk = bytesBelow(toolFolder + "/" + kUdid);
    s.ourFull = ours();
    s.ourFullBytes = sim.bytesSent();
    s.ourFullDisk = bytesBelow(ourFolder + "/" + kUdid);
    s.toolIncr = tool();
    s.toolIncrBytes = sim.bytesSent();
    s.ourIncr = ours();
    s.ourIncrBytes = sim.bytesSent();
    return s;
}

void BackupStages::print() const
{
    printRow("backup (full)", toolFull, toolFullBytes, ourFull, ourFullBytes);
    std::printf("%-22s idevicebackup2 %9.1f MB on disk | quillometry-cli %9.1f MB on disk | ratio %.3f\n",
                "backup (full)", double(toolFullDisk) / 1e6, double(ourFullDisk) / 1e6,
                toolFullDisk > 0 ? double(ourFullDisk) / double(toolFullDisk) : 0.0);
    printRow("backup (incremental)", toolIncr, toolIncrBytes, ourIncr, ourIncrBytes);
    std::printf("%-22s idevicebackup2 %lld bytes | quillometry-cli %lld bytes\n", "incremental sent", toolIncrBytes,
                ourIncrBytes);
}

bool enoughSpace(const char* bench, const QString& base, qint64 needed)
{
    const QStorageInfo storage(base);
    if (storage.bytesAvailable() >= needed)
        return true;
    std::fprintf(stderr, "%s: %s has %lld MB free, %lld MB needed\n", bench, qPrintable(base),
                 storage.bytesAvailable() >> 20, needed >> 20);
    return false;
}

bool seedBenchPhone(const QString& phonesim, const QString& work, const QString& phone, qint64 sizeMb)
{
    const QString chat = work + "/chat";
    const bool ok = writeChatFolder(chat, sizeMb)
                    && runTool(phonesim, {"seed", "--phone", phone, "--chat-folder", chat, "--udid", kUdid, "--name",
                                          "Bench iPhone"})
                           .ok;
    QDir(chat).removeRecursively();
    return ok;
}

bool checkBackupsAgainstPhone(const QString& cli, const QString& work, const QString& phone, const QStringList& folders)
{
    bool ok = true;
    const QString phoneDb = findFile(phone + "/fs", "ChatStorage.sqlite");
    const QString phoneMedia = findFile(phone + "/fs", "media-0.jpg");
    for (const QString& folder : folders) {
        for (const auto& [rel, original] :
             {std::pair{QStringLiteral("ChatStorage.sqlite"), phoneDb},
              std::pair{QStringLiteral("Message/Media/4915100000001@s.whatsapp.net/media-0.jpg"), phoneMedia}}) {
            const QString out = work + "/check/" + QFileInfo(original).fileName();
            QFile::remove(out);
            const Run got = runTool(cli, {"itunes-get", folder + "/" + kUdid, kGroupDomain, rel, "--out", out});
            const bool same = got.ok && !original.isEmpty() && sha1Of(out) == sha1Of(original);
            std::printf("check %-16s %-34s %s\n", qPrintable(QFileInfo(folder).fileName()),
                        qPrintable(QFileInfo(original).fileName()), same ? "same as the phone" : "DIFFERS");
            ok = ok && same;
        }
    }
    return ok;
}

void printRow(const char* stage, const Run& tool, qint64 toolBytes, const Run& ours, qint64 ourBytes)
{
    const double toolRate = tool.secs > 0 ? double(toolBytes) / 1e6 / tool.secs : 0;
    const double ourRate = ours.secs > 0 ? double(ourBytes) / 1e6 / ours.secs : 0;
    std::printf("%-22s idevicebackup2 %8.2f s %9.1f MB/s | quillometry-cli %8.2f s %9.1f MB/s | ratio %.2f "
                "(time %.2f)\n",
                stage, tool.secs, toolRate, ours.secs, ourRate, toolRate > 0 ? ourRate / toolRate : 0.0,
                tool.secs > 0 ? ours.secs / tool.secs : 0.0);
}

}  // namespace phonesimbench
