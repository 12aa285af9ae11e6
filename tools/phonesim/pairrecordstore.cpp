#include "pairrecordstore.h"

#include "plist.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

namespace fs = std::filesystem;

PairRecordStore::PairRecordStore(std::string folder) : m_folder(std::move(folder))
{
    std::error_code ec;
    fs::create_directories(m_folder, ec);
}

bool PairRecordStore::isSafeId(const std::string& udid)
{
    if (udid.empty() || udid.size() > 64)
        return false;
    for (char c : udid)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-')
            return false;
    return true;
}

std::optional<std::string> PairRecordStore::read(const std::string& udid) const
{
    if (!isSafeId(udid))
        return std::nullopt;
    std::ifstream in(m_folder + "/" + udid + ".plist", std::ios::binary);
    if (!in)
        return std::nullopt;
    std::ostringstream ss;
    ss << in.rdbuf();
    if (ss.str().empty())
        return std::nullopt;
    return ss.str();
}

bool PairRecordStore::save(const std::string& udid, const std::string& recordBytes)
{
    if (!isSafeId(udid))
        return false;
    // Stored as XML, the way usbmuxd writes them, whatever form arrived.
    Plist rec = Plist::parse(recordBytes);
    if (rec.type() != PLIST_DICT)
        return false;
    std::lock_guard<std::mutex> lock(m_mutex);
    return rec.writeFile(m_folder + "/" + udid + ".plist");
}

bool PairRecordStore::remove(const std::string& udid)
{
    if (!isSafeId(udid))
        return false;
    std::error_code ec;
    fs::remove(m_folder + "/" + udid + ".plist", ec);
    return !ec;
}

std::string PairRecordStore::systemBuid()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const std::string path = m_folder + "/SystemConfiguration.plist";
    Plist conf = Plist::readFile(path);
    if (auto buid = conf.string("SystemBUID"))
        return *buid;
    std::random_device rd;
    char buf[40];
    std::snprintf(buf, sizeof buf, "%08X-%04X-%04X-%04X-%04X%08X", rd(), rd() & 0xffff, (rd() & 0x0fff) | 0x4000,
                  (rd() & 0x3fff) | 0x8000, rd() & 0xffff, rd());
    conf = Plist::dict();
    conf.set("SystemBUID", std::string(buf));
    conf.writeFile(path);
    return buf;
}
