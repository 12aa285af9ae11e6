// The phone's end of the device-link protocol that mobilebackup2 runs on:
// binary property-list arrays with a 4-byte big-endian length, the host's
// DLMessageStatusResponse answers, and the raw file streams of
// DLMessageUploadFiles (phone to host) and DLMessageDownloadFiles (host to
// phone). Every send counts the file bytes it carried.
#pragma once

#include "plist.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

class Connection;

class DeviceLink {
public:
    struct Status {
        int64_t code = 0;
        std::string description;
        Plist payload;
    };
    struct Upload {
        std::string devicePath;  // the file's path on the phone
        std::string hostPath;    // where the host keeps it, relative to its backup folder
        std::string data;
    };
    // Arms a connection drop inside the transfer (after some of a file) or a
    // remote error block in place of a file's first block.
    struct Sabotage {
        bool dropInsideFile = false;
        bool stallInsideFile = false;
        std::optional<std::string> remoteError;
    };

    explicit DeviceLink(Connection& conn) : m_conn(conn) {}

    // Waits (at most a minute) until the connection is dropped, as a phone
    // that stopped in the middle of a file; always false.
    bool stallUntilDropped();

    bool versionExchange();
    bool send(const Plist& message);
    bool receive(Plist& message);
    // Sends a request and reads the host's status answer.
    bool request(const Plist& message, Status& status);
    bool upload(const std::vector<Upload>& files, double progress, Status& status);
    bool upload(const std::vector<Upload>& files, double progress, Status& status, Sabotage sabotage);
    // Downloads paths; a file the host could not send maps to nullopt.
    bool download(const std::vector<std::string>& paths, double progress,
                  std::map<std::string, std::optional<std::string>>& files, Status& status, bool dropInsideFile = false,
                  bool stallInsideFile = false);
    bool processMessage(int64_t errorCode, const std::string& description);

    uint64_t bytesSent() const { return m_bytesSent; }
    Connection& connection() { return m_conn; }

    static Plist message(std::initializer_list<plist_t> items);

private:
    bool readStatus(Status& status);
    Connection& m_conn;
    uint64_t m_bytesSent = 0;
};
