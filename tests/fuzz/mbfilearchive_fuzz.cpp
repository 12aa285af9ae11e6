// Fuzz target: MBFile keyed archives, the per-file metadata of Manifest.db,
// including keys stored as uids and records without a protection class.
// Whatever reads as a record must be archived again with every field kept:
// a backup written back with a changed record no longer matches its files.
#include "itunes/mbdbparser.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    MBDBRecord record;
    record.domain = MBDBString::fromText(QStringLiteral("HomeDomain"));
    record.relativePath = MBDBString::fromText(QStringLiteral("Library/x"));
    if (!MBDBParser::readMBFileArchive(bytes, record))
        return 0;
    MBDBRecord again;
    again.domain = record.domain;
    again.relativePath = record.relativePath;
    if (!MBDBParser::readMBFileArchive(MBDBParser::mbFileArchive(record), again)) {
        std::fprintf(stderr, "an archived record does not read back\n");
        std::abort();
    }
    if (!again.sameContent(record)) {
        std::fprintf(stderr, "an archived record reads back changed\n");
        std::abort();
    }
    return 0;
}
