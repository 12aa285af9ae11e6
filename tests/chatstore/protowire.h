// A few lines of protocol-buffers wire format for building test blobs by
// hand, independent of the generated code under test.
#pragma once

#include <QByteArray>

#include <cstdint>

namespace wire {

inline QByteArray varint(uint64_t v)
{
    QByteArray out;
    do {
        char b = static_cast<char>(v & 0x7f);
        v >>= 7;
        if (v)
            b = static_cast<char>(b | 0x80);
        out += b;
    } while (v);
    return out;
}
inline QByteArray vfield(int field, uint64_t v) { return varint(uint64_t(field) << 3) + varint(v); }
inline QByteArray lfield(int field, const QByteArray& bytes)
{
    return varint((uint64_t(field) << 3) | 2) + varint(uint64_t(bytes.size())) + bytes;
}

} // namespace wire
