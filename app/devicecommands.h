// DeviceCommands: the window's side of connected iPhones. It owns the device
// watcher, pairs with each phone that arrives (asking the user to tap
// "Trust"), reads its identity, shows it as a node under Devices and removes
// the node when the phone leaves; it also shows the detection tips when no
// phone came and restarts the USB daemon from their link.
//
// The watcher is off unless the settings turn it on: the program does, every
// test and tour keeps it off unless it brings its own simulated phone, so
// nothing ever starts or talks to the system's daemon by accident.
#pragma once

#include "device/iosdeviceinfo.h"
#include "device/mobiledevicesubscribe.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

class MainWindow;
struct _IOSDeviceItemNode;

struct DeviceWatchSettings {
    bool watch = false;
    // The daemon to start when none answers (empty: never start one).
    QStringList daemonCommand = MobiledeviceSubscribe::defaultDaemonCommand();
    // How long after start the tips appear when no phone came.
    int tipsDelayMs = 10000;
};

class DeviceCommands : public QObject {
    Q_OBJECT
public:
    DeviceCommands(MainWindow* window, DeviceWatchSettings settings);
    ~DeviceCommands() override;

    // Connects and starts the watcher and arms the tips (nothing when the
    // watcher is off).
    void start();

    MobiledeviceSubscribe* subscriber() const { return m_subscriber.get(); }
    // The node of a connected phone (never a saved copy), or null.
    _IOSDeviceItemNode* nodeOf(const QString& udid) const;

    // The whole load of a phone's WhatsApp chats into its cache folder, with
    // its progress dialogs, password prompt and boxes; true when the cache
    // holds a usable chat database (then loadedAppFolder() names it).
    bool loadFromDevice(const PIOSDeviceInfo& device);
    const QString& loadedAppFolder() const { return m_loadedAppFolder; }

    static QString trustText();
    static QString detectedText(const QString& name);
    static QString tipsText();

public slots:
    void iosDeviceConnected(const QString& udid);
    void iosDeviceDisconnected(const QString& udid);
    void androidUsbTips();
    void androidUsbTipsHref(const QString& link);

private:
    MainWindow* m_window;
    DeviceWatchSettings m_settings;
    std::unique_ptr<MobiledeviceSubscribe> m_subscriber;
    // Raised by every arrival and removal of a UDID: an arrival that waited
    // in a dialog goes on only while its number is still the latest.
    QHash<QString, quint64> m_generation;
    QString m_loadedAppFolder;
};
