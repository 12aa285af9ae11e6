// One mobilebackup2 backup driven from the phone's side. The order is the
// phone's: the host's Status.plist (and, when it holds a finished backup,
// its Manifest.plist and Manifest.db), listings of the device folder and
// its two-character sub-folders, free space, the Snapshot folder, uploads of
// every file that changed, Manifest.db, Manifest.plist, moves file by file
// out of Snapshot, removal of files gone from the phone and of Snapshot,
// Status.plist "finished", then the final ProcessMessage.
//
// A file is sent again unless the previous manifest has it with the same
// size and modification time and the host's listing shows it with the
// size it was stored with; so a host that reports files it dropped (with
// their recorded sizes) is not sent them again.
#pragma once

#include "plist.h"

#include <string>

class DeviceLink;
class Phone;
class Simulator;

class BackupSession {
public:
    BackupSession(Simulator& sim, Phone& phone, DeviceLink& link) : m_sim(sim), m_phone(phone), m_link(link) {}
    // false when the connection broke; the session has then ended.
    bool run(const Plist& request);

private:
    Simulator& m_sim;
    Phone& m_phone;
    DeviceLink& m_link;
};
