// The encrypted Manifest.db fixture: 10 million SHA-256 rounds per unlock,
// so these few cases run under the slow label.
#include "itunestestutil.h"

#include "base/recordingmonitor.h"
#include "itunes/iositunesbksetpasswordthread.h"

using namespace itest;

TEST(EncryptedDbFixture, UnlocksDecryptsTheManifestAndTheFile)
{
    QTemporaryDir dir;
    if (!QFileInfo(fixturePath("itunes-encrypted-db")).isDir())
        GTEST_SKIP() << "shared fixture itunes-encrypted-db is absent";
    ASSERT_TRUE(copyFixture("itunes-encrypted-db", dir.path()));
    BackupManifest backup(dir.path());
    backup.openThrow();
    EXPECT_TRUE(backup.isEncrypted);
    EXPECT_EQ(backup.deviceName, "Fixture iPhone");
    EXPECT_EQ(backup.productVersion, "10.3");
    EXPECT_TRUE(backup.isDbLayout());

    RecordingMonitor wrong;
    EXPECT_FALSE(verifyPassword(backup, "0001", wrong));
    EXPECT_TRUE(backup.manifestKey.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("Manifest-decrypted.db")));

    RecordingMonitor right;
    ASSERT_TRUE(verifyPassword(backup, "0000", right));
    EXPECT_TRUE(right.succeeded());
    EXPECT_EQ(backup.manifestKey.size(), 32);
    // The encrypted manifest has no padding block: all of its two pages are kept.
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("Manifest-decrypted.db")));
    EXPECT_EQ(QFileInfo(backup.decryptedManifestPath).size(), 8192);
    EXPECT_EQ(rowCount(backup.decryptedManifestPath,
                       "select count(*) from Files where fileID='5727bd1c5fa1055e15d8b4a75a74793c84b5ffdc' and "
                       "domain='MyTestDomain' and relativePath='Media/Test.txt' and flags=0"),
              1);

    backup.loadThrow();
    ASSERT_EQ(backup.records.count(), 1);
    const MBDBRecord* r = backup.records.find("5727bd1c5fa1055e15d8b4a75a74793c84b5ffdc");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->birth, 1627974948u);
    EXPECT_EQ(r->lastModified, 1628082463u);
    EXPECT_EQ(r->lastStatusChange, 1628082509u);
    EXPECT_EQ(r->mode, 33261);
    EXPECT_EQ(r->size, 9);
    EXPECT_EQ(r->userId, 501u);
    EXPECT_EQ(r->groupId, 501u);
    EXPECT_EQ(r->encryptionKey.length(), 44);  // NS.data given as a uid, resolved
    EXPECT_EQ(r->protectionClass, 2);          // no ProtectionClass: taken from the key's leading word

    const BackupNode* node = backup.nodeAt("MyTestDomain/Media/Test.txt");
    ASSERT_TRUE(node);
    backup.copyItemThrow(node, dir.filePath("out/Test.txt"));
    EXPECT_EQ(readFile(dir.filePath("out/Test.txt")), "Test data");
}

TEST(EncryptedDbFixture, CommandLineGetsTheFile)
{
    REQUIRE_CLI();
    QTemporaryDir dir;
    if (!QFileInfo(fixturePath("itunes-encrypted-db")).isDir())
        GTEST_SKIP() << "shared fixture itunes-encrypted-db is absent";
    ASSERT_TRUE(copyFixture("itunes-encrypted-db", dir.filePath("bk")));
    const QString out = dir.filePath("Test.txt");
    CliResult r = runCli({"itunes-get", dir.filePath("bk"), "MyTestDomain", "Media/Test.txt", "--out", out,
                          "--password", "0000"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(readFile(out), "Test data");
}
