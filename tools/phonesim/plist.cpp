#include "plist.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

Plist Plist::parse(const std::string& bytes)
{
    if (bytes.empty() || bytes.size() > UINT32_MAX)
        return {};
    plist_t node = nullptr;
    plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &node);
    return Plist(node);
}

Plist Plist::readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return {};
    std::ostringstream ss;
    ss << in.rdbuf();
    return parse(ss.str());
}

namespace {

// Runs one of libplist's serializers and takes over its malloc'd buffer.
template <class Serializer>
std::string serialized(plist_t node, Serializer serializer)
{
    if (!node)
        return {};
    char* out = nullptr;
    uint32_t len = 0;
    serializer(node, &out, &len);
    std::string s(out ? out : "", out ? len : 0);
    free(out);
    return s;
}

}  // namespace

std::string Plist::toXml() const { return serialized(m_node, plist_to_xml); }

std::string Plist::toBinary() const { return serialized(m_node, plist_to_bin); }

bool Plist::writeFile(const std::string& path, bool binary) const
{
    const std::string bytes = binary ? toBinary() : toXml();
    const std::string tmp = path + ".tmp";
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        if (!out)
            return false;
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!out)
            return false;
    }
    return std::rename(tmp.c_str(), path.c_str()) == 0;
}

plist_t Plist::item(const char* key) const
{
    if (!m_node || plist_get_node_type(m_node) != PLIST_DICT)
        return nullptr;
    return plist_dict_get_item(m_node, key);
}

void Plist::set(const char* key, plist_t value)
{
    if (!m_node)
        m_node = plist_new_dict();
    plist_dict_set_item(m_node, key, value);
}

void Plist::set(const char* key, const std::string& value) { set(key, plist_new_string(value.c_str())); }
void Plist::setBool(const char* key, bool value) { set(key, plist_new_bool(value ? 1 : 0)); }
void Plist::setUint(const char* key, uint64_t value) { set(key, plist_new_uint(value)); }
void Plist::setData(const char* key, const std::string& bytes) { set(key, plist_new_data(bytes.data(), bytes.size())); }

void Plist::append(plist_t value)
{
    if (!m_node)
        m_node = plist_new_array();
    plist_array_append_item(m_node, value);
}

std::optional<std::string> Plist::stringOf(plist_t node)
{
    if (!node || plist_get_node_type(node) != PLIST_STRING)
        return std::nullopt;
    char* s = nullptr;
    plist_get_string_val(node, &s);
    std::string out(s ? s : "");
    free(s);
    return out;
}

std::optional<bool> Plist::boolOf(plist_t node)
{
    if (!node || plist_get_node_type(node) != PLIST_BOOLEAN)
        return std::nullopt;
    uint8_t b = 0;
    plist_get_bool_val(node, &b);
    return b != 0;
}

std::optional<uint64_t> Plist::uintOf(plist_t node)
{
    if (!node || plist_get_node_type(node) != PLIST_UINT)
        return std::nullopt;
    uint64_t v = 0;
    plist_get_uint_val(node, &v);
    return v;
}

std::optional<double> Plist::realOf(plist_t node)
{
    if (!node)
        return std::nullopt;
    if (plist_get_node_type(node) == PLIST_REAL) {
        double d = 0;
        plist_get_real_val(node, &d);
        return d;
    }
    if (plist_get_node_type(node) == PLIST_UINT) {
        uint64_t v = 0;
        plist_get_uint_val(node, &v);
        return static_cast<double>(v);
    }
    return std::nullopt;
}

std::optional<std::string> Plist::dataOf(plist_t node)
{
    if (!node || plist_get_node_type(node) != PLIST_DATA)
        return std::nullopt;
    char* d = nullptr;
    uint64_t len = 0;
    plist_get_data_val(node, &d, &len);
    std::string out(d ? d : "", d ? len : 0);
    free(d);
    return out;
}

std::vector<std::pair<std::string, plist_t>> Plist::entries(plist_t dict)
{
    std::vector<std::pair<std::string, plist_t>> out;
    if (!dict || plist_get_node_type(dict) != PLIST_DICT)
        return out;
    plist_dict_iter it = nullptr;
    plist_dict_new_iter(dict, &it);
    if (!it)
        return out;
    for (;;) {
        char* key = nullptr;
        plist_t val = nullptr;
        plist_dict_next_item(dict, it, &key, &val);
        if (!val) {
            free(key);
            break;
        }
        out.emplace_back(key ? key : "", val);
        free(key);
    }
    free(it);
    return out;
}

plist_t plistDateFromUnix(int64_t unixSeconds)
{
    // libplist 2.2 counts from 2001-01-01 00:00:00 UTC.
    return plist_new_date(static_cast<int32_t>(unixSeconds - 978307200), 0);
}
