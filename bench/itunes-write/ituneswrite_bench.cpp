// Writing merged chats into an iTunes backup, beside the raw tools in the
// same run. A backup holds a chat database of --messages messages and
// --media-mb of media (4 MB files); a source database of the same chats adds
// --add-messages new messages (and repeats 1,000 the backup has) with
// --add-media-mb of new media. For a plain and an encrypted backup
// (Manifest.db layout, few key-derivation rounds), each time with
// --unrelated-mb of other apps' stored files and again with four times as
// many, it runs what `quillometry-cli itunes-write` runs:
//   load   IOSLoadWAFromiTunesThread, the backup's WhatsApp data into a cache
//   merge  IOSRestoreWAMessagesThread, the source merged into it
//   write  IOSMergeWAFiles2iTunesBKThread, databases and new media into the
//          backup, all or nothing
// Baselines, on the files the write stores, in the same run: `cp` of each
// file into the backup's folder (plain) and `openssl enc -aes-256-cbc` of
// each file with a random key (encrypted), one process per file; then once
// more with `sync` of the copies, since the write flushes every file it
// stages before it renames anything in.
// The write's time must not grow with the unrelated files: only what
// changes is copied.
// Usage: ituneswrite_bench [--messages N] [--media-mb MB] [--add-messages N]
//        [--add-media-mb MB] [--unrelated-mb MB] [--work FOLDER]
#include "base/recordingmonitor.h"
#include "bench/common/benchsupport.h"
#include "chatstore/ioswhatsappdb.h"
#include "chatstore/loadwhatsappdbthread.h"
#include "chatstore/wamsgsdatasource.h"
#include "device/iosdeviceinfo.h"
#include "device/iosrestorewamessagesthread.h"
#include "itunes/backupfileentry.h"
#include "itunes/backupmanifest.h"
#include "itunes/iosloadwafromitunesthread.h"
#include "itunes/iosmergewafiles2itunesbkthread.h"
#include "tools/backupbuilder/itunesbackupbuilder.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QStorageInfo>
#include <QTemporaryDir>

#include <cstdio>
#include <random>

namespace {

struct Options {
    qint64 messages = 200000;
    qint64 mediaMb = 2048;
    qint64 addMessages = 20000;
    qint64 addMediaMb = 500;
    qint64 unrelatedMb = 512;
    QString work;
};

bool parse(const QStringList& args, Options& o)
{
    for (int i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        if (i + 1 >= args.size())
            return false;
        const QString v = args[++i];
        bool ok = true;
        if (a == QLatin1String("--messages"))
            o.messages = v.toLongLong(&ok);
        else if (a == QLatin1String("--media-mb"))
            o.mediaMb = v.toLongLong(&ok);
        else if (a == QLatin1String("--add-messages"))
            o.addMessages = v.toLongLong(&ok);
        else if (a == QLatin1String("--add-media-mb"))
            o.addMediaMb = v.toLongLong(&ok);
        else if (a == QLatin1String("--unrelated-mb"))
            o.unrelatedMb = v.toLongLong(&ok);
        else if (a == QLatin1String("--work"))
            o.work = v;
        else
            return false;
        if (!ok)
            return false;
    }
    return o.messages > 1000 && o.addMessages >= 0 && o.mediaMb >= 0 && o.addMediaMb >= 0 && o.unrelatedMb >= 0;
}

QByteArray noise(std::mt19937_64& rng, qsizetype size)
{
    QByteArray block(size, Qt::Uninitialized);
    auto* w = reinterpret_cast<quint64*>(block.data());
    for (qsizetype k = 0; k < block.size() / 8; ++k)
        w[k] = rng();
    return block;
}

// Three chats; `overlap` messages the backup holds too (the same stanza ids),
// then `messages` of its own, and mediaMb of 4 MB files named by `tag`.
ChatDbFolder writeChatDb(const QString& folder, qint64 overlap, qint64 skip, qint64 messages, qint64 mediaMb,
                         const QString& tag, quint64 seed)
{
    ChatDbBuilder b(folder, ChatDbLayout::Modern);
    const qint64 anna = b.addChat(QStringLiteral("4915550001@s.whatsapp.net"), QStringLiteral("Anna"));
    const qint64 ben = b.addChat(QStringLiteral("4915550002@s.whatsapp.net"), QStringLiteral("Ben"));
    const qint64 group = b.addGroup(QStringLiteral("4915550001-1500000000@g.us"), QStringLiteral("Family"));
    b.addMember(group, QStringLiteral("4915550003@s.whatsapp.net"), QStringLiteral("Carl"));
    if (overlap > 0)
        b.addBulkMessages(overlap, {anna, ben, group});
    b.skipStanzaIds(skip);
    b.addBulkMessages(messages, {anna, ben, group}, quint32(seed));
    std::mt19937_64 rng(seed);
    for (qint64 i = 0; i < mediaMb / 4; ++i) {
        const QString rel = QStringLiteral("Media/4915550001@s.whatsapp.net/v/%1/VID_%2_%3.mp4").arg(i % 16).arg(tag).arg(i);
        const QByteArray block = noise(rng, 4 << 20);
        b.writeMediaFile(rel, block);
        const qint64 m = b.addMessage({.chat = anna, .type = 2});
        b.addMediaItem(m, {.localPath = rel, .fileSize = block.size()});
    }
    b.commit();
    return b.folder();
}

struct Figures {
    double load = 0, merge = 0, write = 0, baseline = 0;
    double synced = 0;  // the baseline with its copies flushed to the disk, as the write flushes its files
    qint64 written = 0;  // bytes of the files the write stores
    qint64 added = 0;
    int files = 0;
};

bool benchOne(const QString& work, const ChatDbFolder& target, const ChatDbFolder& source, const QString& password,
              qint64 unrelatedMb, Figures& f)
{
    const QString folder = work + QStringLiteral("/backup");
    {
        ItunesBackupBuilder b(folder, BackupLayout::ManifestDb, password, 100);
        b.addWhatsApp(target);
        std::mt19937_64 rng(11);
        for (qint64 i = 0; i < unrelatedMb; ++i)
            b.addFile(QStringLiteral("MediaDomain"), QStringLiteral("Media/DCIM/100APPLE/IMG_%1.JPG").arg(i, 4, 10, QLatin1Char('0')),
                      noise(rng, 1 << 20));
        b.commit();
    }
    const QString cache = work + QStringLiteral("/cache");
    {
        BackupManifest backup(folder);
        backup.openThrow();
        if (backup.isEncrypted && !backup.setPassword(password))
            return false;
        backup.loadThrow();

        IOSLoadWAFromiTunesThread load(backup, cache);
        if (!runJob(load, "load", &f.load))
            return false;

        LoadWhatsAppDbThread read(std::make_shared<IOSWhatsAppDb>(source.databasePath, QString(), source.mediaFolder,
                                                                  source.profileFolder, false, false));
        if (!runJob(read, "read", &f.merge))
            return false;
        auto device = std::make_shared<IOSDeviceInfo>();
        device->udid = QStringLiteral("virtual_bench");
        device->name = backup.deviceName;
        device->productVersion = backup.productVersion;
        IOSRestoreWAMessagesThread merge(device, std::make_shared<WAMsgsDataSource>(read.takeResult(false), nullptr, true),
                                         load.appFolder());
        if (!runJob(merge, "merge", &f.merge))
            return false;
        f.added = merge.added();
        const QList<BackupFileEntry> entries = backupEntriesForMerge(
            backup.records, backup.productVersion,
            {merge.targetDatabasePath(), merge.targetSearchPath(), merge.mediaDomain(), merge.mediaFiles()});

        // The baseline on the same files, into the backup's own folder.
        QStringList files;
        for (const BackupFileEntry& e : entries)
            if (QFileInfo(e.localPath).isFile() && !files.contains(e.localPath))
                files << e.localPath;
        f.files = int(files.size());
        f.written = 0;
        for (const QString& file : files)
            f.written += QFileInfo(file).size();
        const QString out = folder + QStringLiteral("/baseline");
        QDir().mkpath(out);
        std::mt19937_64 rng(5);
        const QString key = QString::fromLatin1(noise(rng, 32).toHex());
        QElapsedTimer t;
        t.start();
        QStringList copies;
        for (const QString& file : files) {
            const QString to = out + QStringLiteral("/%1").arg(copies.size());
            copies << to;
            const bool ok = password.isEmpty()
                ? runTool(QStringLiteral("cp"), {file, to})
                : runTool(QStringLiteral("openssl"), {QStringLiteral("enc"), QStringLiteral("-aes-256-cbc"),
                                                      QStringLiteral("-K"), key, QStringLiteral("-iv"),
                                                      QString(32, QLatin1Char('0')), QStringLiteral("-in"), file,
                                                      QStringLiteral("-out"), to});
            if (!ok)
                return false;
        }
        f.baseline = seconds(t);
        if (!runTool(QStringLiteral("sync"), copies))
            return false;
        f.synced = seconds(t);
        QDir(out).removeRecursively();

        IOSMergeWAFiles2iTunesBKThread write(backup, entries);
        if (!runJob(write, "write", &f.write))
            return false;
    }
    QDir(cache).removeRecursively();
    QDir(folder).removeRecursively();
    return true;
}

void report(const char* what, double s, qint64 bytes)
{
    std::printf("  %-40s %8.2f s  %8.1f MB/s\n", what, s, s > 0 ? double(bytes) / 1e6 / s : 0.0);
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    Options o;
    if (!parse(app.arguments(), o)) {
        std::fprintf(stderr,
                     "usage: ituneswrite_bench [--messages N (200000)] [--media-mb MB (2048)] [--add-messages N "
                     "(20000)] [--add-media-mb MB (500)] [--unrelated-mb MB (512)] [--work FOLDER ($TMPDIR)]\n");
        return 2;
    }
    QTemporaryDir work(o.work.isEmpty() ? QString() : o.work + QStringLiteral("/ituneswrite-bench-XXXXXX"));
    const qint64 neededMb = 3 * o.mediaMb + 3 * o.addMediaMb + 4 * o.unrelatedMb + o.messages / 500 + 500;
    const qint64 freeMb = QStorageInfo(work.path()).bytesAvailable() / 1000000;
    if (!work.isValid() || freeMb < neededMb) {
        std::fprintf(stderr, "ituneswrite_bench: %lld MB free in %s, about %lld MB needed\n", freeMb,
                     qPrintable(work.path()), neededMb);
        return 1;
    }
    QElapsedTimer t;
    t.start();
    const qint64 overlap = qMin<qint64>(1000, o.messages);
    const ChatDbFolder target =
        writeChatDb(work.filePath(QStringLiteral("target")), 0, 0, o.messages, o.mediaMb, QStringLiteral("t"), 1);
    const ChatDbFolder source = writeChatDb(work.filePath(QStringLiteral("source")), overlap, o.messages - overlap,
                                            o.addMessages, o.addMediaMb, QStringLiteral("s"), 2);
    std::printf("ituneswrite_bench: backup with %lld messages and %lld MB of media; the source adds %lld messages "
                "and %lld MB of media (fixtures written in %.1f s)\n",
                o.messages, o.mediaMb, o.addMessages, o.addMediaMb, seconds(t));

    for (const QString& password : {QString(), QStringLiteral("bench pw")}) {
        const bool encrypted = !password.isEmpty();
        double firstWrite = 0;
        for (const int factor : {1, 4}) {
            Figures f;
            const qint64 unrelated = o.unrelatedMb * factor;
            std::printf("\n%s backup, %lld MB of other apps' files:\n", encrypted ? "encrypted" : "plain", unrelated);
            if (!benchOne(work.path(), target, source, password, unrelated, f))
                return 1;
            std::printf("  (%lld new messages; the write stores %d files, %.1f MB)\n", f.added, f.files,
                        double(f.written) / 1e6);
            report(encrypted ? "baseline: openssl enc -aes-256-cbc, per file" : "baseline: cp, per file", f.baseline,
                   f.written);
            report("write job", f.write, f.written);
            report("baseline, then sync of its copies", f.synced, f.written);
            std::printf("  write speed / baseline speed: %.2f, / synced baseline speed: %.2f (aim >= 0.70)\n",
                        f.write > 0 ? f.baseline / f.write : 0.0, f.write > 0 ? f.synced / f.write : 0.0);
            std::printf("  load %.2f s, merge %.2f s, whole itunes-write %.2f s\n", f.load, f.merge,
                        f.load + f.merge + f.write);
            if (factor == 1)
                firstWrite = f.write;
            else
                std::printf("  write time with 4x the other files / with 1x: %.2f\n",
                            firstWrite > 0 ? f.write / firstWrite : 0.0);
        }
    }
    return 0;
}
