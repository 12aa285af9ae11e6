// A transfer of messages to a phone, stage by stage, beside the plain tools
// in the same run, on one simulated phone B (phonesim on the loopback):
// database A holds MESSAGES_A texts in ten chats and MEDIA_MB of media files
// (4 MB each, one image message per file); B holds MESSAGES_B texts in five
// of those chats and a search index. The transfer runs in this process
// through the device library's sequence, each stage timed:
//   refresh   B's incremental WhatsApp-only backup and the copy into its cache
//   copy      the pre-transfer copy of B's databases and the working copy
//   merge     IOSRestoreWAMessagesThread, beside the sqlite3 shell attaching
//             A to a copy of B and inserting the same message and media rows
//             in one transaction
//   checks    integrity check, message order, key counters
//   write     the staged write into B's backup, then the read-back and the
//             reduced manifest
//   restore   IOSMobileRestoreThread, beside `idevicebackup2 restore` of a
//             copy of the written backup (with the reduced manifest as its
//             Manifest.db) onto a fresh copy of phone B
// Everything is written below WORK_FOLDER and removed at the end.
// Usage: transfer_bench [MESSAGES_A (200000)] [MEDIA_MB (1024)] [MESSAGES_B (20000)] [WORK_FOLDER ($TMPDIR)]
#include "base/jobmonitor.h"
#include "bench/common/phonesimbench.h"
#include "chatstore/wamsgsdatasource.h"
#include "chatstore/loadwhatsappdbthread.h"
#include "chatstore/ioswhatsappdb.h"
#include "device/ioscachefolders.h"
#include "device/deviceconnection.h"
#include "device/iosdevicetransfer.h"
#include "device/iosdeviceinfo.h"
#include "tools/fixturebuilder/chatdbbuilder.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <cstdio>

#include <unistd.h>

#ifndef Q_PHONESIM_PATH
#define Q_PHONESIM_PATH "phonesim"
#endif

using namespace phonesimbench;

namespace {

// The first status a stage reports names it.
class StageMonitor : public JobMonitor {
public:
    void postProgress(const QString& status, int, const QString&) override
    {
        if (title.isEmpty() && !status.isEmpty())
            title = status;
    }
    void postError(const QString& message) override { error = message; }
    void postSuccess(const QString&) override {}
    QString title;
    QString error;
};

struct Stage {
    QString title;
    double secs = 0;
};

class TimingFrontend : public IOSDeviceLoadFrontend {
public:
    bool runStage(Job& job) override
    {
        StageMonitor monitor;
        // As for the tools: the dirty pages of the stage before are written
        // out first, so no stage pays for another's writes.
        ::sync();
        QElapsedTimer t;
        t.start();
        job.run(monitor);
        stages.append({monitor.title, seconds(t)});
        if (!job.succeeded())
            std::fprintf(stderr, "stage %s failed: %s\n", qPrintable(monitor.title), qPrintable(monitor.error));
        return job.succeeded();
    }
    bool askPassword(const IOSDeviceInfo&, BackupManifest&, bool, QString*, bool*) override { return false; }
    void showWarning(const QString& text) override { std::fprintf(stderr, "%s\n", qPrintable(text)); }
    void showError(const QString& text) override { std::fprintf(stderr, "%s\n", qPrintable(text)); }
    QList<Stage> stages;
};

const char* const kChats[] = {"4915550001@s.whatsapp.net", "4915550002@s.whatsapp.net", "4915550003@s.whatsapp.net",
                              "4915550004@s.whatsapp.net", "4915550005@s.whatsapp.net", "4915550006@s.whatsapp.net",
                              "4915550007@s.whatsapp.net", "4915550008@s.whatsapp.net", "4915550009@s.whatsapp.net",
                              "4915550010@s.whatsapp.net"};

// `texts` messages over the first `chats` chats (stanza ids with `prefix`)
// and one image message per 4 MB of media.
void buildDb(const QString& root, int chats, qint64 texts, qint64 mediaMb, const QString& prefix)
{
    ChatDbBuilder b(root, ChatDbLayout::Modern);
    QList<qint64> ids;
    for (int c = 0; c < chats; ++c)
        ids << b.addChat(QString::fromLatin1(kChats[c]), QStringLiteral("Contact %1").arg(c));
    double date = 600000000.0;
    for (qint64 i = 0; i < texts; ++i)
        b.addMessage({.chat = ids[int(i % chats)],
                      .text = QStringLiteral("message %1 about the weather and the trip").arg(i),
                      .fromMe = (i % 3) == 0,
                      .date = date += 7,
                      .stanzaId = QStringLiteral("%1%2").arg(prefix).arg(i, 10, 10, QLatin1Char('0'))});
    QRandomGenerator random(11);
    QByteArray data(4 << 20, '\0');
    for (qint64 m = 0; m < mediaMb / 4; ++m) {
        for (qsizetype k = 0; k < data.size(); k += 4)
            *reinterpret_cast<quint32*>(data.data() + k) = random.generate();
        const QString path = QStringLiteral("Media/%1/b/e/bench-%2.jpg").arg(QString::fromLatin1(kChats[m % chats])).arg(m);
        b.writeMediaFile(path, data);
        const qint64 msg = b.addMessage({.chat = ids[int(m % chats)],
                                         .type = 1,
                                         .date = date += 7,
                                         .stanzaId = QStringLiteral("%1M%2").arg(prefix).arg(m)});
        b.addMediaItem(msg, {.localPath = path, .fileSize = data.size()});
    }
    b.commit();
}

QString columnsOf(const QString& database, const QString& table)
{
    Sqlite3DB db;
    db.openThrow(database, SQLITE_OPEN_READONLY);
    QStringList names;
    for (const _SqliteCol& c : db.tbCols(table))
        if (c.name != QLatin1String("Z_PK"))
            names << c.name;
    return names.join(',');
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    bool ok1 = true, ok2 = true, ok3 = true;
    const qint64 messagesA = args.value(0, QStringLiteral("200000")).toLongLong(&ok1);
    const qint64 mediaMb = args.value(1, QStringLiteral("1024")).toLongLong(&ok2);
    const qint64 messagesB = args.value(2, QStringLiteral("20000")).toLongLong(&ok3);
    if (!ok1 || !ok2 || !ok3 || messagesA < 10 || mediaMb < 4 || messagesB < 5) {
        std::fprintf(stderr, "usage: transfer_bench [MESSAGES_A (200000)] [MEDIA_MB (1024)] [MESSAGES_B (20000)] "
                             "[WORK_FOLDER ($TMPDIR)]\n");
        return 2;
    }
    const QString base = args.value(3, QDir::tempPath());
    // A's media, the backup, the cache's working copy, the tool's backup copy and phone copy.
    if (!enoughSpace("transfer_bench", base, mediaMb * 7 * 1024 * 1024 + (messagesA + messagesB) * 8192 + (256 << 20)))
        return 1;
    QTemporaryDir work(base + "/transfer-bench-XXXXXX");
    if (!work.isValid())
        return 1;
    std::printf("transfer_bench: A with %lld messages and %lld MB of media into phone B with %lld messages\n",
                messagesA, mediaMb, messagesB);
    const QString chatA = work.filePath("A"), chatB = work.filePath("B"), phone = work.filePath("phone");
    try {
        buildDb(chatA, 10, messagesA, mediaMb, QStringLiteral("A"));
        buildDb(chatB, 5, messagesB, 4, QStringLiteral("B"));
        ChatDbBuilder::writeSearchIndexFile(chatB + "/ChatSearch.sqlite");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "databases: %s\n", e.what());
        return 1;
    }
    const QString phonesim = QStringLiteral(Q_PHONESIM_PATH);
    if (!runTool(phonesim, {"seed", "--phone", phone, "--chat-folder", chatB, "--udid", kUdid, "--name", "Bench B"}).ok)
        return 1;
    const QString phoneCopy = work.filePath("phone-fresh");

    // The data folder and the temporary backup below the work folder.
    qputenv("XDG_DATA_HOME", work.filePath("data").toUtf8());
    auto device = std::make_shared<IOSDeviceInfo>();
    device->udid = kUdid;
    {
        const QString dataFolder = QDir(iosCacheFolder(*device) + "/../..").absolutePath();
        QFile memory(dataFolder + "/__quillometry_iosbk_temp.path");
        if (!memory.open(QIODevice::WriteOnly))
            return 1;
        memory.write(work.path().toUtf8());
    }

    Sim sim(phonesim);
    if (!sim.start(phone, work.filePath("records")))
        return 1;
    QString error;
    if (!pairDevice(kUdid, &error)) {
        std::fprintf(stderr, "pair: %s\n", qPrintable(error));
        return 1;
    }
    device = connectedDeviceInfo(kUdid);

    // B loaded once, as when it was plugged in.
    {
        TimingFrontend frontend;
        IOSDeviceLoad load(device);
        if (load.run(frontend) != IOSDeviceLoad::Outcome::Loaded)
            return 1;
    }
    // Phone B as it is before the transfer (trusting this computer), for the tool's restore.
    if (!runTool("cp", {"-a", phone, phoneCopy}).ok)
        return 1;

    // A's messages.
    PChatDbView view;
    {
        TimingFrontend frontend;
        auto db = std::make_shared<IOSWhatsAppDb>(chatA + "/ChatStorage.sqlite", QString(), chatA + "/Library",
                                                  chatA + "/Library/Media/Profile", false);
        db->setReadOnly(true);
        LoadWhatsAppDbThread load(db);
        if (!frontend.runStage(load))
            return 1;
        view = load.takeResult(false);
    }
    TimingFrontend frontend;
    IOSDeviceTransfer transfer(device, std::make_shared<WAMsgsDataSource>(view, nullptr, true));
    QElapsedTimer total;
    total.start();
    if (transfer.run(frontend) != IOSDeviceTransfer::Outcome::Transferred)
        return 1;
    const double all = seconds(total);
    std::printf("%lld messages transferred, %lld new, %.2f s in all\n", transfer.processed(), transfer.added(), all);
    double restoreSecs = 0, mergeSecs = 0;
    for (const Stage& s : frontend.stages) {
        std::printf("  %-48s %8.2f s\n", qPrintable(s.title.left(48)), s.secs);
        if (s.title.startsWith(QLatin1String("Transferring data")))
            restoreSecs = s.secs;
        if (s.title.startsWith(QLatin1String("Transferring WhatsApp")))
            mergeSecs = s.secs;
    }
    sim.waitAttached();

    // The merge beside the shell: A attached to a copy of B's database, the
    // same message and media rows inserted in one transaction.
    const QString shellDb = work.filePath("shell.sqlite");
    QFile::copy(chatB + "/ChatStorage.sqlite", shellDb);
    const QString msgCols = columnsOf(chatA + "/ChatStorage.sqlite", "ZWAMESSAGE");
    const QString mediaCols = columnsOf(chatA + "/ChatStorage.sqlite", "ZWAMEDIAITEM");
    const QByteArray script = QStringLiteral("ATTACH '%1' AS a;\nBEGIN;\n"
                                             "INSERT INTO main.ZWAMESSAGE (%2) SELECT %2 FROM a.ZWAMESSAGE;\n"
                                             "INSERT INTO main.ZWAMEDIAITEM (%3) SELECT %3 FROM a.ZWAMEDIAITEM;\n"
                                             "COMMIT;\n")
                                  .arg(chatA + "/ChatStorage.sqlite", msgCols, mediaCols)
                                  .toUtf8();
    const Run shell = runTool("sqlite3", {shellDb}, script);
    std::printf("%-22s sqlite3 shell %8.2f s | merge %8.2f s | ratio (time) %.2f\n", "merge", shell.secs, mergeSecs,
                shell.secs > 0 ? mergeSecs / shell.secs : 0.0);

    // The restore beside idevicebackup2: the written backup with the reduced
    // manifest as its Manifest.db, onto a fresh copy of phone B.
    const QString written = work.filePath("__quillometry_iosbk_temp/wa/" + kUdid);
    const QString toolRoot = work.filePath("tool-backup");
    QDir().mkpath(toolRoot);
    if (!runTool("cp", {"-a", written, toolRoot + "/" + kUdid}).ok)
        return 1;
    // A WhatsApp-only backup has no Info.plist; idevicebackup2 wants one.
    {
        QFile info(toolRoot + "/" + kUdid + "/Info.plist");
        if (!info.exists() && info.open(QIODevice::WriteOnly))
            info.write(QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
                                      "<key>Target Identifier</key><string>%1</string>"
                                      "<key>Unique Identifier</key><string>%1</string></dict></plist>\n")
                           .arg(kUdid)
                           .toUtf8());
    }
    QFile::remove(toolRoot + "/" + kUdid + "/Manifest.db");
    QFile::copy(toolRoot + "/" + kUdid + "/Manifest-wa.db", toolRoot + "/" + kUdid + "/Manifest.db");
    sim.process.terminate();
    sim.process.waitForFinished(10000);
    QDir(phone).removeRecursively();
    if (!runTool("cp", {"-a", phoneCopy, phone}).ok)
        return 1;
    Sim fresh(phonesim);
    if (!fresh.start(phone, work.filePath("records")))
        return 1;
    const Run tool = runTool("idevicebackup2", {"-u", kUdid, "restore", "--system", "--settings", "--skip-apps",
                                                "--no-reboot", toolRoot});
    if (!tool.ok)
        return 1;
    std::printf("%-22s idevicebackup2 %7.2f s | restore %6.2f s | ratio (speed) %.2f\n", "restore", tool.secs,
                restoreSecs, restoreSecs > 0 ? tool.secs / restoreSecs : 0.0);
#ifdef Q_CLI_PATH
    // The same restore by the command line's wa-restore, as a process of its
    // own like the tool, onto another fresh copy of phone B.
    fresh.process.terminate();
    fresh.process.waitForFinished(10000);
    QDir(phone).removeRecursively();
    if (!runTool("cp", {"-a", phoneCopy, phone}).ok)
        return 1;
    Sim again(phonesim);
    if (!again.start(phone, work.filePath("records")))
        return 1;
    const Run cli = runTool(QStringLiteral(Q_CLI_PATH), {"wa-restore", kUdid, "--root", toolRoot});
    if (!cli.ok)
        return 1;
    std::printf("%-22s idevicebackup2 %7.2f s | wa-restore %3.2f s | ratio (speed) %.2f\n", "restore (process)",
                tool.secs, cli.secs, cli.secs > 0 ? tool.secs / cli.secs : 0.0);
#endif
    return 0;
}
