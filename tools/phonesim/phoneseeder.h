// Builds a phone folder. With a chat-database folder (ChatStorage.sqlite,
// an optional Contacts(V2).sqlite and the media folder Library/) WhatsApp is
// laid out the way a real phone keeps it: the group container
// group.net.whatsapp.WhatsApp.shared with ChatStorage.sqlite,
// ContactsV2.sqlite, Message/Media/..., Media/Profile/... and its
// preferences with SPClientVersion; the app container net.whatsapp.WhatsApp
// with its preferences (and the media under Library/ for WhatsApp below
// 2.18.40, or everything in Documents/ and Library/ for the old layout of
// iOS below 8.3). Other apps and system files are added so that a
// WhatsApp-only backup has something to leave out. WhatsApp Business
// (net.whatsapp.WhatsAppSMB, group.net.whatsapp.WhatsAppSMB.shared) is laid
// out the same way, instead of WhatsApp or beside it.
#pragma once

#include <cstdint>
#include <string>

struct SeedOptions {
    std::string chatFolder;        // empty: a phone without WhatsApp
    std::string app = "whatsapp";  // which apps get the chats: "whatsapp", "business" (WhatsApp Business) or "both"
    std::string phoneFolder;
    std::string name = "Simulated iPhone";
    std::string udid;              // empty: a new one
    std::string productType = "iPhone12,1";
    std::string productVersion = "14.8";
    std::string buildVersion = "18H17";
    std::string countryCode = "262";
    std::string password;          // non-empty: backups are encrypted
    uint64_t rounds = 10000000;    // DPIC of the backup keybag
    std::string spClientVersion = "2.21.100";
    bool oldLayout = false;        // forced for ProductVersion below 8.3
    bool cloudBackup = false;
    bool findMyIphone = false;
    std::string pairingMode = "trust";
};

class PhoneSeeder {
public:
    static bool seed(const SeedOptions& options, std::string& error);
    static int compareVersions(const std::string& a, const std::string& b);
};
