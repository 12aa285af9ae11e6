// DeviceConnection: the libimobiledevice device handle and a lockdown
// client for one UDID, opened for one task and closed at its end (the
// lockdown client first). pairDevice() makes sure the phone trusts this
// computer; readLockdownValue() reads the phone's identity.
#pragma once

#include "chatstore/plistcftype.h"

#include <QString>
#include <QStringList>

#include <libimobiledevice/libimobiledevice.h>
#include <libimobiledevice/lockdown.h>

class DeviceConnection {
public:
    DeviceConnection() = default;
    ~DeviceConnection() { close(); }
    DeviceConnection(const DeviceConnection&) = delete;
    DeviceConnection& operator=(const DeviceConnection&) = delete;

    // The device over USB multiplexing only; false when none has the UDID.
    bool openDevice(const QString& udid);
    // A lockdown client with or without the pairing handshake; returns
    // lockdown's error code (0 = success).
    int openLockdown(bool handshake);
    void close();

    idevice_t device() const { return m_device; }
    lockdownd_client_t lockdown() const { return m_lockdown; }

    static constexpr const char* kLabel = "QUILLOMETRY";

private:
    idevice_t m_device = nullptr;
    lockdownd_client_t m_lockdown = nullptr;
};

struct PairingResult {
    QString udid;
    QString error;  // empty on success
    bool ok() const { return error.isEmpty(); }
};

// True when the phone accepts this computer. On failure the pairing record
// of the UDID is deleted through the daemon (so the next attempt pairs
// afresh and the phone asks again) and `error` holds the user text.
bool pairDevice(const QString& udid, QString* error = nullptr);

// The lockdown value of domain/key (empty = null, so both empty give the
// whole dictionary); a none value on any failure.
PlistCFType readLockdownValue(const QString& udid, const QString& domain, const QString& key);

// The text of the box that asks to trust the computer and of the failure.
QString pairingHelpText();

// The phone's DeviceName as lockdown gives it before any pairing (it is a
// public value); empty when the phone does not answer.
QString readPublicDeviceName(const QString& udid);

// The UDIDs of the phones the daemon reports over USB, in its order; false
// when no daemon answers.
bool listConnectedUdids(QStringList* udids);
