#include "manifestdb.h"

#include "plist.h"

#include <openssl/sha.h>
#include <sqlite3.h>

#include <cstdio>

namespace {

plist_t classDict(const char* name, std::initializer_list<const char*> classes)
{
    Plist c = Plist::dict();
    Plist list = Plist::array();
    for (const char* x : classes)
        list.append(plist_new_string(x));
    c.set("$classes", list.release());
    c.set("$classname", name);
    return c.release();
}

std::optional<uint64_t> uidOf(plist_t node)
{
    if (!node || plist_get_node_type(node) != PLIST_UID)
        return std::nullopt;
    uint64_t v = 0;
    plist_get_uid_val(node, &v);
    return v;
}

} // namespace

std::string ManifestDb::fileIdFor(const std::string& domain, const std::string& relativePath)
{
    const std::string s = domain + "-" + relativePath;
    unsigned char md[SHA_DIGEST_LENGTH];
    SHA1(reinterpret_cast<const unsigned char*>(s.data()), s.size(), md);
    static const char* hex = "0123456789abcdef";
    std::string out;
    for (unsigned char c : md) {
        out.push_back(hex[c >> 4]);
        out.push_back(hex[c & 15]);
    }
    return out;
}

std::string ManifestDb::encodeFile(const ManifestRecord& r)
{
    Plist objects = Plist::array();
    objects.append(plist_new_string("$null"));
    Plist file = Plist::dict();
    file.setUint("Birth", static_cast<uint64_t>(r.birth));
    file.setUint("Flags", 0);
    file.setUint("GroupID", 501);
    file.setUint("InodeNumber", r.inode);
    file.setUint("LastModified", static_cast<uint64_t>(r.modified));
    file.setUint("LastStatusChange", static_cast<uint64_t>(r.changed));
    file.setUint("Mode", r.mode);
    file.setUint("ProtectionClass", static_cast<uint64_t>(r.protectionClass));
    file.set("RelativePath", plist_new_uid(2));
    file.setUint("Size", r.size);
    file.setUint("UserID", 501);
    uint64_t next = 3;
    if (!r.encryptionKey.empty())
        file.set("EncryptionKey", plist_new_uid(next));
    const uint64_t fileClass = r.encryptionKey.empty() ? 3 : 5;
    file.set("$class", plist_new_uid(fileClass));
    objects.append(file.release());
    objects.append(plist_new_string(r.relativePath.c_str()));
    if (!r.encryptionKey.empty()) {
        Plist key = Plist::dict();
        key.setData("NS.data", r.encryptionKey);
        key.set("$class", plist_new_uid(4));
        objects.append(key.release());
        objects.append(classDict("NSMutableData", {"NSMutableData", "NSData", "NSObject"}));
    }
    objects.append(classDict("MBFile", {"MBFile", "NSObject"}));
    Plist top = Plist::dict();
    top.set("root", plist_new_uid(1));
    Plist archive = Plist::dict();
    archive.setUint("$version", 100000);
    archive.set("$archiver", "NSKeyedArchiver");
    archive.set("$top", top.release());
    archive.set("$objects", objects.release());
    return archive.toBinary();
}

bool ManifestDb::decodeFile(const std::string& bytes, ManifestRecord& r)
{
    Plist archive = Plist::parse(bytes);
    plist_t objects = archive.item("$objects");
    plist_t top = archive.item("$top");
    if (!objects || plist_get_node_type(objects) != PLIST_ARRAY || !top)
        return false;
    const uint32_t count = plist_array_get_size(objects);
    auto object = [&](plist_t uidNode) -> plist_t {
        auto uid = uidOf(uidNode);
        return uid && *uid < count ? plist_array_get_item(objects, static_cast<uint32_t>(*uid)) : nullptr;
    };
    plist_t root = object(plist_dict_get_item(top, "root"));
    if (!root || plist_get_node_type(root) != PLIST_DICT)
        return false;
    auto num = [&](const char* k) { return Plist::uintOf(plist_dict_get_item(root, k)).value_or(0); };
    r.size = num("Size");
    r.modified = static_cast<int64_t>(num("LastModified"));
    r.changed = static_cast<int64_t>(num("LastStatusChange"));
    r.birth = static_cast<int64_t>(num("Birth"));
    r.mode = num("Mode");
    r.inode = num("InodeNumber");
    r.protectionClass = static_cast<int>(num("ProtectionClass"));
    r.encryptionKey.clear();
    if (plist_t key = object(plist_dict_get_item(root, "EncryptionKey"))) {
        plist_t data = plist_get_node_type(key) == PLIST_DICT ? plist_dict_get_item(key, "NS.data") : nullptr;
        if (uidOf(data))
            data = object(data);
        r.encryptionKey = Plist::dataOf(data).value_or("");
    }
    return true;
}

bool ManifestDb::write(const std::string& path, const std::vector<ManifestRecord>& records, std::string& error)
{
    std::remove(path.c_str());
    sqlite3* db = nullptr;
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) {
        error = "cannot create " + path;
        sqlite3_close(db);
        return false;
    }
    const char* schema =
        "PRAGMA journal_mode=DELETE;"
        "CREATE TABLE Files (fileID TEXT PRIMARY KEY, domain TEXT, relativePath TEXT, flags INTEGER, file BLOB);"
        "CREATE INDEX FilesDomainIdx ON Files(domain);"
        "CREATE INDEX FilesRelativePathIdx ON Files(relativePath);"
        "CREATE INDEX FilesFlagsIdx ON Files(flags);"
        "CREATE TABLE Properties (key TEXT PRIMARY KEY, value BLOB);"
        "BEGIN;";
    bool ok = sqlite3_exec(db, schema, nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_stmt* st = nullptr;
    ok = ok && sqlite3_prepare_v2(db, "INSERT OR REPLACE INTO Files VALUES (?,?,?,?,?)", -1, &st, nullptr) == SQLITE_OK;
    for (size_t i = 0; ok && i < records.size(); ++i) {
        const ManifestRecord& r = records[i];
        const std::string blob = encodeFile(r);
        sqlite3_bind_text(st, 1, r.fileId.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(st, 2, r.domain.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(st, 3, r.relativePath.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int(st, 4, r.flags);
        sqlite3_bind_blob(st, 5, blob.data(), static_cast<int>(blob.size()), SQLITE_TRANSIENT);
        ok = sqlite3_step(st) == SQLITE_DONE;
        sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    ok = ok && sqlite3_exec(db, "COMMIT;", nullptr, nullptr, nullptr) == SQLITE_OK;
    if (!ok)
        error = std::string("cannot write the manifest: ") + sqlite3_errmsg(db);
    sqlite3_close(db);
    return ok;
}

bool ManifestDb::read(const std::string& path, std::vector<ManifestRecord>& records, std::string& error)
{
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        error = "cannot open the manifest " + path;
        sqlite3_close(db);
        return false;
    }
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT fileID, domain, relativePath, flags, file FROM Files", -1, &st, nullptr)
        != SQLITE_OK) {
        error = std::string("the manifest has no Files table: ") + sqlite3_errmsg(db);
        sqlite3_close(db);
        return false;
    }
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
        ManifestRecord r;
        auto text = [&](int col) {
            const unsigned char* t = sqlite3_column_text(st, col);
            return std::string(t ? reinterpret_cast<const char*>(t) : "");
        };
        r.fileId = text(0);
        r.domain = text(1);
        r.relativePath = text(2);
        r.flags = sqlite3_column_int(st, 3);
        const void* blob = sqlite3_column_blob(st, 4);
        const int len = sqlite3_column_bytes(st, 4);
        if (blob && len > 0)
            decodeFile(std::string(static_cast<const char*>(blob), static_cast<size_t>(len)), r);
        records.push_back(std::move(r));
    }
    sqlite3_finalize(st);
    const bool ok = rc == SQLITE_DONE;
    if (!ok)
        error = std::string("cannot read the manifest: ") + sqlite3_errmsg(db);
    sqlite3_close(db);
    return ok;
}
