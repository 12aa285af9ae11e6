// backup2tool against a scripted phone: the set-up and request, every
// device-link message, the raw file streams in both directions, hostile
// paths and streams, cancel, and the user texts of failed runs.
#include "base/jobmonitor.h"
#include "device/backup2tool.h"
#include "support/scriptedbackup2transport.h"

#include <QDir>
#include <QThread>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>

using namespace rawstream;

namespace {

const QString kUdid = QStringLiteral("00008030-001A2B3C4D5E6F70");

PlistCFType msg(std::initializer_list<PlistCFType> items)
{
    PlistCFType a = PlistCFType::newArray();
    for (const auto& i : items)
        a.append(i);
    return a;
}
PlistCFType str(const char* s) { return PlistCFType(s); }
PlistCFType strArray(std::initializer_list<const char*> items)
{
    PlistCFType a = PlistCFType::newArray();
    for (const char* i : items)
        a.append(PlistCFType(i));
    return a;
}
PlistCFType dict(std::initializer_list<std::pair<const char*, PlistCFType>> items)
{
    PlistCFType d = PlistCFType::newDictionary();
    for (const auto& [k, v] : items)
        d.setValue(QString::fromLatin1(k), v);
    return d;
}
PlistCFType finish(quint64 code = 0, const char* description = "")
{
    return msg({str("DLMessageProcessMessage"),
                dict({{"ErrorCode", PlistCFType(code)}, {"ErrorDescription", PlistCFType(description)}})});
}
PlistCFType upload(quint64 total = 100)
{
    return msg({str("DLMessageUploadFiles"), PlistCFType::newDictionary(), PlistCFType(50.0), PlistCFType(total)});
}
PlistCFType download(std::initializer_list<const char*> paths)
{
    return msg({str("DLMessageDownloadFiles"), strArray(paths), PlistCFType::newDictionary(), PlistCFType(10.0)});
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}
void writeFile(const QString& path, const QByteArray& data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(data);
}

QByteArray pattern(int size)
{
    QByteArray b(size, '\0');
    for (int i = 0; i < size; ++i)
        b[i] = char((i * 131 + 7) & 0xff);
    return b;
}

class Backup2ToolTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        root = dir.path() + QStringLiteral("/backups");
        QDir().mkpath(root);
    }

    std::unique_ptr<backup2tool> makeTool(PBackup2ToolHook hook = nullptr)
    {
        auto tool = std::make_unique<backup2tool>(kUdid, root, std::move(hook));
        tool->setTransportFactory([s = state] { return std::make_unique<ScriptedBackup2Transport>(s); });
        tool->setSilenceLimit(2000);
        return tool;
    }

    qint32 runOp(int op, QString* error = nullptr, PBackup2ToolHook hook = nullptr)
    {
        auto tool = makeTool(std::move(hook));
        Backup2Options o;
        o.op = op;
        QString e;
        const qint32 r = tool->run(o, e);
        if (error)
            *error = e;
        return r;
    }

    // Runs and returns the thrown text (empty when nothing was thrown).
    QString runThrown(int op = 0)
    {
        try {
            runOp(op);
        } catch (const std::exception& e) {
            return QString::fromUtf8(e.what());
        }
        return QString();
    }

    QTemporaryDir dir;
    QString root;
    std::shared_ptr<ScriptedBackup2State> state = std::make_shared<ScriptedBackup2State>();
};

// ------------------------------------------------------------------ set-up and request

TEST_F(Backup2ToolTest, SetUpFailuresThrowTheirTextAndReleaseHandles)
{
    struct Case {
        std::function<void(ScriptedBackup2State&)> arm;
        int op;
        const char* text;
    } cases[] = {
        {[](auto& s) { s.openDeviceError = -3; }, 0, "backup2tool: No device found. Please restart your iPhone"},
        {[](auto& s) { s.lockdownError = -17; }, 0, "backup2tool: open device failed, return -17."},
        {[](auto& s) { s.serviceStarts = false; }, 0, "start service com.apple.mobilebackup2 failed"},
        {[](auto& s) { s.versionError = -3; }, 0, "Could not perform backup protocol version exchange, error code -3"},
        {[](auto& s) { s.requestError = -7; }, 0, "device refused to start the backup process."},
        {[](auto& s) { s.requestError = -6; }, 0, "Could not start backup process: backup protocol version mismatch!"},
        {[](auto& s) { s.requestError = -1; }, 0, "Could not start backup process: unspecified error occurred"},
        {[](auto& s) { s.requestError = -7; }, 1, "device refused to start the restore process."},
        {[](auto& s) { s.requestError = -6; }, 1, "Could not start restore process: backup protocol version mismatch!"},
        {[](auto& s) { s.requestError = -2; }, 1, "Could not start restore process: unspecified error occurred."},
        {[](auto& s) { s.pushError(-3); }, 0, "ERROR: Could not receive from mobilebackup2 (-3)."},
        {[](auto&) {}, 2, "backup2tool: invalid op."},
    };
    for (const Case& c : cases) {
        state = std::make_shared<ScriptedBackup2State>();
        c.arm(*state);
        const QString text = runThrown(c.op);
        EXPECT_TRUE(text.contains(QString::fromUtf8(c.text))) << c.text << " / got: " << text.toStdString();
        EXPECT_FALSE(state->deviceOpen || state->clientOpen) << c.text;
    }
}

TEST_F(Backup2ToolTest, BackupFolderIsCreatedOnlyForABackup)
{
    state->push(finish());
    EXPECT_EQ(runOp(1), 0);
    EXPECT_FALSE(QFileInfo::exists(root + QLatin1Char('/') + kUdid));
    state->push(finish());
    EXPECT_EQ(runOp(0), 0);
    EXPECT_TRUE(QFileInfo(root + QLatin1Char('/') + kUdid).isDir());
    EXPECT_EQ(state->request, QStringLiteral("Backup"));
    EXPECT_FALSE(state->requestHadOptions);
}

TEST_F(Backup2ToolTest, RestoreOptionsInOrder)
{
    struct Case {
        Backup2Options o;
        QStringList keys;
        QList<bool> values;  // of the boolean keys, in order
    };
    Backup2Options plain;
    plain.op = 1;
    Backup2Options conditional = plain;
    conditional.conditional = true;
    Backup2Options conditionalOff = conditional;
    conditionalOff.shouldReboot = false;
    conditionalOff.dontCopyBackup = false;
    conditionalOff.removeItemsNotRestored = true;
    conditionalOff.systemFiles = false;
    Backup2Options withPassword = plain;
    withPassword.password = QStringLiteral("s3cret pw");
    const QStringList all{"RestoreSystemFiles", "RestorePreserveSettings", "RestoreShouldReboot",
                          "RestoreDontCopyBackup", "RemoveItemsNotRestored"};
    const Case cases[] = {
        {plain, all, {true, true, true, true, false}},
        {conditional, {"RestoreSystemFiles", "RestorePreserveSettings", "RestoreDontCopyBackup"}, {true, true, true}},
        {conditionalOff,
         {"RestoreSystemFiles", "RestorePreserveSettings", "RestoreShouldReboot", "RemoveItemsNotRestored"},
         {false, true, false, true}},
        {withPassword, all + QStringList{"Password"}, {true, true, true, true, false}},
    };
    for (const Case& c : cases) {
        state = std::make_shared<ScriptedBackup2State>();
        state->push(finish());
        auto tool = makeTool();
        QString error;
        ASSERT_EQ(tool->run(c.o, error), 0);
        EXPECT_EQ(state->request, QStringLiteral("Restore"));
        QStringList keys;
        QList<bool> values;
        for (const auto& [k, v] : state->requestOptions.entries()) {
            keys << k;
            if (v.type() == PlistCFType::BooleanType)
                values << v.toBool();
        }
        EXPECT_EQ(keys, c.keys);
        EXPECT_EQ(values, c.values);
        if (!c.o.password.isEmpty()) {
            EXPECT_EQ(state->requestOptions.value(QStringLiteral("Password")).toText(), c.o.password);
        }
    }
}

// ------------------------------------------------------------------ simple messages

TEST_F(Backup2ToolTest, EndingMessages)
{
    struct Case {
        PlistCFType message;
        qint32 result;
        const char* error;
    } cases[] = {
        {msg({str("DLMessageDisconnect")}), 0, ""},
        {msg({str("DLMessageProcessMessage"),
              dict({{"ErrorCode", PlistCFType(quint64(0))}, {"Content", PlistCFType("all fine")}})}),
         0, "all fine"},
        {finish(105, "Not enough space (MBErrorDomain/105)"), 105, "Not enough space (MBErrorDomain/105)"},
        {msg({str("DLMessageProcessMessage"),
              dict({{"ErrorCode", PlistCFType(quint64(9))}, {"Content", PlistCFType("from content")}})}),
         9, "from content"},
        {msg({str("DLMessagePurgeDiskSpace")}), -36, "Error: DLMessagePurgeDiskSpace(Insufficient free disk space)."},
    };
    for (const Case& c : cases) {
        state = std::make_shared<ScriptedBackup2State>();
        state->push(c.message);
        state->push(finish(77));  // never reached
        QString error;
        EXPECT_EQ(runOp(0, &error), c.result);
        EXPECT_EQ(error, QString::fromUtf8(c.error));
        EXPECT_EQ(state->incoming.size(), 1u);
    }
}

TEST_F(Backup2ToolTest, MalformedOrUnknownMessagesThrowNeverCrash)
{
    const PlistCFType cases[] = {
        msg({str("DLMessageSomethingNew")}),
        msg({str("DLContentsOfDirectory")}),
        msg({str("DLContentsOfDirectory"), str("")}),
        msg({str("DLContentsOfDirectory"), PlistCFType(quint64(3))}),
        msg({str("DLMessageCreateDirectory")}),
        msg({str("DLMessageMoveItems"), str("not a dictionary")}),
        msg({str("DLMessageMoveFiles"), dict({{"a", PlistCFType(quint64(1))}})}),
        msg({str("DLMessageRemoveItems"), str("not an array")}),
        msg({str("DLMessageRemoveFiles"), msg({PlistCFType(true)})}),
        msg({str("DLMessageCopyItem"), str("a")}),
        msg({str("DLMessageDownloadFiles")}),
        msg({str("DLMessageDownloadFiles"), msg({PlistCFType(quint64(1))})}),
        msg({str("DLMessageUploadFiles")}),
        msg({str("DLMessageProcessMessage")}),
        msg({str("DLMessageProcessMessage"), dict({{"ErrorCode", PlistCFType("zero")}})}),
        PlistCFType("not an array"),
    };
    for (const PlistCFType& m : cases) {
        state = std::make_shared<ScriptedBackup2State>();
        state->push(m);
        const QString text = runThrown();
        EXPECT_FALSE(text.isEmpty()) << m.toString().toStdString();
        EXPECT_FALSE(state->deviceOpen || state->clientOpen);
    }
}

TEST_F(Backup2ToolTest, FreeSpaceListingAndFolders)
{
    writeFile(root + "/U/a.txt", "12345");
    QDir().mkpath(root + "/U/sub");
    state->push(msg({str("DLMessageGetFreeDiskSpace")}));
    state->push(msg({str("DLContentsOfDirectory"), str("U")}));
    state->push(msg({str("DLMessageCreateDirectory"), str("U/new/deep")}));
    state->push(finish());
    ASSERT_EQ(runOp(0), 0);
    ASSERT_EQ(state->statuses.size(), 3);
    EXPECT_EQ(state->statuses[0].value.toUInt(), 1099511627776ULL);
    const PlistCFType listing = state->statuses[1].value;
    EXPECT_EQ(listing.value("a.txt").value("DLFileType").toText(), QStringLiteral("DLFileTypeRegular"));
    EXPECT_EQ(listing.value("a.txt").value("DLFileSize").toUInt(), 5u);
    EXPECT_EQ(listing.value("a.txt").value("DLFileModificationDate").type(), int(PlistCFType::DateType));
    EXPECT_EQ(listing.value("sub").value("DLFileType").toText(), QStringLiteral("DLFileTypeDirectory"));
    EXPECT_EQ(listing.entries().size(), 2);
    EXPECT_TRUE(QFileInfo(root + "/U/new/deep").isDir());
    EXPECT_TRUE(state->statuses[2].value.isNone());
}

TEST_F(Backup2ToolTest, MoveRemoveAndCopyFollowTheBaseRules)
{
    writeFile(root + "/U/Snapshot/aa/file1", "one");
    writeFile(root + "/U/aa/file1", "old");
    writeFile(root + "/U/Snapshot/Status.plist", "status");
    writeFile(root + "/U/tree/x/y", "y");
    writeFile(root + "/U/file", "f");
    QDir().mkpath(root + "/U/folder");
    PlistCFType moves = PlistCFType::newDictionary();
    moves.setValue("U/Snapshot/aa", PlistCFType("U/aa"));
    moves.setValue("U/missing", PlistCFType("U/nowhere"));
    moves.setValue("", PlistCFType("U/empty-source"));
    state->push(msg({str("DLMessageMoveItems"), moves, PlistCFType::newDictionary(), PlistCFType(40.0)}));
    state->push(msg({str("DLMessageRemoveItems"), strArray({"U/Snapshot", "", "U/gone"})}));
    state->push(msg({str("DLMessageCopyItem"), str("U/tree"), str("U/tree-copy")}));
    state->push(msg({str("DLMessageCopyItem"), str("U/file"), str("U/folder")}));
    state->push(msg({str("DLMessageCopyItem"), str("U/tree"), str("U/file")}));
    state->push(msg({str("DLMessageCopyItem"), str("U/absent"), str("U/x")}));
    state->push(finish());
    ASSERT_EQ(runOp(0), 0);
    EXPECT_EQ(readAll(root + "/U/aa/file1"), "one");
    EXPECT_FALSE(QFileInfo::exists(root + "/U/Snapshot"));
    EXPECT_EQ(readAll(root + "/U/tree-copy/x/y"), "y");
    ASSERT_EQ(state->statuses.size(), 6);
    EXPECT_EQ(state->statuses[0].code, 0);
    EXPECT_EQ(state->statuses[1].code, 0);
    EXPECT_EQ(state->statuses[2].code, 0);
    EXPECT_EQ(state->statuses[3].code, -14);
    EXPECT_EQ(state->statuses[3].description, QStringLiteral("Destination is a folder."));
    EXPECT_EQ(state->statuses[4].code, -14);
    EXPECT_EQ(state->statuses[4].description, QStringLiteral("Destination is a file."));
    EXPECT_EQ(state->statuses[5].code, 0);
    EXPECT_FALSE(QFileInfo::exists(root + "/U/x"));
}

// A hook whose moves fail with a chosen code: the phone gets the mapped status.
class FailingMoveHook : public Backup2ToolHook {
public:
    explicit FailingMoveHook(int code) : m_code(code) {}
    int moveItem(const QString&, const QString&, const QString&, QString& error) override
    {
        if (m_code != 0)
            error = QStringLiteral("failed %1").arg(m_code);
        return m_code;
    }
    int m_code;
};

TEST_F(Backup2ToolTest, StatusCodesAreMapped)
{
    const std::pair<int, int> table[] = {{0, 0}, {2, -6}, {17, -7}, {13, -13}, {5, -5}};
    for (const auto& [code, status] : table) {
        state = std::make_shared<ScriptedBackup2State>();
        PlistCFType moves = PlistCFType::newDictionary();
        moves.setValue("U/a", PlistCFType("U/b"));
        state->push(msg({str("DLMessageMoveFiles"), moves}));
        state->push(finish());
        ASSERT_EQ(runOp(0, nullptr, std::make_shared<FailingMoveHook>(code)), 0);
        ASSERT_EQ(state->statuses.size(), 1);
        EXPECT_EQ(state->statuses[0].code, status) << code;
        EXPECT_EQ(state->statuses[0].description, code ? QStringLiteral("failed %1").arg(code) : QString());
    }
}

// ------------------------------------------------------------------ receiving files

TEST_F(Backup2ToolTest, ReceivesFilesBlockByBlock)
{
    const QByteArray big = pattern(100000);
    const QByteArray raw = file("U/Snapshot/Status.plist", "status") + file("U/ab/abcdef", big, 32768)
                           + file("U/empty", QByteArray()) + be32(0);
    state->push(upload(big.size() + 6), raw);
    state->push(finish());
    ASSERT_EQ(runOp(0), 0);
    EXPECT_EQ(readAll(root + "/U/Snapshot/Status.plist"), "status");
    EXPECT_EQ(readAll(root + "/U/ab/abcdef"), big);
    EXPECT_TRUE(QFileInfo::exists(root + "/U/empty"));
    EXPECT_EQ(QFileInfo(root + "/U/empty").size(), 0);
    ASSERT_EQ(state->statuses.size(), 1);
    EXPECT_EQ(state->statuses[0].code, 0);
}

TEST_F(Backup2ToolTest, RemoteErrorEndsAFileOnlyAfterData)
{
    // After a data block it ends the file without an error.
    QByteArray raw = name("/dev/a") + name("U/a") + block(12, "part") + block(11, "late error") + be32(0);
    state->push(upload(), raw);
    state->push(finish());
    EXPECT_EQ(runOp(0), 0);
    EXPECT_EQ(readAll(root + "/U/a"), "part");
    // As the first block it is the phone's error.
    state = std::make_shared<ScriptedBackup2State>();
    raw = name("/dev/b") + name("U/b") + block(11, "disk on fire");
    state->push(upload(), raw);
    const QString text = runThrown();
    EXPECT_TRUE(text.contains("backup2tool::recvFileThrow: remote error. disk on fire")) << text.toStdString();
}

TEST_F(Backup2ToolTest, HostileStreamsEndTheRunWithTheirText)
{
    const QByteArray long4096(4096, 'n');
    struct Case {
        QByteArray raw;
        const char* text;  // empty: the run succeeds
    } cases[] = {
        {name(long4096) + be32(0), ""},
        {name(QByteArray(4097, 'n')), "too large filename length (4097)!"},
        {name("/dev/a") + name("U/a") + block(7, "x"), "backup2tool::recvFileThrow: invalid code 7."},
        // A block that promises more than arrives is an error, never data.
        {name("/dev/a") + name("U/a") + be32(1000) + char(12) + QByteArray(10, 'x'), "recv null data."},
        {name("/dev/a") + name("U/a") + be32(0), "recv null data."},
        {name("/dev/a") + be32(20) + "short", "could not read filename."},
        // The phone leaves between files: reads come back empty at once.
        {name("/dev/a") + name("U/a") + block(12, "x") + block(0), "could not read filename."},
    };
    for (const Case& c : cases) {
        state = std::make_shared<ScriptedBackup2State>();
        state->push(upload(), c.raw);
        state->push(finish());
        const auto started = std::chrono::steady_clock::now();
        const QString text = runThrown();
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5)) << c.text;
        if (*c.text)
            EXPECT_TRUE(text.contains(QString::fromUtf8(c.text))) << c.text << " / got: " << text.toStdString();
        else
            EXPECT_TRUE(text.isEmpty()) << text.toStdString();
        EXPECT_FALSE(state->deviceOpen || state->clientOpen);
    }
}

// A transport whose empty reads each wait a while, like a silent phone.
class SlowEmptyTransport : public ScriptedBackup2Transport {
public:
    using ScriptedBackup2Transport::ScriptedBackup2Transport;
    int receiveRaw(char* data, quint32 length, quint32* received) override
    {
        const int r = ScriptedBackup2Transport::receiveRaw(data, length, received);
        if (*received == 0)
            QThread::msleep(1100);
        return r;
    }
};

TEST_F(Backup2ToolTest, SilenceEndsTheNameReadAfterTheLimit)
{
    state->push(upload(), name("/dev/a") + name("U/a") + block(0));
    auto tool = std::make_unique<backup2tool>(kUdid, root);
    tool->setTransportFactory([s = state] { return std::make_unique<SlowEmptyTransport>(s); });
    tool->setSilenceLimit(2500);
    Backup2Options o;
    QString error;
    const auto started = std::chrono::steady_clock::now();
    try {
        tool->run(o, error);
        ADD_FAILURE() << "a silent phone did not end the run";
    } catch (const std::exception& e) {
        EXPECT_TRUE(QString::fromUtf8(e.what()).contains("could not read filename."));
    }
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_GE(took, std::chrono::milliseconds(2500));
    EXPECT_LT(took, std::chrono::seconds(6));
}

TEST_F(Backup2ToolTest, HostileLocalPathsAreNeverWritten)
{
    const QString outside = dir.path() + "/outside";
    QDir().mkpath(outside);
    QDir().mkpath(root + "/U");
    ASSERT_TRUE(QFile::link(outside, root + "/U/link"));
    const char* paths[] = {"../escape.txt", "/tmp/absolute.txt", "U/../../escape.txt", "U/link/through.txt", ".",
                           "U/./x"};
    for (const char* p : paths) {
        state = std::make_shared<ScriptedBackup2State>();
        const QByteArray raw = name("/dev/x") + name(p) + block(12, "hostile") + block(0) + be32(0);
        state->push(upload(), raw);
        state->push(finish());
        const QString text = runThrown();
        EXPECT_TRUE(text.contains("Write ") && text.contains(" failed.")) << p << " / " << text.toStdString();
        // The file's blocks were read and dropped up to its end block.
        EXPECT_EQ(state->rawPos, state->raw.size() - 4) << p;
    }
    EXPECT_TRUE(QDir(outside).isEmpty());
    EXPECT_FALSE(QFileInfo::exists(dir.path() + "/escape.txt"));
    EXPECT_FALSE(QFileInfo::exists("/tmp/absolute.txt"));
}

TEST_F(Backup2ToolTest, HostilePathsInOtherMessagesGetANonZeroStatus)
{
    const QString outside = dir.path() + "/outside";
    writeFile(outside + "/keep.txt", "keep");
    QDir().mkpath(root + "/U");
    ASSERT_TRUE(QFile::link(outside, root + "/U/link"));
    PlistCFType moves = PlistCFType::newDictionary();
    moves.setValue("U/link/keep.txt", PlistCFType("U/stolen.txt"));
    state->push(msg({str("DLContentsOfDirectory"), str("../outside")}));
    state->push(msg({str("DLMessageCreateDirectory"), str("../made")}));
    state->push(msg({str("DLMessageMoveItems"), moves}));
    state->push(msg({str("DLMessageRemoveItems"), strArray({"U/link/keep.txt", "../outside"})}));
    state->push(msg({str("DLMessageCopyItem"), str("U/link/keep.txt"), str("U/copy.txt")}));
    state->push(msg({str("DLMessageCopyItem"), str("U"), str("../copied")}));
    state->push(finish());
    ASSERT_EQ(runOp(0), 0);
    ASSERT_EQ(state->statuses.size(), 6);
    for (const auto& s : state->statuses) {
        EXPECT_NE(s.code, 0) << s.description.toStdString();
        EXPECT_TRUE(s.description.contains("Path outside the backup folder")) << s.description.toStdString();
    }
    EXPECT_EQ(readAll(outside + "/keep.txt"), "keep");
    EXPECT_FALSE(QFileInfo::exists(dir.path() + "/made"));
    EXPECT_FALSE(QFileInfo::exists(dir.path() + "/copied"));
    EXPECT_FALSE(QFileInfo::exists(root + "/U/stolen.txt"));
    EXPECT_FALSE(QFileInfo::exists(root + "/U/copy.txt"));
}

// ------------------------------------------------------------------ sending files

TEST_F(Backup2ToolTest, SendsFilesInBoundedBlocks)
{
    writeFile(root + "/U/empty", QByteArray());
    const QByteArray big = pattern(32769);
    writeFile(root + "/U/big", big);
    state->push(download({"U/empty", "", "U/big"}));
    state->push(finish());
    ASSERT_EQ(runOp(1), 0);
    const QByteArray expected = name("U/empty") + block(0) + name("U/big") + block(12, big.left(32768))
                                + block(12, big.mid(32768)) + block(0) + be32(0);
    EXPECT_EQ(state->sent, expected);
    ASSERT_EQ(state->statuses.size(), 1);
    EXPECT_EQ(state->statuses[0].code, 0);
    EXPECT_TRUE(state->statuses[0].description.isEmpty());
}

TEST_F(Backup2ToolTest, MissingOrOutsideFilesAreAnsweredAsMissing)
{
    writeFile(dir.path() + "/secret", "secret");
    state->push(download({"U/Status.plist", "../secret"}));
    state->push(finish(205, "Multiple errors downloading files (MBErrorDomain/205)"));
    QString error;
    EXPECT_EQ(runOp(1, &error), 205);
    const QByteArray expected = name("U/Status.plist") + block(6) + name("../secret") + block(6) + be32(0);
    EXPECT_EQ(state->sent, expected);
    ASSERT_EQ(state->statuses.size(), 1);
    EXPECT_EQ(state->statuses[0].code, -13);
    EXPECT_EQ(state->statuses[0].description, QStringLiteral("Multi status"));
    const PlistCFType entry = state->statuses[0].value.value("U/Status.plist");
    EXPECT_EQ(entry.value("DLFileErrorCode").toUInt(), quint64(-6));
    EXPECT_TRUE(state->statuses[0].value.contains("../secret"));
    EXPECT_EQ(error, QStringLiteral("Multiple errors downloading files (MBErrorDomain/205) secret not exists."));
}

TEST_F(Backup2ToolTest, ManifestSubstituteServesManifestRequests)
{
    writeFile(root + "/" + kUdid + "/Manifest.db", "real");
    writeFile(root + "/" + kUdid + "/Manifest-reduced.db", "reduced");
    state->push(download({"00008030-001A2B3C4D5E6F70/manifest.DB"}));
    state->push(finish());
    auto tool = makeTool();
    tool->setManifestSubstitute(QStringLiteral("Manifest-reduced.db"));
    Backup2Options o;
    o.op = 1;
    QString error;
    ASSERT_EQ(tool->run(o, error), 0);
    EXPECT_EQ(state->sent, name("00008030-001A2B3C4D5E6F70/manifest.DB") + block(12, "reduced") + block(0) + be32(0));
}

TEST_F(Backup2ToolTest, FailedSendsThrowTheirText)
{
    writeFile(root + "/U/f", "data");
    const std::pair<int, const char*> table[] = {
        {1, "send path(U/f) failed. return -3."},
        {2, "send buf failed. return -3."},
        {3, "send status failed. return -3."},
    };
    for (const auto& [at, text] : table) {
        state = std::make_shared<ScriptedBackup2State>();
        state->failRawSendAt = at;
        state->push(download({"U/f"}));
        const QString thrown = runThrown(1);
        EXPECT_TRUE(thrown.startsWith("Error attaching to device.") && thrown.contains(text)) << thrown.toStdString();
        EXPECT_FALSE(state->deviceOpen || state->clientOpen);
    }
}

// ------------------------------------------------------------------ cancel

TEST_F(Backup2ToolTest, CancelEndsTheRunAndIsReportedAsCancel)
{
    writeFile(root + "/U/big", pattern(5 * 32768));
    state->push(download({"U/big"}));
    state->push(finish());
    auto tool = makeTool();
    backup2tool* raw = tool.get();
    state->onRawSend = [raw](int index) {
        if (index == 3)
            raw->cancel();
    };
    Backup2Options o;
    o.op = 1;
    EXPECT_THROW(tool->runThrow(o), JobCancelled);
    EXPECT_TRUE(tool->wasCancelled());
    // Path block and two data blocks went out; no end block, no status.
    EXPECT_EQ(state->rawSends, 3);
    EXPECT_TRUE(state->statuses.isEmpty());
    EXPECT_FALSE(state->deviceOpen || state->clientOpen);
    // A fresh run starts uncancelled.
    state->onRawSend = nullptr;
    state->push(finish());
    EXPECT_NO_THROW(tool->runThrow(o));
}

TEST_F(Backup2ToolTest, CancelDuringAReadThatFindsNothingIsACancel)
{
    // Inside a file (a block head) and between files (a name).
    const QByteArray streams[] = {name("/dev/a") + name("U/a") + block(12, "part"), name("/dev/a") + name("U/a") + block(0)};
    for (const QByteArray& raw : streams) {
        state = std::make_shared<ScriptedBackup2State>();
        state->push(upload(), raw);
        auto tool = makeTool();
        backup2tool* t = tool.get();
        state->onEmptyRead = [t] { t->cancel(); };
        Backup2Options o;
        EXPECT_THROW(tool->runThrow(o), JobCancelled);
        EXPECT_FALSE(state->deviceOpen || state->clientOpen);
    }
}

// ------------------------------------------------------------------ texts

TEST(Backup2ToolTexts, FailureTextTable)
{
    const QString attach = QStringLiteral("Error attaching to device. Please Keep your iPhone connected and active.");
    struct Case {
        qint32 op, result;
        QString error;
        QString expected;
    } cases[] = {
        {0, 9, "", "error code:9. Please restart your iPhone to try again."},
        {0, 105, " Not enough space (MBErrorDomain/105) ", "error code:105. <br/><br/>Not enough space (MBErrorDomain/105)"},
        {0, 3, "Could not receive the file", "error code:-10. " + attach + "<br/><br/>Could not receive the file"},
        {0, 3, "could ONLY send half", "error code:-10. " + attach + "<br/><br/>could ONLY send half"},
        {0, -36, "Error: DLMessagePurgeDiskSpace(Insufficient free disk space).",
         "error code:-36. Insufficient free disk space on drive to back up. Not enough free disk space on your "
         "computer.<br/><br/>Error: DLMessagePurgeDiskSpace(Insufficient free disk space)."},
        {1, 100, "x", "error code:-36. Insufficient free disk space on device to back up. Not enough free disk space "
                      "on your Device.<br/><br/>x"},
        {1, 102, "Failed to move the incomplete restore directory into place at path /x (MBErrorDomain/102)",
         "error code:102. <br/><br/>Please restart your iPhone first.<br/><br/>Failed to move the incomplete restore "
         "directory into place at path /x (MBErrorDomain/102)"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(backup2tool::failureText(c.op, c.result, c.error), c.expected) << c.expected.toStdString();
    const QString findMy = backup2tool::failureText(
        1, 211, QStringLiteral("Find My iPhone must be disabled before restoring (MBErrorDomain/211)"));
    EXPECT_TRUE(findMy.startsWith("error code:-37. Please follow ")) << findMy.toStdString();
    EXPECT_TRUE(findMy.contains("this tutorial"));
    EXPECT_TRUE(findMy.contains(" to disable \"Find my iPhone\" first and then restart your iPhone to try again."));
}

TEST(Backup2ToolTexts, SizeTextTable)
{
    const std::pair<quint64, const char*> table[] = {
        {0, "0 Bytes"},         {999, "999 Bytes"},     {1000, "1.0 KB"},
        {1500000, "1.5 MB"},    {2000000000, "2.0 GB"}, {999999999999ULL, "1000.0 GB"},
        {1000000000000ULL, "1.0 TB"},
    };
    for (const auto& [bytes, text] : table)
        EXPECT_EQ(backup2tool::sizeText(bytes), QString::fromLatin1(text)) << bytes;
}

TEST(Backup2ToolHookPaths, ResolveInsideTable)
{
    const std::pair<const char*, bool> table[] = {
        {"U/a", true}, {"U/Snapshot/ab/cd", true}, {"", false}, {"/etc/passwd", false}, {"..", false},
        {"U/../..", false}, {"./U", false}, {"U//a", true}, {"U\\..\\x", false},
    };
    for (const auto& [path, ok] : table)
        EXPECT_EQ(Backup2ToolHook::resolveInside("/root", QString::fromLatin1(path)).isEmpty(), !ok) << path;
}

}  // namespace
