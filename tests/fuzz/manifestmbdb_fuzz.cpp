// Fuzz target: Manifest.mbdb files from backup folders. A file either loads
// or raises an error; the records that loaded are written back, and reading
// that file again gives the same records.
#include "itunes/mbdbparser.h"

#include <QBuffer>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>

namespace {

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "re-saved manifest: %s\n", what);
    std::abort();
}

// Reads a Manifest.mbdb body; false when the reader raised an error (the
// records read before it stay in the parser).
bool readMbdb(QByteArray& bytes, MBDBParser& parser)
{
    QBuffer input(&bytes);
    input.open(QIODevice::ReadOnly);
    try {
        parser.readMbdbThrow(input, QStringLiteral("fuzz"));
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    MBDBParser parser;
    readMbdb(bytes, parser);  // what was read before any damage is kept, as the program keeps it
    QList<MBDBRecord> records = parser.records();
    MBDBParser::sortRecords(records);
    QByteArray written;
    QBuffer output(&written);
    output.open(QIODevice::WriteOnly);
    try {
        MBDBParser::writeMbdbThrow(output, records);
    } catch (const std::exception&) {
        fail("records that were read cannot be written");
    }

    MBDBParser again;
    if (!readMbdb(written, again))
        fail("the written file does not read");
    // (The highest inode may drop: a record replaced by a later one with
    // the same file ID still raised it when it was read.)
    if (again.count() != parser.count())
        fail("different record count");
    for (auto it = parser.table().cbegin(); it != parser.table().cend(); ++it) {
        const MBDBRecord* r = again.find(it.key());
        if (!r || !r->sameContent(it.value()))
            fail("a record changed");
    }
    return 0;
}
