// Manifest records: the file-ID rule, the Manifest.mbdb layout, MBFile
// archives, Manifest.db with and without encrypted descriptors, appendFile.
#include "itunestestutil.h"

#include "base/apperror.h"

using namespace itest;

namespace {

QByteArray str(quint16 length, const QByteArray& bytes = {})
{
    char b[2];
    qToBigEndian(length, b);
    return QByteArray(b, 2) + bytes;
}

template <class T>
QByteArray num(T v)
{
    char b[sizeof(T)];
    qToBigEndian<T>(v, b);
    return QByteArray(b, sizeof(T));
}

// One raw record: every field spelled out as the file stores it.
QByteArray rawRecord(const QByteArray& domain, const QByteArray& path, quint32 inodeHigh, quint32 inode,
                     const QByteArray& target, const QByteArray& digest, const QByteArray& props)
{
    return domain + path + target + digest + str(0xFFFF) + num<quint16>(0x81A4) + num<quint32>(inodeHigh)
        + num<quint32>(inode) + num<quint32>(501) + num<quint32>(502) + num<quint32>(1628082463)
        + num<quint32>(1628082509) + num<quint32>(1627974948) + num<qint64>(9) + num<quint8>(4) + props;
}

}  // namespace

TEST(Manifest, FileIdRule)
{
    EXPECT_EQ(MBDBParser::fileIdOf("HomeDomain", "Library/SMS/sms.db"), "3d0d7e5fb2ce288813306e4d4636395e047a3d28");
    EXPECT_EQ(MBDBParser::fileIdOf("MyTestDomain", "Media/Test.txt"), "5727bd1c5fa1055e15d8b4a75a74793c84b5ffdc");
    EXPECT_EQ(makeRecord("HomeDomain", "Library/SMS/sms.db").fileId(), "3d0d7e5fb2ce288813306e4d4636395e047a3d28");
}

TEST(Manifest, MbdbStringsAndInodeWordsSurviveARoundTrip)
{
    const QByteArray header("mbdb\x05\x00", 6);
    const QByteArray a = rawRecord(str(10, "HomeDomain"), str(7, "Library"), 0xDEADBEEF, 4824, str(0xFFFF),
                                   str(0), num<quint8>(2) + str(1, "k") + str(0xFFFF) + str(0) + str(2, "vv"));
    const QByteArray b = rawRecord(str(10, "HomeDomain"), str(12, "Library/x.db"), 0, 77, str(4, "/tmp"),
                                   str(20, QByteArray(20, 'D')), num<quint8>(0));
    const QByteArray file = header + a + b;
    MBDBParser parser;
    QByteArray in = file;
    QBuffer buffer(&in);
    buffer.open(QIODevice::ReadOnly);
    parser.readMbdbThrow(buffer, "test");
    ASSERT_EQ(parser.count(), 2);
    const MBDBRecord* r = parser.find(MBDBParser::fileIdOf("HomeDomain", "Library"));
    ASSERT_TRUE(r);
    EXPECT_TRUE(r->target.isAbsent());
    EXPECT_EQ(r->digest.length(), 0);
    EXPECT_FALSE(r->digest.isAbsent());
    EXPECT_EQ(r->inodeHigh, 0xDEADBEEFu);
    EXPECT_EQ(r->inode, 4824u);
    EXPECT_EQ(r->groupId, 502u);
    ASSERT_EQ(r->properties.size(), 2);
    EXPECT_TRUE(r->properties[0].value.isAbsent());
    EXPECT_EQ(parser.maxInode(), 4824);
    const MBDBRecord* link = parser.find(MBDBParser::fileIdOf("HomeDomain", "Library/x.db"));
    ASSERT_TRUE(link);
    EXPECT_TRUE(link->isLink());

    QList<MBDBRecord> records = parser.records();
    MBDBParser::sortRecords(records);
    QByteArray out;
    QBuffer sink(&out);
    sink.open(QIODevice::WriteOnly);
    MBDBParser::writeMbdbThrow(sink, records);
    EXPECT_EQ(out, file);
}

TEST(Manifest, MbdbEmptyDomainEndsItsRecordAndTruncationIsAnError)
{
    const QByteArray header("mbdb\x05\x00", 6);
    const QByteArray good = rawRecord(str(1, "D"), str(1, "p"), 0, 5, str(0xFFFF), str(0xFFFF), num<quint8>(0));
    {
        QByteArray in = header + str(0) + good + str(0xFFFF);
        QBuffer buffer(&in);
        buffer.open(QIODevice::ReadOnly);
        MBDBParser parser;
        parser.readMbdbThrow(buffer, "t");
        EXPECT_EQ(parser.count(), 1);
    }
    for (int cut : {1, 3, 10, int(good.size()) - 1}) {
        QByteArray in = header + good.left(cut);
        QBuffer buffer(&in);
        buffer.open(QIODevice::ReadOnly);
        MBDBParser parser;
        try {
            parser.readMbdbThrow(buffer, "Manifest.mbdb");
            ADD_FAILURE() << cut;
        } catch (const AppError& e) {
            EXPECT_TRUE(e.text().contains("ends inside a record")) << e.text().toStdString();
        }
    }
}

TEST(Manifest, LayoutAndStoredFilePaths)
{
    QTemporaryDir dir;
    const QString f = dir.path();
    EXPECT_FALSE(MBDBParser::isDbLayout(f));
    writeFile(f + "/Manifest.db", "x");
    EXPECT_TRUE(MBDBParser::isDbLayout(f));
    const QString id = "3d0d7e5fb2ce288813306e4d4636395e047a3d28";
    EXPECT_EQ(MBDBParser::backupFilePath(f, id, false), f + "/3d/" + id);
    EXPECT_FALSE(QFileInfo(f + "/3d").exists());
    MBDBParser::backupFilePath(f, id, true);
    EXPECT_TRUE(QFileInfo(f + "/3d").isDir());
    writeFile(f + "/Manifest.mbdb", "mbdb\x05\x00");
    EXPECT_FALSE(MBDBParser::isDbLayout(f));  // both present: the older layout
    EXPECT_EQ(MBDBParser::backupFilePath(f, id, false), f + "/" + id);
}

TEST(Manifest, AppendFileCreatesParentsAndRefusesAFileParent)
{
    QTemporaryDir dir;
    const QString stored = dir.filePath("stored");
    writeFile(stored, "12345");
    MBDBParser parser;
    QString error;
    ClassKeyRecord k4{4, MBDBString::fromBytes(le32(4) + filled(40, 'w')), filled(32, 'f')};
    ASSERT_TRUE(parser.appendFile(true, stored, "D", "Library/A/B/file", 0, nullptr, &k4, &error));
    const QStringList folders{"Library/A/B", "Library/A", "Library"};
    for (const QString& p : folders) {
        const MBDBRecord* r = parser.find(MBDBParser::fileIdOf("D", p));
        ASSERT_TRUE(r) << p.toStdString();
        EXPECT_EQ(r->mode, 0x41C0);
        EXPECT_TRUE(r->isNew);
        EXPECT_EQ(r->userId, 501u);
    }
    const MBDBRecord* file = parser.find(MBDBParser::fileIdOf("D", "Library/A/B/file"));
    ASSERT_TRUE(file);
    EXPECT_EQ(file->mode, 0x81A4);
    EXPECT_EQ(file->size, 5);
    EXPECT_EQ(file->protectionClass, 4);
    EXPECT_EQ(file->inode, 4u);
    EXPECT_EQ(file->digest.bytes(), QCryptographicHash::hash("12345", QCryptographicHash::Sha1));
    EXPECT_EQ(file->encryptionKey, k4.encryptionKey);
    EXPECT_EQ(parser.count(), 4);

    ASSERT_TRUE(parser.appendFile(false, stored, "D", "Library/A/B/other", 99, nullptr, nullptr, &error));
    EXPECT_EQ(parser.count(), 5);
    EXPECT_EQ(parser.find(MBDBParser::fileIdOf("D", "Library/A/B/other"))->protectionClass, 3);

    // Appending again marks the record modified; what a rewritten file's
    // record then holds (size, class, key) is the backup writer's table of
    // cases (iosmergewafiles2itunesbk_test).
    ASSERT_TRUE(parser.appendFile(false, stored, "D", "Library/A/B/other", 1, nullptr, nullptr, &error));
    EXPECT_TRUE(parser.find(MBDBParser::fileIdOf("D", "Library/A/B/other"))->isModified);

    EXPECT_FALSE(parser.appendFile(false, stored, "D", "Library/A/B/file/inner", 0, nullptr, nullptr, &error));
    EXPECT_EQ(error, "MBDBParser::appendFile(Library/A/B/file/inner) error. \"Library/A/B/file\" is not a folder.");
    EXPECT_FALSE(parser.contains(MBDBParser::fileIdOf("D", "Library/A/B/file/inner")));
    EXPECT_EQ(parser.count(), 5);
}

TEST(Manifest, LookupOfAMissingRecordInsertsNothing)
{
    MBDBParser parser;
    parser.insert(makeRecord("D", "a"));
    EXPECT_EQ(parser.find(MBDBParser::fileIdOf("D", "missing")), nullptr);
    EXPECT_FALSE(parser.contains(MBDBParser::fileIdOf("D", "missing")));
    EXPECT_EQ(parser.count(), 1);
}

TEST(Manifest, MBFileArchiveObjectOrder)
{
    MBDBRecord r = makeRecord("D", "Documents/x.sqlite");
    r.digest = MBDBString::fromBytes(filled(20, 'g'));
    r.encryptionKey = MBDBString::fromBytes(le32(3) + filled(40, 'w'));
    const QByteArray bytes = MBDBParser::mbFileArchive(r);
    ASSERT_TRUE(bytes.startsWith("bplist"));
    const PlistCFType archive = PlistCFType::parse(bytes);
    EXPECT_EQ(archive.value("$archiver").toText(), "NSKeyedArchiver");
    EXPECT_EQ(archive.value("$version").toUInt(), 100000u);
    EXPECT_EQ(archive.value("$top").value("root").toUid(), 1u);
    const PlistCFType objects = archive.value("$objects");
    ASSERT_EQ(objects.size(), 7);
    EXPECT_EQ(objects.at(0).toText(), "$null");
    const PlistCFType file = objects.at(1);
    EXPECT_EQ(file.value("$class").toUid(), 6u);
    EXPECT_EQ(file.value("RelativePath").toUid(), 2u);
    EXPECT_EQ(file.value("Digest").toUid(), 3u);
    EXPECT_EQ(file.value("EncryptionKey").toUid(), 4u);
    EXPECT_EQ(file.value("Flags").toUInt(), 0u);
    EXPECT_FALSE(file.contains("Target"));
    EXPECT_EQ(objects.at(2).toText(), "Documents/x.sqlite");
    EXPECT_EQ(objects.at(3).toBytes(), filled(20, 'g'));
    EXPECT_EQ(objects.at(4).value("$class").toUid(), 5u);
    EXPECT_EQ(objects.at(4).value("NS.data").toBytes(), r.encryptionKey.bytes());
    EXPECT_EQ(objects.at(5).value("$classname").toText(), "NSMutableData");
    EXPECT_EQ(objects.at(6).value("$classname").toText(), "MBFile");

    // Without digest and key: null, MBFile, path, MBFile class.
    const PlistCFType plain = PlistCFType::parse(MBDBParser::mbFileArchive(makeRecord("D", "p")));
    EXPECT_EQ(plain.value("$objects").size(), 4);
    EXPECT_EQ(plain.value("$objects").at(1).value("$class").toUid(), 3u);

    MBDBRecord back;
    back.domain = r.domain;
    back.relativePath = r.relativePath;
    ASSERT_TRUE(MBDBParser::readMBFileArchive(bytes, back));
    back.inodeHigh = r.inodeHigh;
    EXPECT_TRUE(back.sameContent(r));
    EXPECT_FALSE(MBDBParser::readMBFileArchive("not a plist", back));
}

TEST(Manifest, ManifestDbSaveAndLoadWithAndWithoutEncryptedDescriptors)
{
    for (bool salted : {false, true}) {
        QTemporaryDir dir;
        createManifestDb(dir.filePath("Manifest.db"), salted ? QByteArray("saltbytes") : QByteArray());
        ManifestLocation loc{dir.path(), salted ? "pw" : "", {}, {}};
        QList<MBDBRecord> records;
        MBDBRecord folder = makeRecord("AppDomain-x", "Documents", 0x41C0);
        MBDBRecord file = makeRecord("AppDomain-x", "Documents/a.db");
        file.digest = MBDBString::fromBytes(filled(20, 'g'));
        MBDBRecord link = makeRecord("AppDomain-x", "Documents/l", 0xA1ED);
        link.target = MBDBString::fromText("/var/x");
        for (MBDBRecord* r : {&folder, &file, &link}) {
            r->isNew = true;
            records.append(*r);
        }
        MBDBParser::saveThrow(records, loc);
        EXPECT_EQ(rowCount(dir.filePath("Manifest.db"), "select count(*) from Files where flags=2"), 1);
        EXPECT_EQ(rowCount(dir.filePath("Manifest.db"), "select count(*) from Files where flags=4"), 1);
        EXPECT_EQ(rowCount(dir.filePath("Manifest.db"),
                           salted ? "select count(*) from Files where typeof(file)='text'"
                                  : "select count(*) from Files where typeof(file)='blob'"),
                  3);

        MBDBParser loaded = MBDBParser::parseThrow(loc);
        ASSERT_EQ(loaded.count(), 3) << salted;
        EXPECT_TRUE(loaded.find(file.fileId())->sameContent(file));
        ASSERT_TRUE(loaded.find(link.fileId()));
        EXPECT_EQ(loaded.find(link.fileId())->target.text(), "/var/x");  // links keep their target

        // Delete one, modify one.
        QList<MBDBRecord> changed = loaded.records();
        for (MBDBRecord& r : changed) {
            if (r.fileId() == link.fileId())
                r.isDeleted = true;
            if (r.fileId() == file.fileId()) {
                r.isModified = true;
                r.size = 1234;
            }
        }
        MBDBParser::saveThrow(changed, loc);
        MBDBParser again = MBDBParser::parseThrow(loc);
        EXPECT_EQ(again.count(), 2);
        EXPECT_EQ(again.find(file.fileId())->size, 1234);
    }
}

TEST(Manifest, MbdbSaveReplacesTheFileWhole)
{
    QTemporaryDir dir;
    QList<MBDBRecord> records{makeRecord("B", "z"), makeRecord("A", "y")};
    writeMbdb(dir.path(), records);
    ManifestLocation loc{dir.path(), {}, {}, {}};
    MBDBParser parser = MBDBParser::parseThrow(loc);
    ASSERT_EQ(parser.count(), 2);
    QList<MBDBRecord> all = parser.records();
    all[0].isDeleted = true;
    MBDBParser::saveThrow(all, loc);
    EXPECT_EQ(MBDBParser::parseThrow(loc).count(), 1);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"Manifest.mbdb"});
}
