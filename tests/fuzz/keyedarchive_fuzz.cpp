// Fuzz target: property lists from outside, read as keyed archives the way
// chat-database metadata and backup file records are read.
#include "chatstore/plistcftype.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const PlistCFType value = PlistCFType::parse(bytes);
    const QMap<QString, PlistCFType> map = flattenKeyedArchive(value);
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        (void)it.value().toString();
        (void)it.value().value(QStringLiteral("NS.data")).toBytes();
    }
    // Quote metadata: keys of "$objects" element 1 name other elements.
    const PlistCFType objects = value.value(QStringLiteral("$objects"));
    const PlistCFType root = objects.at(1);
    for (const char* key : {"quotedMessageData", "senderJID", "stanzaID"}) {
        const quint64 uid = root.value(QString::fromLatin1(key)).toUid();
        if (uid < static_cast<quint64>(objects.size()))
            (void)objects.at(static_cast<int>(uid)).toBytes();
    }
    (void)value.toString();
    (void)value.toDate();
    return 0;
}
