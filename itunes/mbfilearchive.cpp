// MBFile keyed archives: the per-file metadata of Manifest.db.
#include "itunes/mbdbparser.h"

#include "chatstore/keyedarchivebuilder.h"
#include "chatstore/plistcftype.h"

#include <QtEndian>

#include <limits>

namespace {

// The bytes of an archived NSData: the data object itself, or the "NS.data"
// of a dictionary, which some writers store as a uid naming the data object.
QByteArray archivedData(const PlistCFType& value, const PlistCFType& objects)
{
    if (value.type() == PlistCFType::DataType)
        return value.toBytes();
    if (value.type() != PlistCFType::DictionaryType)
        return {};
    PlistCFType data = value.value(QStringLiteral("NS.data"));
    if (data.isUidReference()) {
        const quint64 uid = data.toUid();
        data = uid < quint64(objects.size()) ? objects.at(int(uid)) : PlistCFType();
    }
    return data.type() == PlistCFType::DataType ? data.toBytes() : QByteArray();
}

}  // namespace

QByteArray MBDBParser::mbFileArchive(const MBDBRecord& r)
{
    KeyedArchiveBuilder b;
    const quint64 fileUid = b.reserve();
    const quint64 pathUid = b.add(PlistCFType(r.relativePath.text()));
    // A link keeps its target: without it a rewritten manifest would turn
    // every symbolic link of the phone into a dangling entry.
    quint64 targetUid = 0;
    if (r.target.hasBytes())
        targetUid = b.add(PlistCFType(r.target.text()));
    quint64 digestUid = 0;
    if (r.digest.hasBytes())
        digestUid = b.add(PlistCFType(r.digest.bytes()));
    quint64 keyUid = 0;
    if (r.encryptionKey.hasBytes()) {
        keyUid = b.reserve();
        const quint64 dataClass = b.addClass(QStringLiteral("NSMutableData"),
                                             {QStringLiteral("NSMutableData"), QStringLiteral("NSData"),
                                              QStringLiteral("NSObject")});
        PlistCFType key = PlistCFType::newDictionary();
        key.setValue(QStringLiteral("$class"), PlistCFType::fromUid(dataClass));
        key.setValue(QStringLiteral("NS.data"), PlistCFType(r.encryptionKey.bytes()));
        b.set(keyUid, key);
    }
    const quint64 fileClass =
        b.addClass(QStringLiteral("MBFile"), {QStringLiteral("MBFile"), QStringLiteral("NSObject")});

    PlistCFType file = PlistCFType::newDictionary();
    auto setInt = [&](const char* name, quint64 v) { file.setValue(QString::fromLatin1(name), PlistCFType(v)); };
    file.setValue(QStringLiteral("$class"), PlistCFType::fromUid(fileClass));
    setInt("Birth", r.birth);
    if (digestUid)
        file.setValue(QStringLiteral("Digest"), PlistCFType::fromUid(digestUid));
    if (keyUid)
        file.setValue(QStringLiteral("EncryptionKey"), PlistCFType::fromUid(keyUid));
    setInt("Flags", 0);
    setInt("GroupID", r.groupId);
    setInt("InodeNumber", r.inode);
    setInt("LastModified", r.lastModified);
    setInt("LastStatusChange", r.lastStatusChange);
    setInt("Mode", r.mode);
    setInt("ProtectionClass", r.protectionClass);
    file.setValue(QStringLiteral("RelativePath"), PlistCFType::fromUid(pathUid));
    setInt("Size", quint64(qMax<qint64>(0, r.size)));
    if (targetUid)
        file.setValue(QStringLiteral("Target"), PlistCFType::fromUid(targetUid));
    setInt("UserID", r.userId);
    b.set(fileUid, file);
    return b.toBinary(1);
}

bool MBDBParser::readMBFileArchive(const QByteArray& bytes, MBDBRecord& r)
{
    const PlistCFType archive = PlistCFType::parse(bytes);
    const QMap<QString, PlistCFType> map = flattenKeyedArchive(archive);
    if (map.isEmpty())
        return false;
    const PlistCFType objects = archive.value(QStringLiteral("$objects"));

    const QString target = map.value(QStringLiteral("Target")).toText();
    if (!target.isEmpty())
        r.target = MBDBString::fromText(target);
    const QByteArray digest = archivedData(map.value(QStringLiteral("Digest")), objects);
    if (!digest.isEmpty())
        r.digest = MBDBString::fromBytes(digest);
    const QByteArray key = archivedData(map.value(QStringLiteral("EncryptionKey")), objects);
    if (!key.isEmpty())
        r.encryptionKey = MBDBString::fromBytes(key);

    auto number = [&](const char* name) { return map.value(QString::fromLatin1(name)).toUInt(); };
    r.mode = quint16(number("Mode"));
    r.inode = number("InodeNumber");
    r.userId = quint32(number("UserID"));
    r.groupId = quint32(number("GroupID"));
    r.lastModified = quint32(number("LastModified"));
    r.lastStatusChange = quint32(number("LastStatusChange"));
    r.birth = quint32(number("Birth"));
    // A size beyond what a signed 64-bit length holds is kept at its
    // largest instead of turning negative.
    r.size = qint64(qMin<quint64>(number("Size"), quint64(std::numeric_limits<qint64>::max())));
    if (map.contains(QStringLiteral("ProtectionClass")))
        r.protectionClass = quint8(number("ProtectionClass"));
    else if (key.size() >= 4)
        // Some writers leave the class out; the key's leading word names it.
        r.protectionClass = quint8(qFromLittleEndian<quint32>(key.constData()));
    return true;
}
