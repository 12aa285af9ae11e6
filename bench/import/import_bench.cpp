// Import figures beside the raw tools in the same run. A chat database of
// MESSAGES messages (realistic mix) with SIZE_MB of media files (4 MB each,
// each attached to a message) is written into an iTunes backup, plain and
// then encrypted (Manifest.db layout, few key-derivation rounds), and
// imported as the command line does it:
//   copy   IOSLoadWAFromiTunesThread into an empty cache (MB/s of stored bytes)
//   save   listing the chats and BackupMessagesThread into a new local
//          database (every message, every attached file copied again)
// Baselines, on the same stored files: `cp -R` of the backup folder (plain),
// and `openssl enc -d -aes-256-cbc` of every stored file with its own key
// (encrypted; one process per file, as many as the backup stores).
// Every step is timed until its files are on disk: the file system is
// synced before each step and the sync at its end is counted in (the copy
// job writes each file durably, `cp` and `openssl` leave theirs to the page
// cache). The time without that last sync is printed beside it.
// Everything is written below WORK_FOLDER and removed at the end.
// Usage: import_bench [SIZE_MB (2048)] [MESSAGES (200000)] [WORK_FOLDER ($TMPDIR)]
#include "base/recordingmonitor.h"
#include "bench/common/benchsupport.h"
#include "chatstore/backupmessagesthread.h"
#include "chatstore/loadwhatsappdbthread.h"
#include "chatstore/localdatabases.h"
#include "chatstore/wamsgsdatasource.h"
#include "itunes/backupmanifest.h"
#include "itunes/iosloadwafromitunesthread.h"
#include "itunes/keybag.h"
#include "tools/backupbuilder/itunesbackupbuilder.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QProcess>
#include <QStorageInfo>
#include <QTemporaryDir>

#include <cstdio>
#include <random>

#include <unistd.h>

namespace {

qint64 bytesBelow(const QString& folder)
{
    qint64 total = 0;
    QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        total += it.fileInfo().size();
    }
    return total;
}

void report(const char* what, double s, qint64 bytes, double unsynced)
{
    std::printf("  %-44s %8.2f s  %8.1f MB/s  (%.2f s without the sync)\n", what, s,
                s > 0 ? double(bytes) / 1e6 / s : 0.0, unsynced);
}

struct Figures {
    double copy = 0;
    double save = 0;
    double baseline = 0;
    // The same without the sync at the end of each step.
    double copyUnsynced = 0;
    double saveUnsynced = 0;
    double baselineUnsynced = 0;
    qint64 stored = 0;
};

// Seconds the file system takes to write out what is still pending.
double syncSeconds()
{
    QElapsedTimer t;
    t.start();
    ::sync();
    return seconds(t);
}

bool benchOne(const QString& work, const SampleChatDb& chat, const QString& password, Figures& f)
{
    const QString folder = work + (password.isEmpty() ? QStringLiteral("/backup-plain") : QStringLiteral("/backup-enc"));
    {
        ItunesBackupBuilder b(folder, BackupLayout::ManifestDb, password, 100);
        b.addWhatsApp(chat.folder);
        b.commit();
        f.stored = b.storedBytes();
    }
    BackupManifest backup(folder);
    backup.openThrow();
    if (backup.isEncrypted && !backup.setPassword(password))
        return false;
    backup.loadThrow();

    // Baseline first, on the same stored files.
    QElapsedTimer t;
    syncSeconds();
    if (password.isEmpty()) {
        t.start();
        if (!runTool(QStringLiteral("cp"), {QStringLiteral("-R"), folder, work + QStringLiteral("/cp-copy")}))
            return false;
        f.baselineUnsynced = seconds(t);
        f.baseline = f.baselineUnsynced + syncSeconds();
        QDir(work + QStringLiteral("/cp-copy")).removeRecursively();
    } else {
        QList<QPair<QString, QByteArray>> files;
        for (const MBDBRecord& r : backup.records.records()) {
            if (r.isFolder())
                continue;
            const QByteArray key = unwrapFileKey(backup.keybag, r.protectionClass, r.encryptionKey.bytes().mid(4));
            files << qMakePair(MBDBParser::backupFilePath(folder, r.fileId(), false), key);
        }
        const QString out = work + QStringLiteral("/openssl-out");
        QDir().mkpath(out);
        int n = 0;
        t.start();
        for (const auto& [path, key] : files) {
            if (!runTool(QStringLiteral("openssl"),
                         {QStringLiteral("enc"), QStringLiteral("-d"), QStringLiteral("-aes-256-cbc"), QStringLiteral("-K"),
                          QString::fromLatin1(key.toHex()), QStringLiteral("-iv"), QString(32, QLatin1Char('0')),
                          QStringLiteral("-in"), path, QStringLiteral("-out"), out + QStringLiteral("/%1").arg(n++)}))
                return false;
        }
        f.baselineUnsynced = seconds(t);
        f.baseline = f.baselineUnsynced + syncSeconds();
        QDir(out).removeRecursively();
    }
    syncSeconds();

    const QString cache = work + QStringLiteral("/cache");
    IOSLoadWAFromiTunesThread copy(backup, cache);
    if (!runJob(copy, "copy", &f.copy))
        return false;
    f.copyUnsynced = f.copy;
    f.copy += syncSeconds();

    const QString local = work + QStringLiteral("/local");
    t.start();
    LoadWhatsAppDbThread load(IOSLoadWAFromiTunesThread::openLoadedDb(copy.appFolder()));
    RecordingMonitor loadMonitor;
    load.run(loadMonitor);
    auto target = findOrCreateLocalDatabase(QStringLiteral("bench"), local);
    BackupMessagesThread save(target.db, std::make_shared<WAMsgsDataSource>(load.takeResult(false), nullptr, true));
    RecordingMonitor saveMonitor;
    save.run(saveMonitor);
    target.db->closeDb();
    f.saveUnsynced = seconds(t);
    f.save = f.saveUnsynced + syncSeconds();
    if (!saveMonitor.succeeded()) {
        std::fprintf(stderr, "save failed: %s\n", qPrintable(saveMonitor.errors().join(QStringLiteral("; "))));
        return false;
    }
    std::printf("  (%lld messages saved, %lld MB in the local database)\n", save.sourceCount(),
                bytesBelow(local) / 1000000);
    QDir(cache).removeRecursively();
    QDir(local).removeRecursively();
    QDir(folder).removeRecursively();
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const qint64 sizeMb = args.size() > 1 ? args[1].toLongLong() : 2048;
    const qint64 messages = args.size() > 2 ? args[2].toLongLong() : 200000;
    QTemporaryDir work(args.size() > 3 ? args[3] + QStringLiteral("/import-bench-XXXXXX") : QString());
    if (!work.isValid() || sizeMb < 0 || messages < 0) {
        std::fprintf(stderr, "usage: import_bench [SIZE_MB] [MESSAGES] [WORK_FOLDER]\n");
        return 2;
    }
    const qint64 freeMb = QStorageInfo(work.path()).bytesAvailable() / 1000000;
    if (freeMb < sizeMb * 5 + 1000) {
        std::fprintf(stderr, "import_bench: %lld MB free in %s, about %lld MB needed\n", freeMb,
                     qPrintable(work.path()), sizeMb * 5 + 1000);
        return 1;
    }

    // The chat database and its media.
    QElapsedTimer t;
    t.start();
    SampleChatDb chat;
    {
        ChatDbBuilder b(work.filePath(QStringLiteral("chat")), ChatDbLayout::Modern);
        const qint64 anna = b.addChat(QStringLiteral("4915550001@s.whatsapp.net"), QStringLiteral("Anna"));
        const qint64 ben = b.addChat(QStringLiteral("4915550002@s.whatsapp.net"), QStringLiteral("Ben"));
        const qint64 group = b.addGroup(QStringLiteral("4915550001-1500000000@g.us"), QStringLiteral("Family"));
        b.addMember(group, QStringLiteral("4915550003@s.whatsapp.net"), QStringLiteral("Carl"));
        b.addBulkMessages(messages, {anna, ben, group});
        std::mt19937_64 rng(7);
        QByteArray block(4 << 20, Qt::Uninitialized);
        const qint64 files = sizeMb / 4;
        for (qint64 i = 0; i < files; ++i) {
            auto* w = reinterpret_cast<quint64*>(block.data());
            for (qsizetype k = 0; k < block.size() / 8; ++k)
                w[k] = rng();
            const QString rel = QStringLiteral("Media/4915550001@s.whatsapp.net/v/%1/VID_%2.mp4").arg(i % 16).arg(i);
            b.writeMediaFile(rel, block);
            const qint64 m = b.addMessage({.chat = anna, .type = 2});
            b.addMediaItem(m, {.localPath = rel, .fileSize = block.size()});
        }
        b.commit();
        chat.folder = b.folder();
        chat.expectedCount = b.expectedCount();
    }
    std::printf("import_bench: %lld messages, %lld MB of media (fixture written in %.1f s)\n", chat.expectedCount,
                bytesBelow(chat.folder.mediaFolder) / 1000000, seconds(t));

    for (const QString& password : {QString(), QStringLiteral("bench pw")}) {
        Figures f;
        const bool encrypted = !password.isEmpty();
        std::printf("\n%s backup:\n", encrypted ? "encrypted" : "plain");
        if (!benchOne(work.path(), chat, password, f))
            return 1;
        report(encrypted ? "baseline: openssl enc -d, one per file" : "baseline: cp -R of the backup folder",
               f.baseline, f.stored, f.baselineUnsynced);
        report(encrypted ? "copy job (decrypting)" : "copy job", f.copy, f.stored, f.copyUnsynced);
        report("list chats + save into a local database", f.save, f.stored, f.saveUnsynced);
        const double whole = f.copy + f.save;
        const double wholeUnsynced = f.copyUnsynced + f.saveUnsynced;
        std::printf("  whole import (copy + save): %.2f s (%.2f s without the syncs)\n", whole, wholeUnsynced);
        std::printf("  speed of the whole import / speed of the baseline: %.2f (%.2f without the syncs)\n",
                    whole > 0 ? f.baseline / whole : 0.0, wholeUnsynced > 0 ? f.baselineUnsynced / wholeUnsynced : 0.0);
        std::printf("  speed of the copy job / speed of the baseline: %.2f (%.2f without the syncs)\n",
                    f.copy > 0 ? f.baseline / f.copy : 0.0, f.copyUnsynced > 0 ? f.baselineUnsynced / f.copyUnsynced : 0.0);
    }
    return 0;
}
