// Fuzz target: MBFile keyed archives, the per-file metadata of Manifest.db,
// including keys stored as uids and records without a protection class.
#include "itunes/mbdbparser.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    MBDBRecord record;
    record.domain = MBDBString::fromText(QStringLiteral("HomeDomain"));
    record.relativePath = MBDBString::fromText(QStringLiteral("Library/x"));
    if (MBDBParser::readMBFileArchive(bytes, record)) {
        // Whatever was read can be archived again.
        MBDBRecord again;
        (void)MBDBParser::readMBFileArchive(MBDBParser::mbFileArchive(record), again);
    }
    return 0;
}
