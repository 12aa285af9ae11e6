// Fuzz target: Manifest.mbdb files from backup folders. A file either loads
// or raises an error; what loads is written back without failing.
#include "itunes/mbdbparser.h"

#include <QBuffer>

#include <cstdint>
#include <exception>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QBuffer input(&bytes);
    input.open(QIODevice::ReadOnly);
    MBDBParser parser;
    try {
        parser.readMbdbThrow(input, QStringLiteral("fuzz"));
    } catch (const std::exception&) {
    }
    QList<MBDBRecord> records = parser.records();
    MBDBParser::sortRecords(records);
    QByteArray written;
    QBuffer output(&written);
    output.open(QIODevice::WriteOnly);
    try {
        MBDBParser::writeMbdbThrow(output, records);
    } catch (const std::exception&) {
    }
    for (const MBDBRecord& r : records)
        (void)r.fileId();
    return 0;
}
