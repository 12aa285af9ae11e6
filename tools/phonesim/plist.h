// Owning handle over a libplist node, with the few conversions the
// simulator needs. Never hands out a node it still owns without saying so:
// get() borrows, release() gives ownership away.
#pragma once

#include <plist/plist.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class Plist {
public:
    Plist() = default;
    explicit Plist(plist_t node) : m_node(node) {}
    Plist(const Plist& other) : m_node(other.m_node ? plist_copy(other.m_node) : nullptr) {}
    Plist(Plist&& other) noexcept : m_node(other.m_node) { other.m_node = nullptr; }
    Plist& operator=(Plist other) noexcept { std::swap(m_node, other.m_node); return *this; }
    ~Plist() { if (m_node) plist_free(m_node); }

    static Plist dict() { return Plist(plist_new_dict()); }
    static Plist array() { return Plist(plist_new_array()); }
    // XML or binary; an empty handle when the bytes are not a property list.
    static Plist parse(const std::string& bytes);
    static Plist readFile(const std::string& path);

    plist_t get() const { return m_node; }
    plist_t release() { plist_t n = m_node; m_node = nullptr; return n; }
    explicit operator bool() const { return m_node != nullptr; }
    plist_type type() const { return m_node ? plist_get_node_type(m_node) : PLIST_NONE; }

    std::string toXml() const;
    std::string toBinary() const;
    bool writeFile(const std::string& path, bool binary = false) const;

    // Dictionary access on this node (borrowed results).
    plist_t item(const char* key) const;
    void set(const char* key, plist_t value);            // takes ownership of value
    void set(const char* key, const std::string& value);
    void set(const char* key, const char* value) { set(key, std::string(value)); }
    void setBool(const char* key, bool value);
    void setUint(const char* key, uint64_t value);
    void setData(const char* key, const std::string& bytes);
    void append(plist_t value);                         // arrays; takes ownership

    // Typed reads of a dictionary member; nullopt when missing or of another type.
    std::optional<std::string> string(const char* key) const { return stringOf(item(key)); }
    std::optional<bool> boolean(const char* key) const { return boolOf(item(key)); }
    std::optional<uint64_t> uint(const char* key) const { return uintOf(item(key)); }
    std::optional<std::string> data(const char* key) const { return dataOf(item(key)); }

    static std::optional<std::string> stringOf(plist_t node);
    static std::optional<bool> boolOf(plist_t node);
    static std::optional<uint64_t> uintOf(plist_t node);
    static std::optional<double> realOf(plist_t node);
    static std::optional<std::string> dataOf(plist_t node);
    static std::vector<std::pair<std::string, plist_t>> entries(plist_t dict);

private:
    plist_t m_node = nullptr;
};

// Seconds since 1970 to libplist's date (seconds since 2001-01-01).
plist_t plistDateFromUnix(int64_t unixSeconds);
