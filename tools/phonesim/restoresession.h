// One mobilebackup2 restore driven from the phone's side: Status.plist,
// Manifest.plist, Manifest.db (whatever the host serves under that name)
// and, optionally, Info.plist; then every file row of the manifest that
// this restore keeps. Folder rows are created, 0-byte files accepted,
// encrypted backups unlocked with the Password option, system domains
// skipped unless RestoreSystemFiles, containers the backup does not name
// left alone unless RemoveItemsNotRestored. The files are staged first and
// applied to the phone only when everything arrived.
#pragma once

#include "plist.h"

class DeviceLink;
class Phone;
class Simulator;

class RestoreSession {
public:
    RestoreSession(Simulator& sim, Phone& phone, DeviceLink& link) : m_sim(sim), m_phone(phone), m_link(link) {}
    bool run(const Plist& request);

private:
    Simulator& m_sim;
    Phone& m_phone;
    DeviceLink& m_link;
};
