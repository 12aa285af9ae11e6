// PlistCFType over libplist. A tree is owned by one Root that frees it when
// the last handle into it goes away; handles to items share that Root.
#include "chatstore/plistcftype.h"

#include <QStringList>
#include <QTimeZone>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <cstdlib>
#include <limits>
#include <vector>

struct PlistCFType::Root {
    explicit Root(plist_t n) : node(n) {}
    ~Root() { if (node) plist_free(node); }
    Root(const Root&) = delete;
    Root& operator=(const Root&) = delete;
    plist_t node;
};

namespace {

// Dictionaries and arrays nest; hostile trees may nest deeply. Rendering and
// comparison stop descending here instead of exhausting the stack.
constexpr int kMaxDepth = 512;

// libplist aborts the process (an assertion) when asked for a string that
// holds a NUL character. Its XML reader keeps raw NUL bytes, its binary
// reader keeps U+0000 of UTF-16 strings; neither belongs in a property list
// we can use, so such input is refused before libplist builds a tree.
quint64 readBigEndian(const uchar* p, int n)
{
    quint64 v = 0;
    for (int i = 0; i < n; ++i)
        v = (v << 8) | p[i];
    return v;
}

bool binaryHasNulInUtf16String(const QByteArray& bytes)
{
    const auto* d = reinterpret_cast<const uchar*>(bytes.constData());
    const quint64 n = static_cast<quint64>(bytes.size());
    if (n < 8 + 32)
        return false;  // too short for a trailer: libplist refuses it
    const uchar* trailer = d + n - 32;
    const int offsetSize = trailer[6];
    const quint64 numObjects = readBigEndian(trailer + 8, 8);
    const quint64 tableOffset = readBigEndian(trailer + 24, 8);
    if (offsetSize < 1 || offsetSize > 8 || tableOffset >= n - 32
        || numObjects > (n - 32 - tableOffset) / static_cast<quint64>(offsetSize))
        return false;  // a broken table: libplist refuses it
    // Positions of 00 00 pairs by parity, so each string is checked in
    // logarithmic time however the objects overlap.
    std::vector<quint64> nulUnits[2];
    for (quint64 i = 8; i + 1 < n; ++i)
        if (d[i] == 0 && d[i + 1] == 0)
            nulUnits[i & 1].push_back(i);
    if (nulUnits[0].empty() && nulUnits[1].empty())
        return false;
    for (quint64 i = 0; i < numObjects; ++i) {
        const quint64 offset = readBigEndian(d + tableOffset + i * offsetSize, offsetSize);
        if (offset >= n - 32 || (d[offset] >> 4) != 0x6)
            continue;
        quint64 count = d[offset] & 0x0f;
        quint64 pos = offset + 1;
        if (count == 0x0f) {
            if (pos >= n - 32 || (d[pos] >> 4) != 0x1 || (d[pos] & 0x0f) > 3)
                continue;
            const int width = 1 << (d[pos] & 0x0f);
            if (pos + 1 + width > n)
                continue;
            count = readBigEndian(d + pos + 1, width);
            pos += 1 + width;
        }
        if (pos > n || count > (n - pos) / 2)
            continue;
        const auto& units = nulUnits[pos & 1];
        const auto it = std::lower_bound(units.begin(), units.end(), pos);
        if (it != units.end() && *it < pos + 2 * count)
            return true;
    }
    return false;
}

// libplist reads, copies and frees trees recursively; a deeply nested list
// from outside would overflow the stack. Nesting is measured before parsing
// and lists deeper than kMaxDepth are refused.
bool isNameChar(uchar c) { return std::isalnum(c) || c == '_' || c == '-' || c == ':' || c == '.'; }

bool xmlNestsTooDeep(const QByteArray& bytes)
{
    const auto* d = reinterpret_cast<const uchar*>(bytes.constData());
    const qsizetype n = bytes.size();
    int depth = 0;
    auto tagAt = [&](qsizetype i, const char* name) {
        const qsizetype len = static_cast<qsizetype>(std::strlen(name));
        return i + len <= n && std::memcmp(d + i, name, static_cast<size_t>(len)) == 0
               && (i + len == n || !isNameChar(d[i + len]));
    };
    for (qsizetype i = 0; i + 1 < n; ++i) {
        if (d[i] != '<')
            continue;
        if (d[i + 1] == '/') {
            if (tagAt(i + 2, "array") || tagAt(i + 2, "dict"))
                --depth;
            continue;
        }
        if (!tagAt(i + 1, "array") && !tagAt(i + 1, "dict"))
            continue;
        const void* close = std::memchr(d + i, '>', static_cast<size_t>(n - i));
        if (!close)
            break;
        const qsizetype end = static_cast<const uchar*>(close) - d;
        if (d[end - 1] != '/' && ++depth > kMaxDepth)
            return true;
        i = end;
    }
    return false;
}

// Binary lists: the height of the container graph below the top object,
// walked without recursion; shared objects are measured once.
bool binaryNestsTooDeep(const QByteArray& bytes)
{
    const auto* d = reinterpret_cast<const uchar*>(bytes.constData());
    const quint64 n = static_cast<quint64>(bytes.size());
    if (n < 8 + 32)
        return false;
    const uchar* trailer = d + n - 32;
    const int offsetSize = trailer[6];
    const int refSize = trailer[7];
    const quint64 numObjects = readBigEndian(trailer + 8, 8);
    const quint64 topObject = readBigEndian(trailer + 16, 8);
    const quint64 tableOffset = readBigEndian(trailer + 24, 8);
    if (offsetSize < 1 || offsetSize > 8 || refSize < 1 || refSize > 8 || tableOffset >= n - 32
        || numObjects > (n - 32 - tableOffset) / static_cast<quint64>(offsetSize) || topObject >= numObjects)
        return false;  // libplist refuses these itself

    // The references of a container object (position and count), or none.
    auto refsOf = [&](quint64 obj, quint64& pos, quint64& count) {
        const quint64 offset = readBigEndian(d + tableOffset + obj * offsetSize, offsetSize);
        if (offset >= n - 32)
            return false;
        const int kind = d[offset] >> 4;
        if (kind != 0xA && kind != 0xC && kind != 0xD)
            return false;
        count = d[offset] & 0x0f;
        pos = offset + 1;
        if (count == 0x0f) {
            if (pos >= n || (d[pos] >> 4) != 0x1 || (d[pos] & 0x0f) > 3)
                return false;
            const int width = 1 << (d[pos] & 0x0f);
            if (pos + 1 + width > n)
                return false;
            count = readBigEndian(d + pos + 1, width);
            pos += 1 + width;
        }
        if (kind == 0xD) {
            if (count > n)
                return false;
            count *= 2;
        }
        return pos <= n && count <= (n - pos) / static_cast<quint64>(refSize);
    };

    enum : quint8 { Unseen, Active, Done };
    std::vector<quint8> state(numObjects, Unseen);
    std::vector<int> height(numObjects, 0);
    struct Frame { quint64 obj, pos, count, next; int best; };
    std::vector<Frame> stack;
    auto push = [&](quint64 obj) {
        Frame f{obj, 0, 0, 0, 0};
        if (!refsOf(obj, f.pos, f.count))
            f.count = 0;
        state[obj] = Active;
        stack.push_back(f);
    };
    push(topObject);
    while (!stack.empty()) {
        if (static_cast<int>(stack.size()) > kMaxDepth)
            return true;
        Frame& f = stack.back();
        if (f.next < f.count) {
            const quint64 child = readBigEndian(d + f.pos + f.next * refSize, refSize);
            ++f.next;
            if (child >= numObjects || state[child] == Active)
                continue;  // broken or cyclic: libplist refuses it
            if (state[child] == Done) {
                f.best = std::max(f.best, height[child]);
                continue;
            }
            push(child);
            continue;
        }
        const int h = f.best + 1;
        if (h > kMaxDepth)
            return true;
        height[f.obj] = h;
        state[f.obj] = Done;
        stack.pop_back();
        if (!stack.empty())
            stack.back().best = std::max(stack.back().best, h);
    }
    return false;
}

QString nodeText(plist_t node)
{
    char* s = nullptr;
    const plist_type t = plist_get_node_type(node);
    if (t == PLIST_STRING)
        plist_get_string_val(node, &s);
    else if (t == PLIST_KEY)
        plist_get_key_val(node, &s);
    if (!s)
        return {};
    QString text = QString::fromUtf8(s);
    std::free(s);
    return text;
}

QByteArray nodeBytes(plist_t node)
{
    if (plist_get_node_type(node) != PLIST_DATA)
        return {};
    char* d = nullptr;
    uint64_t len = 0;
    plist_get_data_val(node, &d, &len);
    if (!d)
        return {};
    QByteArray bytes(d, static_cast<qsizetype>(len));
    std::free(d);
    return bytes;
}

// libplist hands out dates as whole seconds plus microseconds, the latter
// taken as the absolute fraction; for values before 2001 the fraction lies
// on the negative side.
qint64 dateMilliseconds(plist_t node)
{
    int32_t sec = 0, usec = 0;
    plist_get_date_val(node, &sec, &usec);
    // The fraction travels as a double; round to the nearest millisecond.
    const qint64 fracMs = (std::llabs(static_cast<qint64>(usec)) + 500) / 1000;
    return sec < 0 ? qint64(sec) * 1000 - fracMs : qint64(sec) * 1000 + fracMs;
}

QString renderNode(plist_t node, int depth);

QString renderChildren(plist_t node, int depth)
{
    QStringList parts;
    if (plist_get_node_type(node) == PLIST_ARRAY) {
        const uint32_t n = plist_array_get_size(node);
        for (uint32_t i = 0; i < n; ++i)
            parts << renderNode(plist_array_get_item(node, i), depth + 1);
        return QLatin1Char('[') + parts.join(QStringLiteral(", ")) + QLatin1Char(']');
    }
    plist_dict_iter it = nullptr;
    plist_dict_new_iter(node, &it);
    for (;;) {
        char* key = nullptr;
        plist_t val = nullptr;
        plist_dict_next_item(node, it, &key, &val);
        if (!val) {
            std::free(key);
            break;
        }
        parts << QStringLiteral("%1 : %2").arg(QString::fromUtf8(key ? key : ""), renderNode(val, depth + 1));
        std::free(key);
    }
    std::free(it);
    return QLatin1Char('{') + parts.join(QStringLiteral(", ")) + QLatin1Char('}');
}

QString renderNode(plist_t node, int depth)
{
    if (!node)
        return QStringLiteral("NULL");
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
        uint8_t b = 0;
        plist_get_bool_val(node, &b);
        return b ? QStringLiteral("1") : QStringLiteral("0");
    }
    case PLIST_UINT: {
        uint64_t v = 0;
        plist_get_uint_val(node, &v);
        // libplist keeps signed integers in the same node kind and writes
        // them back signed; render them the same way.
        return QString::number(static_cast<qint64>(v));
    }
    case PLIST_REAL: {
        double v = 0;
        plist_get_real_val(node, &v);
        return QString::number(v, 'g', 6);
    }
    case PLIST_DATE:
        return PlistCFType::adopt(plist_copy(node)).toDate().toString();
    case PLIST_ARRAY:
    case PLIST_DICT:
        if (depth >= kMaxDepth)
            return QStringLiteral("...");
        return renderChildren(node, depth);
    case PLIST_DATA:
        return QString::fromLatin1(nodeBytes(node).toBase64());
    case PLIST_UID: {
        uint64_t v = 0;
        plist_get_uid_val(node, &v);
        return QString::number(v);
    }
    case PLIST_STRING:
    case PLIST_KEY:
        return nodeText(node);
    default:
        return QStringLiteral("NULL");
    }
}

bool equalNodes(plist_t a, plist_t b, int depth)
{
    if (!a || !b)
        return a == b;
    const plist_type t = plist_get_node_type(a);
    if (t != plist_get_node_type(b))
        return false;
    if (t == PLIST_ARRAY) {
        const uint32_t n = plist_array_get_size(a);
        if (n != plist_array_get_size(b) || depth >= kMaxDepth)
            return false;
        for (uint32_t i = 0; i < n; ++i)
            if (!equalNodes(plist_array_get_item(a, i), plist_array_get_item(b, i), depth + 1))
                return false;
        return true;
    }
    if (t == PLIST_DICT) {
        if (plist_dict_get_size(a) != plist_dict_get_size(b) || depth >= kMaxDepth)
            return false;
        plist_dict_iter it = nullptr;
        plist_dict_new_iter(a, &it);
        bool same = true;
        for (;;) {
            char* key = nullptr;
            plist_t val = nullptr;
            plist_dict_next_item(a, it, &key, &val);
            if (!val) {
                std::free(key);
                break;
            }
            same = equalNodes(val, plist_dict_get_item(b, key), depth + 1);
            std::free(key);
            if (!same)
                break;
        }
        std::free(it);
        return same;
    }
    return plist_compare_node_value(a, b) != 0;
}

} // namespace

PlistCFType PlistCFType::adopt(plist_t node)
{
    if (!node)
        return {};
    return PlistCFType(std::make_shared<Root>(node), node);
}

PlistCFType::PlistCFType(bool value) : PlistCFType(adopt(plist_new_bool(value ? 1 : 0))) {}
PlistCFType::PlistCFType(quint64 value) : PlistCFType(adopt(plist_new_uint(value))) {}
PlistCFType::PlistCFType(double value) : PlistCFType(adopt(plist_new_real(value))) {}
PlistCFType::PlistCFType(const QString& text) : PlistCFType(adopt(plist_new_string(text.toUtf8().constData()))) {}
PlistCFType::PlistCFType(const char* text) : PlistCFType(QString::fromUtf8(text)) {}
PlistCFType::PlistCFType(const QByteArray& bytes)
    : PlistCFType(adopt(plist_new_data(bytes.constData(), static_cast<uint64_t>(bytes.size()))))
{
}

// The wall-clock time of the date is read as UTC; whole seconds since 2001
// go into the seconds field, the milliseconds into the sub-second field.
PlistCFType::PlistCFType(const QDateTime& date)
{
    if (!date.isValid())
        return;
    const QDateTime wall(date.date(), date.time(), Qt::UTC);
    const qint64 ms = wall.toMSecsSinceEpoch() - kPlistEpochOffset * 1000;
    qint64 sec = ms / 1000;
    qint64 frac = ms % 1000;
    if (frac < 0) {  // keep the fraction positive: sec + usec/1e6 is the value
        frac += 1000;
        --sec;
    }
    if (sec < std::numeric_limits<int32_t>::min() || sec > std::numeric_limits<int32_t>::max())
        return;  // outside what a property-list date holds here: none
    *this = adopt(plist_new_date(static_cast<int32_t>(sec), static_cast<int32_t>(frac * 1000)));
}

PlistCFType PlistCFType::fromUid(quint64 uid) { return adopt(plist_new_uid(uid)); }
PlistCFType PlistCFType::newArray() { return adopt(plist_new_array()); }
PlistCFType PlistCFType::newDictionary() { return adopt(plist_new_dict()); }

PlistCFType PlistCFType::parse(const QByteArray& bytes)
{
    if (bytes.isEmpty() || bytes.size() > static_cast<qsizetype>(std::numeric_limits<uint32_t>::max()))
        return {};
    plist_t node = nullptr;
    const auto len = static_cast<uint32_t>(bytes.size());
    if (bytes.size() >= 7 && bytes.startsWith("bplist")) {
        if (binaryHasNulInUtf16String(bytes) || binaryNestsTooDeep(bytes))
            return {};
        plist_from_bin(bytes.constData(), len, &node);
    } else {
        if (bytes.contains('\0') || xmlNestsTooDeep(bytes))
            return {};
        plist_from_xml(bytes.constData(), len, &node);
    }
    return adopt(node);
}

QByteArray PlistCFType::serialize(int format) const
{
    if (!m_node)
        return {};
    char* out = nullptr;
    uint32_t len = 0;
    if (format == XmlFormat) {
        plist_to_xml(m_node, &out, &len);
        QByteArray bytes(out, out ? static_cast<qsizetype>(len) : 0);
        if (out)
            plist_to_xml_free(out);
        return bytes;
    }
    plist_to_bin(m_node, &out, &len);
    QByteArray bytes(out, out ? static_cast<qsizetype>(len) : 0);
    if (out)
        plist_to_bin_free(out);
    return bytes;
}

int PlistCFType::type() const
{
    if (!m_node)
        return NoneType;
    switch (plist_get_node_type(m_node)) {
    case PLIST_BOOLEAN: return BooleanType;
    case PLIST_UINT:
    case PLIST_REAL: return NumberType;
    case PLIST_STRING:
    case PLIST_KEY: return StringType;
    case PLIST_ARRAY: return ArrayType;
    case PLIST_DICT: return DictionaryType;
    case PLIST_DATE: return DateType;
    case PLIST_DATA: return DataType;
    case PLIST_UID: return UidType;
    default: return NoneType;
    }
}

bool PlistCFType::isUInt() const { return m_node && plist_get_node_type(m_node) == PLIST_UINT; }

QString PlistCFType::toText() const { return m_node ? nodeText(m_node) : QString(); }
QByteArray PlistCFType::toBytes() const { return m_node ? nodeBytes(m_node) : QByteArray(); }

quint64 PlistCFType::toUid() const
{
    uint64_t v = 0;
    if (m_node && plist_get_node_type(m_node) == PLIST_UID)
        plist_get_uid_val(m_node, &v);
    else if (isUidReference())
        plist_get_uint_val(plist_dict_get_item(m_node, "CF$UID"), &v);
    return v;
}

// XML has no uid element: a uid is written as {"CF$UID": n} and libplist
// reads it back as that dictionary.
bool PlistCFType::isUidReference() const
{
    if (!m_node)
        return false;
    if (plist_get_node_type(m_node) == PLIST_UID)
        return true;
    if (plist_get_node_type(m_node) != PLIST_DICT || plist_dict_get_size(m_node) != 1)
        return false;
    plist_t item = plist_dict_get_item(m_node, "CF$UID");
    return item && plist_get_node_type(item) == PLIST_UINT;
}

bool PlistCFType::toBool() const
{
    uint8_t b = 0;
    if (m_node && plist_get_node_type(m_node) == PLIST_BOOLEAN)
        plist_get_bool_val(m_node, &b);
    return b != 0;
}

double PlistCFType::toReal() const
{
    if (!m_node)
        return 0.0;
    if (plist_get_node_type(m_node) == PLIST_REAL) {
        double v = 0;
        plist_get_real_val(m_node, &v);
        return v;
    }
    if (plist_get_node_type(m_node) == PLIST_UINT)
        return static_cast<double>(static_cast<qint64>(toUInt()));
    return 0.0;
}

quint64 PlistCFType::toUInt() const
{
    if (!m_node)
        return 0;
    if (plist_get_node_type(m_node) == PLIST_UINT) {
        uint64_t v = 0;
        plist_get_uint_val(m_node, &v);
        return v;
    }
    if (plist_get_node_type(m_node) == PLIST_REAL) {
        const double v = toReal();
        // Out-of-range and NaN reals must not reach an undefined conversion.
        if (!(v >= 0.0) || v >= 18446744073709551616.0)
            return 0;
        return static_cast<quint64>(v);
    }
    return 0;
}

// Read back against 2001-01-01 00:00:00 local time, so that a date written
// from a local wall-clock time reads back as that wall-clock time.
QDateTime PlistCFType::toDate(qint64 offsetSecs) const
{
    if (!m_node || plist_get_node_type(m_node) != PLIST_DATE)
        return {};
    const QDateTime epoch(QDate(2001, 1, 1), QTime(0, 0), Qt::LocalTime);
    return epoch.addMSecs(dateMilliseconds(m_node) + offsetSecs * 1000);
}

PlistCFType PlistCFType::value(const QString& key) const
{
    if (!m_node || plist_get_node_type(m_node) != PLIST_DICT)
        return {};
    plist_t item = plist_dict_get_item(m_node, key.toUtf8().constData());
    if (!item)
        return {};
    return PlistCFType(m_root, item);
}

bool PlistCFType::contains(const QString& key) const { return !value(key).isNone(); }

void PlistCFType::setValue(const QString& key, const PlistCFType& value)
{
    if (!m_node || plist_get_node_type(m_node) != PLIST_DICT || !value.m_node)
        return;
    plist_dict_set_item(m_node, key.toUtf8().constData(), plist_copy(value.m_node));
}

QList<QPair<QString, PlistCFType>> PlistCFType::entries() const
{
    QList<QPair<QString, PlistCFType>> list;
    if (!m_node || plist_get_node_type(m_node) != PLIST_DICT)
        return list;
    plist_dict_iter it = nullptr;
    plist_dict_new_iter(m_node, &it);
    for (;;) {
        char* key = nullptr;
        plist_t val = nullptr;
        plist_dict_next_item(m_node, it, &key, &val);
        if (!val) {
            std::free(key);
            break;
        }
        list.append({QString::fromUtf8(key ? key : ""), PlistCFType(m_root, val)});
        std::free(key);
    }
    std::free(it);
    return list;
}

int PlistCFType::size() const
{
    if (!m_node)
        return 0;
    if (plist_get_node_type(m_node) == PLIST_ARRAY)
        return static_cast<int>(std::min<uint32_t>(plist_array_get_size(m_node), std::numeric_limits<int>::max()));
    if (plist_get_node_type(m_node) == PLIST_DICT)
        return static_cast<int>(std::min<uint32_t>(plist_dict_get_size(m_node), std::numeric_limits<int>::max()));
    return 0;
}

PlistCFType PlistCFType::at(int index) const
{
    if (!m_node || plist_get_node_type(m_node) != PLIST_ARRAY || index < 0
        || static_cast<uint32_t>(index) >= plist_array_get_size(m_node))
        return {};
    plist_t item = plist_array_get_item(m_node, static_cast<uint32_t>(index));
    return item ? PlistCFType(m_root, item) : PlistCFType();
}

void PlistCFType::append(const PlistCFType& value)
{
    if (!m_node || plist_get_node_type(m_node) != PLIST_ARRAY || !value.m_node)
        return;
    plist_array_append_item(m_node, plist_copy(value.m_node));
}

QString PlistCFType::toString() const { return renderNode(m_node, 0); }

bool PlistCFType::operator==(const PlistCFType& other) const { return equalNodes(m_node, other.m_node, 0); }

PlistCFType PlistCFType::clone() const { return m_node ? adopt(plist_copy(m_node)) : PlistCFType(); }

QMap<QString, PlistCFType> flattenKeyedArchive(const PlistCFType& archive)
{
    QMap<QString, PlistCFType> result;
    if (archive.type() != PlistCFType::DictionaryType)
        return result;
    const PlistCFType objects = archive.value(QStringLiteral("$objects"));
    if (objects.type() != PlistCFType::ArrayType)
        return result;
    const quint64 rootUid = archive.value(QStringLiteral("$top")).value(QStringLiteral("root")).toUid();
    if (rootUid >= static_cast<quint64>(objects.size()))
        return result;
    const PlistCFType root = objects.at(static_cast<int>(rootUid));
    if (root.type() != PlistCFType::DictionaryType)
        return result;
    for (const auto& [key, val] : root.entries()) {
        if (val.isUidReference()) {
            const quint64 uid = val.toUid();
            result.insert(key, uid < static_cast<quint64>(objects.size()) ? objects.at(static_cast<int>(uid))
                                                                        : PlistCFType());
        } else {
            result.insert(key, val);
        }
    }
    return result;
}
