// IOSDeviceInfo: the record of one phone as the rest of the program knows
// it: its name and UDID, a few lockdown values, and the backup password the
// user typed for it. Shared by the tree node, the device jobs and dialogs;
// a saved device copy on disk is described by the same record, with its
// folder as UDID.
#pragma once

#include <QString>

#include <memory>

struct IOSDeviceInfo {
    QString name;            // DeviceName, shown in the tree and in messages
    QString udid;            // key by which phones are matched
    QString countryCode;     // MobileSubscriberCountryCode
    QString productVersion;  // ProductVersion (iOS version)
    QString productType;     // ProductType
    QString backupPassword;  // empty until the user typed it for an encrypted backup
};

using PIOSDeviceInfo = std::shared_ptr<IOSDeviceInfo>;

// A record for a device copy saved in the folder `folder`: its name is the
// folder's name, its UDID the folder's absolute path, every other field empty.
PIOSDeviceInfo savedDeviceCopyInfo(const QString& folder);

// A record for a connected phone: the UDID and the lockdown values read
// from its whole lockdown dictionary (missing values stay empty).
PIOSDeviceInfo connectedDeviceInfo(const QString& udid);

// True for a UDID that can name a folder: letters, digits and "-" only,
// not empty and not too long. Anything else a daemon reports is ignored.
bool isPlainUdid(const QString& udid);
