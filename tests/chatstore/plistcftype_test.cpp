// Property-list values: construction, access, rendering, both file formats,
// dates against the 2001 epoch, keyed archives, hostile bytes, and a
// cross-check of what we write against Python's plistlib.
#include "chatstore/keyedarchivebuilder.h"
#include "chatstore/plistcftype.h"
#include "support/requiretool.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTimeZone>

#include <gtest/gtest.h>

namespace {

PlistCFType sampleTree()
{
    PlistCFType dict = PlistCFType::newDictionary();
    dict.setValue("flag", PlistCFType(true));
    dict.setValue("count", PlistCFType(quint64(42)));
    dict.setValue("big", PlistCFType(quint64(5000000000ULL)));
    dict.setValue("ratio", PlistCFType(2.5));
    dict.setValue("name", PlistCFType(QString::fromUtf8("Zo\xc3\xab \xe2\x98\x95")));
    dict.setValue("blob", PlistCFType(QByteArray("\x00\x01\xfe\xff", 4)));
    dict.setValue("when", PlistCFType(QDateTime(QDate(2020, 5, 6), QTime(7, 8, 9, 250), Qt::UTC)));
    dict.setValue("ref", PlistCFType::fromUid(7));
    PlistCFType list = PlistCFType::newArray();
    list.append(PlistCFType("a"));
    list.append(PlistCFType(quint64(1)));
    list.append(PlistCFType::newDictionary());
    dict.setValue("list", list);
    return dict;
}

} // namespace

TEST(PlistCFType, ConstructorsGiveTheirTypeTagAndValue)
{
    EXPECT_EQ(PlistCFType().type(), 16);
    EXPECT_TRUE(PlistCFType().isNone());
    EXPECT_EQ(PlistCFType(true).type(), 21);
    EXPECT_TRUE(PlistCFType(true).toBool());
    EXPECT_FALSE(PlistCFType(false).toBool());
    EXPECT_EQ(PlistCFType(quint64(18446744073709551615ULL)).toUInt(), 18446744073709551615ULL);
    EXPECT_EQ(PlistCFType(quint64(3)).type(), 22);
    EXPECT_TRUE(PlistCFType(quint64(3)).isUInt());
    EXPECT_EQ(PlistCFType(1.25).type(), 22);
    EXPECT_FALSE(PlistCFType(1.25).isUInt());
    EXPECT_DOUBLE_EQ(PlistCFType(1.25).toReal(), 1.25);
    EXPECT_EQ(PlistCFType(1.25).toUInt(), 1u);
    EXPECT_EQ(PlistCFType("text").type(), 7);
    EXPECT_EQ(PlistCFType(QString::fromUtf8("\xc3\xa9t\xc3\xa9")).toText(), QString::fromUtf8("\xc3\xa9t\xc3\xa9"));
    EXPECT_EQ(PlistCFType(QByteArray("ab\0c", 4)).type(), 20);
    EXPECT_EQ(PlistCFType(QByteArray("ab\0c", 4)).toBytes(), QByteArray("ab\0c", 4));
    EXPECT_EQ(PlistCFType::fromUid(9).type(), 35);
    EXPECT_EQ(PlistCFType::fromUid(9).toUid(), 9u);
    EXPECT_EQ(PlistCFType::newArray().type(), 19);
    EXPECT_EQ(PlistCFType::newDictionary().type(), 18);
    EXPECT_EQ(PlistCFType(QDateTime::currentDateTime()).type(), 37);

    // Getters of another type answer neutral values instead of failing.
    EXPECT_EQ(PlistCFType("7").toUInt(), 0u);
    EXPECT_TRUE(PlistCFType(quint64(7)).toText().isEmpty());
    EXPECT_FALSE(PlistCFType(quint64(7)).toDate().isValid());
    EXPECT_EQ(PlistCFType(std::nan("")).toUInt(), 0u);
    EXPECT_EQ(PlistCFType(-3.0).toUInt(), 0u);
}

TEST(PlistCFType, DictionaryAndArrayAccess)
{
    PlistCFType dict = PlistCFType::newDictionary();
    dict.setValue("b", PlistCFType("first"));
    dict.setValue("a", PlistCFType(quint64(1)));
    dict.setValue("b", PlistCFType("second"));  // replaces, keeps its place
    ASSERT_EQ(dict.size(), 2);
    const auto entries = dict.entries();
    ASSERT_EQ(entries.size(), 2);
    EXPECT_EQ(entries[0].first, "b");
    EXPECT_EQ(entries[0].second.toText(), "second");
    EXPECT_EQ(entries[1].first, "a");
    EXPECT_TRUE(dict.contains("a"));
    EXPECT_TRUE(dict.value("missing").isNone());
    EXPECT_TRUE(PlistCFType("x").value("a").isNone());

    PlistCFType list = PlistCFType::newArray();
    list.append(PlistCFType("x"));
    list.append(dict);
    EXPECT_EQ(list.size(), 2);
    EXPECT_EQ(list.at(1).value("a").toUInt(), 1u);
    EXPECT_TRUE(list.at(2).isNone());
    EXPECT_TRUE(list.at(-1).isNone());

    // An item handle keeps the tree alive and shares its node.
    PlistCFType inner;
    {
        PlistCFType outer = PlistCFType::newDictionary();
        outer.setValue("d", PlistCFType::newDictionary());
        inner = outer.value("d");
        PlistCFType alias = inner;
        alias.setValue("k", PlistCFType("v"));
    }
    EXPECT_EQ(inner.value("k").toText(), "v");
}

TEST(PlistCFType, TextRendering)
{
    struct Case { PlistCFType value; QString text; };
    const QList<Case> cases = {
        {PlistCFType(true), "1"},
        {PlistCFType(false), "0"},
        {PlistCFType(quint64(12345)), "12345"},
        {PlistCFType(3.14159265), "3.14159"},
        {PlistCFType(1e20), "1e+20"},
        {PlistCFType("plain"), "plain"},
        {PlistCFType(QByteArray("hello")), "aGVsbG8="},
        {PlistCFType::fromUid(12), "12"},
        {PlistCFType(), "NULL"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.value.toString(), c.text) << c.text.toStdString();

    PlistCFType list = PlistCFType::newArray();
    list.append(PlistCFType("a"));
    list.append(PlistCFType(quint64(2)));
    EXPECT_EQ(list.toString(), "[a, 2]");
    PlistCFType dict = PlistCFType::newDictionary();
    dict.setValue("k", list);
    dict.setValue("z", PlistCFType(false));
    EXPECT_EQ(dict.toString(), "{k : [a, 2], z : 0}");

    const QDateTime local(QDate(2019, 3, 4), QTime(5, 6, 7), Qt::LocalTime);
    EXPECT_EQ(PlistCFType(local).toString(), local.toString());
}

TEST(PlistCFType, XmlAndBinaryOutputReadBackTheSame)
{
    const PlistCFType tree = sampleTree();
    const QByteArray xml = tree.serialize(100);
    const QByteArray bin = tree.serialize(200);
    EXPECT_TRUE(xml.startsWith("<?xml")) << xml.left(40).toStdString();
    EXPECT_TRUE(xml.contains("<key>name</key>"));
    EXPECT_TRUE(bin.startsWith("bplist00"));
    EXPECT_TRUE(tree.serialize(7).startsWith("bplist"));  // any format but 100 is binary

    const PlistCFType fromBin = PlistCFType::parse(bin);
    EXPECT_TRUE(fromBin == tree);
    EXPECT_EQ(fromBin.value("when").toDate(), tree.value("when").toDate());
    EXPECT_EQ(fromBin.value("big").toUInt(), 5000000000ULL);

    // XML keeps dates to the second; everything else is the same.
    const PlistCFType fromXml = PlistCFType::parse(xml);
    ASSERT_EQ(fromXml.type(), 18);
    EXPECT_EQ(fromXml.value("name").toText(), tree.value("name").toText());
    EXPECT_EQ(fromXml.value("blob").toBytes(), QByteArray("\x00\x01\xfe\xff", 4));
    EXPECT_EQ(fromXml.value("ref").toUid(), 7u);
    EXPECT_TRUE(fromXml.value("ref").isUidReference());
    EXPECT_FALSE(fromXml.value("list").isUidReference());
    EXPECT_EQ(fromXml.value("list").toString(), "[a, 1, {}]");
    EXPECT_EQ(fromXml.value("when").toDate().time().second(), 9);

    EXPECT_TRUE(PlistCFType().serialize(100).isEmpty());
}

TEST(PlistCFType, DatesCountFrom2001)
{
    // The wall-clock time is stored as if it were UTC, and read back against
    // local 2001-01-01, so a local time comes back as the same wall clock.
    const QDateTime epochUtc(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC);
    const PlistCFType atEpoch(epochUtc.addSecs(90));
    int32_t sec = -1, usec = -1;
    plist_get_date_val(atEpoch.node(), &sec, &usec);
    EXPECT_EQ(sec, 90);
    EXPECT_EQ(usec, 0);

    const QDateTime withMs(QDate(2001, 1, 2), QTime(3, 4, 5, 678), Qt::UTC);
    plist_get_date_val(PlistCFType(withMs).node(), &sec, &usec);
    EXPECT_EQ(sec, 86400 + 3 * 3600 + 4 * 60 + 5);
    EXPECT_EQ((usec + 500) / 1000, 678);

    const QDateTime wall(QDate(2001, 1, 1), QTime(10, 30, 15, 500), Qt::LocalTime);
    const PlistCFType stored(wall);
    EXPECT_EQ(stored.toDate(), wall);
    EXPECT_EQ(PlistCFType::parse(stored.serialize(200)).toDate(), wall);
    EXPECT_EQ(stored.toDate(3600), wall.addSecs(3600));

    // Before 2001 the sub-second part keeps its sign through a binary list.
    const QDateTime early(QDate(2000, 12, 31), QTime(23, 59, 58, 250), Qt::LocalTime);
    EXPECT_EQ(PlistCFType::parse(PlistCFType(early).serialize(200)).toDate(), early);

    EXPECT_TRUE(PlistCFType(QDateTime()).isNone());
}

TEST(PlistCFType, HostileBytesGiveNoneOrPartialTrees)
{
    const QList<QByteArray> inputs = {
        QByteArray(),
        QByteArray("bplist"),
        QByteArray("bplist00"),
        QByteArray("bplist00\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff"),
        QByteArray("<plist><dict><key>a</key>"),
        QByteArray("<plist><array><string>unterminated"),
        QByteArray("not a property list at all"),
        QByteArray(1 << 16, '\0'),
    };
    for (const QByteArray& in : inputs) {
        const PlistCFType v = PlistCFType::parse(in);
        EXPECT_TRUE(v.isNone()) << in.left(40).toHex().toStdString();
        EXPECT_EQ(v.toString(), "NULL");
        EXPECT_TRUE(flattenKeyedArchive(v).isEmpty());
    }

    // A binary list cut anywhere has lost its trailer and reads as nothing;
    // an XML list cut short reads as nothing or as a dictionary whose
    // entries are those of the whole list.
    const PlistCFType whole = sampleTree();
    const QByteArray bin = whole.serialize(200);
    for (qsizetype n = 0; n < bin.size(); ++n)
        EXPECT_TRUE(PlistCFType::parse(bin.left(n)).isNone()) << n;
    const QByteArray xml = whole.serialize(100);
    for (qsizetype n = 0; n < xml.size(); n += 7) {
        const PlistCFType v = PlistCFType::parse(xml.left(n));
        if (v.isNone())
            continue;
        ASSERT_EQ(v.type(), 18) << n;
        for (const auto& [key, value] : v.entries())
            EXPECT_TRUE(whole.contains(key)) << n << " " << key.toStdString();
    }
    EXPECT_TRUE(PlistCFType::parse(xml).value("list").toString() == "[a, 1, {}]");
}

// libplist aborts on strings holding NUL; such lists are refused instead.
TEST(PlistCFType, StringsWithNulAreRefusedNotFatal)
{
    const QList<QByteArray> inputs = {
        QByteArray("<plist><dict><key>a</key><string>x\0y</string></dict></plist>", 60),
        QByteArray("<plist><dict><key>a</key><string><![CDATA[x\0y]]></string></dict></plist>", 73),
        // {"a": "\u00e9\0y"} and {"\u00e9\0z": "v"} as Python's plistlib writes them.
        QByteArray::fromHex("62706c6973743030d1010251616300e900000079080b0d000000000000010100000000000000030000000000"
                            "000000000000000000000014"),
        QByteArray::fromHex("62706c6973743030d101026300e90000007a5176080b1200000000000001010000000000000003000000000000"
                            "0000000000000000000014"),
    };
    for (const QByteArray& in : inputs) {
        const PlistCFType v = PlistCFType::parse(in);
        EXPECT_TRUE(v.isNone()) << in.toHex().toStdString();
        EXPECT_EQ(v.toString(), "NULL");
    }
    // A NUL inside a data element is fine.
    EXPECT_EQ(PlistCFType::parse(PlistCFType(QByteArray("a\0b", 3)).serialize(200)).toBytes(), QByteArray("a\0b", 3));
    // ASCII strings of a binary list ("q\0r") are cut at the NUL by
    // libplist itself.
    const PlistCFType ascii = PlistCFType::parse(QByteArray::fromHex(
        "62706c69737430305371007208000000000000010100000000000000010000000000000000000000000000000c"));
    EXPECT_EQ(ascii.type(), 7);
    EXPECT_EQ(ascii.toText(), "q");
}

namespace {
QByteArray nestedXml(int depth)
{
    QByteArray xml = "<plist>";
    for (int i = 0; i < depth; ++i)
        xml += i % 2 ? "<array >" : "<dict><key>k</key>";
    xml += "<array/>";
    for (int i = depth - 1; i >= 0; --i)
        xml += i % 2 ? "</array>" : "</dict>";
    return xml + "</plist>";
}

// Object i is an array holding object i + 1; the last one is empty.
QByteArray nestedBinary(int depth)
{
    QByteArray b = "bplist00";
    QList<quint32> offsets;
    for (int i = 0; i <= depth; ++i) {
        offsets << quint32(b.size());
        if (i < depth) {
            b += char(0xA1);
            const quint32 r = quint32(i + 1);
            b += char(r >> 24), b += char(r >> 16), b += char(r >> 8), b += char(r);
        } else {
            b += char(0xA0);
        }
    }
    const quint64 table = quint64(b.size());
    for (quint32 o : offsets)
        b += char(o >> 24), b += char(o >> 16), b += char(o >> 8), b += char(o);
    QByteArray trailer(32, '\0');
    trailer[6] = 4;
    trailer[7] = 4;
    for (int k = 0; k < 8; ++k) {
        trailer[8 + k] = char((quint64(offsets.size()) >> (8 * (7 - k))) & 0xff);
        trailer[24 + k] = char((table >> (8 * (7 - k))) & 0xff);
    }
    return b + trailer;
}
} // namespace

// libplist reads and frees trees recursively: nesting that would overflow
// the stack is refused before it starts.
TEST(PlistCFType, DeepNestingIsRefusedBeforeItReachesTheStack)
{
    const PlistCFType shallowXml = PlistCFType::parse(nestedXml(100));
    ASSERT_EQ(shallowXml.type(), 18);
    EXPECT_EQ(shallowXml.value("k").type(), 19);
    EXPECT_EQ(PlistCFType::parse(nestedBinary(100)).type(), 19);
    EXPECT_TRUE(PlistCFType::parse(PlistCFType::parse(nestedBinary(100)).serialize(200)) == PlistCFType::parse(nestedBinary(100)));

    EXPECT_TRUE(PlistCFType::parse(nestedXml(200000)).isNone());
    EXPECT_TRUE(PlistCFType::parse(nestedBinary(200000)).isNone());

    // Wide and shared is not deep: 2000 references to one small dictionary.
    PlistCFType list = PlistCFType::newArray();
    PlistCFType item = PlistCFType::newDictionary();
    item.setValue("a", PlistCFType::newArray());
    for (int i = 0; i < 2000; ++i)
        list.append(item);
    EXPECT_EQ(PlistCFType::parse(list.serialize(200)).size(), 2000);
    EXPECT_EQ(PlistCFType::parse(list.serialize(100)).size(), 2000);
}

TEST(KeyedArchive, BuilderWritesTheLayoutAndFlattenReadsIt)
{
    KeyedArchiveBuilder b;
    const quint64 root = b.reserve();
    const quint64 path = b.add(PlistCFType("Library/file.txt"));
    const quint64 digest = b.add(PlistCFType(QByteArray("\x01\x02\x03", 3)));
    const quint64 cls = b.addClass("MBFile", {"MBFile", "NSObject"});
    PlistCFType file = PlistCFType::newDictionary();
    file.setValue("$class", PlistCFType::fromUid(cls));
    file.setValue("RelativePath", PlistCFType::fromUid(path));
    file.setValue("Digest", PlistCFType::fromUid(digest));
    file.setValue("Size", PlistCFType(quint64(1234)));
    file.setValue("Dangling", PlistCFType::fromUid(99));
    b.set(root, file);
    EXPECT_EQ(root, 1u);
    EXPECT_EQ(b.count(), 5u);

    const QByteArray bytes = b.toBinary();
    ASSERT_TRUE(bytes.startsWith("bplist00"));
    const PlistCFType archive = PlistCFType::parse(bytes);
    EXPECT_EQ(archive.value("$archiver").toText(), "NSKeyedArchiver");
    EXPECT_EQ(archive.value("$version").toUInt(), 100000u);
    EXPECT_EQ(archive.value("$top").value("root").toUid(), 1u);
    EXPECT_EQ(archive.value("$objects").at(0).toText(), "$null");

    const QMap<QString, PlistCFType> map = flattenKeyedArchive(archive);
    EXPECT_EQ(map.size(), 5);
    EXPECT_EQ(map.value("RelativePath").toText(), "Library/file.txt");
    EXPECT_EQ(map.value("Digest").toBytes(), QByteArray("\x01\x02\x03", 3));
    EXPECT_EQ(map.value("Size").toUInt(), 1234u);
    EXPECT_EQ(map.value("$class").value("$classname").toText(), "MBFile");
    EXPECT_EQ(map.value("$class").value("$classes").toString(), "[MBFile, NSObject]");
    EXPECT_TRUE(map.value("Dangling").isNone());

    // The same archive written as XML, where uids are {"CF$UID": n}.
    const QMap<QString, PlistCFType> fromXml = flattenKeyedArchive(PlistCFType::parse(b.archive().serialize(100)));
    EXPECT_EQ(fromXml.value("RelativePath").toText(), "Library/file.txt");
    EXPECT_EQ(fromXml.value("$class").value("$classname").toText(), "MBFile");
}

TEST(KeyedArchive, FlattenGivesEmptyForAnythingElse)
{
    EXPECT_TRUE(flattenKeyedArchive(PlistCFType()).isEmpty());
    EXPECT_TRUE(flattenKeyedArchive(PlistCFType("x")).isEmpty());
    EXPECT_TRUE(flattenKeyedArchive(PlistCFType::newDictionary()).isEmpty());

    // Without "$top" the root is object 0, "$null": no dictionary, no map.
    PlistCFType noTop = KeyedArchiveBuilder().archive();
    noTop.setValue("$top", PlistCFType::newDictionary());
    EXPECT_TRUE(flattenKeyedArchive(noTop).isEmpty());

    KeyedArchiveBuilder b;
    b.add(PlistCFType::newDictionary());
    EXPECT_TRUE(flattenKeyedArchive(b.archive(40)).isEmpty());  // root outside $objects
    PlistCFType notArray = b.archive();
    notArray.setValue("$objects", PlistCFType::newDictionary());
    EXPECT_TRUE(flattenKeyedArchive(notArray).isEmpty());
}

// What we write must read the same in an independent reader.
TEST(PlistCFType, PythonPlistlibReadsWhatWeWrite)
{
    const QString python = QStandardPaths::findExecutable("python3");
    REQUIRE_TOOL(!python.isEmpty(), "python3 (on PATH)");

    static const char* script = R"PY(
import sys, plistlib, json, base64, datetime
def conv(v):
    if isinstance(v, bool): return {"bool": v}
    if isinstance(v, int): return {"int": v}
    if isinstance(v, float): return {"real": v}
    if isinstance(v, str): return {"str": v}
    if isinstance(v, bytes): return {"data": base64.b64encode(v).decode()}
    if isinstance(v, plistlib.UID): return {"uid": v.data}
    if isinstance(v, datetime.datetime):
        return {"date": v.replace(tzinfo=datetime.timezone.utc).isoformat(timespec="milliseconds")}
    if isinstance(v, list): return {"array": [conv(x) for x in v]}
    if isinstance(v, dict):
        if list(v.keys()) == ["CF$UID"]: return {"uid": v["CF$UID"]}
        return {"dict": {k: conv(x) for k, x in v.items()}}
    return {"unknown": repr(v)}
print(json.dumps(conv(plistlib.loads(sys.stdin.buffer.read()))))
)PY";

    auto readWithPython = [&](const QByteArray& bytes) {
        QProcess p;
        p.start(python, {"-c", script});
        EXPECT_TRUE(p.waitForStarted(10000));
        p.write(bytes);
        p.closeWriteChannel();
        EXPECT_TRUE(p.waitForFinished(30000));
        EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
        return QJsonDocument::fromJson(p.readAllStandardOutput()).object();
    };

    const char* expected = R"JS({"dict": {
        "flag": {"bool": true}, "count": {"int": 42}, "big": {"int": 5000000000},
        "ratio": {"real": 2.5}, "name": {"str": "Zoë ☕"}, "blob": {"data": "AAH+/w=="},
        "when": {"date": "%DATE%"}, "ref": {"uid": 7},
        "list": {"array": [{"str": "a"}, {"int": 1}, {"dict": {}}]}}})JS";
    auto expect = [&](const char* date) {
        return QJsonDocument::fromJson(QByteArray(expected).replace("%DATE%", date)).object();
    };

    const PlistCFType tree = sampleTree();
    EXPECT_EQ(readWithPython(tree.serialize(200)), expect("2020-05-06T07:08:09.250+00:00"));
    EXPECT_EQ(readWithPython(tree.serialize(100)), expect("2020-05-06T07:08:09.000+00:00"));

    // A keyed archive as the program writes it for backups.
    KeyedArchiveBuilder b;
    const quint64 root = b.reserve();
    const quint64 path = b.add(PlistCFType("Documents/a.sqlite"));
    const quint64 cls = b.addClass("MBFile", {"MBFile", "NSObject"});
    PlistCFType file = PlistCFType::newDictionary();
    file.setValue("$class", PlistCFType::fromUid(cls));
    file.setValue("RelativePath", PlistCFType::fromUid(path));
    b.set(root, file);
    const QJsonObject archive = readWithPython(b.toBinary());
    const QJsonObject top = archive["dict"].toObject();
    EXPECT_EQ(top["$archiver"].toObject()["str"].toString(), "NSKeyedArchiver");
    EXPECT_EQ(top["$version"].toObject()["int"].toInt(), 100000);
    EXPECT_EQ(top["$top"].toObject()["dict"].toObject()["root"].toObject()["uid"].toInt(), 1);
    const auto objects = top["$objects"].toObject()["array"].toArray();
    ASSERT_EQ(objects.size(), 4);
    EXPECT_EQ(objects[0].toObject()["str"].toString(), "$null");
    EXPECT_EQ(objects[1].toObject()["dict"].toObject()["RelativePath"].toObject()["uid"].toInt(), 2);
    EXPECT_EQ(objects[2].toObject()["str"].toString(), "Documents/a.sqlite");
}
