// Backup2Transport: what backup2tool needs from the phone's mobilebackup2
// service, as a small interface: open the device and the service, exchange
// versions, send the request, then plist messages, status responses and raw
// bytes. MobileBackup2Transport carries it over libimobiledevice; tests and
// the fuzz target play a scripted phone through the same interface.
//
// Results are libimobiledevice's error codes (0 = success). receiveRaw
// behaves like mobilebackup2_receive_raw: it returns when `length` bytes
// came or a read delivered nothing (after the service's wait, or at once
// on a closed connection), with success and the count in `received`.
#pragma once

#include "chatstore/plistcftype.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <memory>

class Backup2Transport {
public:
    virtual ~Backup2Transport();

    // idevice_new_with_options (USB multiplexing only).
    virtual int openDevice(const QString& udid) = 0;
    // lockdownd_client_new_with_handshake with the label.
    virtual int openLockdown(const char* label) = 0;
    // Starts com.apple.mobilebackup2 with the escrow bag and frees the
    // lockdown client; false on an error, a missing descriptor or port 0.
    virtual bool startService() = 0;
    // mobilebackup2_client_new over the descriptor, which is freed after.
    virtual int newClient() = 0;
    virtual int versionExchange(const QList<double>& versions, double* remote) = 0;
    virtual int sendRequest(const char* request, const QByteArray& target, const QByteArray& source,
                            const PlistCFType& options) = 0;
    // The message (a plist array) and its device-link name.
    virtual int receiveMessage(PlistCFType* message, QString* name) = 0;
    // An empty description or a none value is sent as the empty parameter.
    virtual int sendStatusResponse(int code, const QString& description, const PlistCFType& value) = 0;
    virtual int sendRaw(const char* data, quint32 length, quint32* sent) = 0;
    virtual int receiveRaw(char* data, quint32 length, quint32* received) = 0;
    // Releases every handle still open: lockdown client, mobilebackup2
    // client, device. Safe to call more than once.
    virtual void close() = 0;
};

using PBackup2Transport = std::unique_ptr<Backup2Transport>;

// Makes a transport over libimobiledevice; the default for backup2tool.
PBackup2Transport makeMobileBackup2Transport();
