// Ground truth written by other tools: a real iPhone's Manifest.db and an
// encrypted backup in the Manifest.mbdb layout. Each test works on a copy.
#include "itunestestutil.h"

#include "base/apperror.h"

using namespace itest;

namespace {

#define REQUIRE_FIXTURE(name, dir)                                                  \
    if (!QFileInfo(fixturePath(name)).isDir())                                      \
        GTEST_SKIP() << "shared fixture " << name << " is absent";                  \
    ASSERT_TRUE(copyFixture(name, dir))

const QString kWaGroup = QStringLiteral("AppDomainGroup-group.net.whatsapp.WhatsApp.shared");
const QString kWaApp = QStringLiteral("AppDomain-net.whatsapp.WhatsApp");

}  // namespace

TEST(Fixtures, EncryptedMbdbBackupUnlocksAndDecrypts)
{
    QTemporaryDir dir;
    REQUIRE_FIXTURE("itunes-encrypted-mbdb", dir.path());
    BackupManifest backup(dir.path());
    backup.openThrow();
    ASSERT_TRUE(backup.isEncrypted);
    EXPECT_FALSE(backup.isDbLayout());
    EXPECT_FALSE(backup.setPassword("0001"));
    ASSERT_TRUE(backup.setPassword("0000"));
    for (quint32 c : backup.keybag.classKeys.keys()) {
        if (backup.keybag.classKeys[c].contains("KEY"))
            EXPECT_EQ(backup.keybag.classKeys[c].value("KEY"), QByteArray(32, '\0')) << c;
    }
    EXPECT_TRUE(backup.decryptedManifestPath.isEmpty());
    backup.loadThrow();
    ASSERT_EQ(backup.records.count(), 1);
    const MBDBRecord* r = backup.records.find("5727bd1c5fa1055e15d8b4a75a74793c84b5ffdc");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->domain.text(), "MyTestDomain");
    EXPECT_EQ(r->relativePath.text(), "Media/Test.txt");
    EXPECT_TRUE(r->target.isAbsent());
    EXPECT_TRUE(r->digest.isAbsent());
    EXPECT_EQ(r->encryptionKey.length(), 44);
    EXPECT_EQ(r->encryptionKey.bytes().left(4), QByteArray("\x04\x00\x00\x00", 4));
    EXPECT_EQ(r->mode, 0x81ED);
    EXPECT_EQ(r->inodeHigh, 0u);
    EXPECT_EQ(r->inode, 4824u);
    EXPECT_EQ(r->userId, 501u);
    EXPECT_EQ(r->groupId, 501u);
    EXPECT_EQ(r->lastModified, 1628082463u);
    EXPECT_EQ(r->lastStatusChange, 1628082509u);
    EXPECT_EQ(r->birth, 1627974948u);
    EXPECT_EQ(r->size, 9);
    EXPECT_EQ(r->protectionClass, 4);
    EXPECT_TRUE(r->properties.isEmpty());

    const BackupNode* node = backup.nodeAt("MyTestDomain/Media/Test.txt");
    ASSERT_TRUE(node);
    backup.copyItemThrow(node, dir.filePath("out/Test.txt"));
    EXPECT_EQ(readFile(dir.filePath("out/Test.txt")), "Test data");

    // Saving rewrites the same bytes.
    const QByteArray before = readFile(dir.filePath("Manifest.mbdb"));
    MBDBParser::saveThrow(backup.records.records(), backup);
    EXPECT_EQ(readFile(dir.filePath("Manifest.mbdb")), before);
}

TEST(Fixtures, RealManifestDbLoadsAndBuildsTheTree)
{
    QTemporaryDir dir;
    REQUIRE_FIXTURE("apple-manifest-db", dir.path());
    writeManifestPlist(dir.path(), "0123456789abcdef0123456789abcdef01234567", "Real iPhone");
    BackupManifest backup(dir.path());
    backup.openThrow();
    backup.loadThrow();
    ASSERT_EQ(backup.records.count(), 3721);
    int group = 0, app = 0, home = 0;
    for (const MBDBRecord& r : backup.records.table()) {
        group += r.domain.text() == kWaGroup;
        app += r.domain.text() == kWaApp;
        home += r.domain.text() == QLatin1String("HomeDomain");
    }
    EXPECT_EQ(group, 52);
    EXPECT_EQ(app, 14);
    EXPECT_EQ(home, 571);

    const BackupNode* waApp = backup.nodeAt("Applications/net.whatsapp.WhatsApp");
    const BackupNode* waGroup = backup.nodeAt("AppDomainGroup/group.net.whatsapp.WhatsApp.shared");
    ASSERT_TRUE(waApp);
    ASSERT_TRUE(waGroup);
    EXPECT_TRUE(waApp->isFolder());
    EXPECT_EQ(waApp->parent, backup.nodeAt("Applications"));
    EXPECT_EQ(waGroup->parent, backup.nodeAt("AppDomainGroup"));
    ASSERT_TRUE(waGroup->child("ChatStorage.sqlite"));
    EXPECT_FALSE(waGroup->child("ChatStorage.sqlite")->isFolder());
    EXPECT_TRUE(backup.nodeAt("AppDomainGroup/group.net.whatsapp.WhatsApp.shared/Message/Media"));
    const MBDBRecord& chat = waGroup->child("ChatStorage.sqlite")->record;
    EXPECT_GT(chat.size, 0);
    EXPECT_EQ(chat.mode & 0xF000, 0x8000);
    // Real keys are inline and carry their class in the leading word.
    int keyed = 0;
    for (const MBDBRecord& r : backup.records.table()) {
        if (!r.encryptionKey.hasBytes())
            continue;
        ++keyed;
        EXPECT_EQ(qFromLittleEndian<quint32>(r.encryptionKey.bytes().constData()), r.protectionClass)
            << r.encryptionKey.bytes().toHex().toStdString() << " " << r.relativePath.text().toStdString();
    }
    EXPECT_GT(keyed, 0);
}

TEST(Fixtures, RealManifestDbReducedToWhatsApp)
{
    QTemporaryDir dir;
    REQUIRE_FIXTURE("apple-manifest-db", dir.path());
    writeManifestPlist(dir.path(), "u", "Real iPhone");
    BackupManifest backup(dir.path());
    backup.openThrow();
    const QString out = dir.filePath("reduced.db");
    backup.filteredManifestThrow(false, {kWaGroup, kWaApp}, out);
    EXPECT_EQ(rowCount(out, "select count(*) from Files"), 25);
    EXPECT_EQ(rowCount(out, "select count(*) from Files where flags=2 and domain<>'HomeDomain'"), 22);
    EXPECT_EQ(rowCount(out, "select count(*) from Files where domain='HomeDomain' and relativePath in "
                            "('', 'Library', 'Library/Preferences')"),
              3);
    EXPECT_EQ(rowCount(dir.filePath("Manifest.db"), "select count(*) from Files"), 3721);  // source untouched
}

TEST(Fixtures, RealManifestDbRoundTripChangesNoRecord)
{
    QTemporaryDir dir;
    REQUIRE_FIXTURE("apple-manifest-db", dir.path());
    ManifestLocation loc{dir.path(), {}, {}, {}};
    const MBDBParser before = MBDBParser::parseThrow(loc);
    QList<MBDBRecord> all = before.records();
    for (MBDBRecord& r : all)
        r.isModified = true;  // every row is written anew
    MBDBParser::saveThrow(all, loc);
    const MBDBParser after = MBDBParser::parseThrow(loc);
    ASSERT_EQ(after.count(), before.count());
    int differing = 0;
    for (auto it = before.table().constBegin(); it != before.table().constEnd(); ++it) {
        const MBDBRecord* r = after.find(it.key());
        if (!r || !r->sameContent(it.value()))
            ++differing;
    }
    EXPECT_EQ(differing, 0);
    EXPECT_EQ(rowCount(dir.filePath("Manifest.db"), "select count(*) from Files"), 3721);
}
