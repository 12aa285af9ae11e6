// MobiledeviceSubscribe: tells the program when an iPhone is plugged in
// (newDevice) or pulled out (kickDevice), from libimobiledevice's event
// thread, and keeps the count of connected phones.
//
// It also looks after the USB multiplexing daemon: when none answers at
// start it launches one as this program's own child (a failed start is only
// logged: on Debian udev starts the system's daemon when a phone is plugged
// in), and it only ever stops that child, never a daemon someone else
// started. An empty daemon command never starts anything (the command line).
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>

class QProcess;

class MobiledeviceSubscribe : public QObject {
    Q_OBJECT
public:
    explicit MobiledeviceSubscribe(QStringList daemonCommand = defaultDaemonCommand(), QObject* parent = nullptr);
    ~MobiledeviceSubscribe() override;

    // Launches a daemon when none answers, sets the count to 0 and
    // subscribes; true when the subscription was made.
    bool start();
    // Unsubscribes and stops the daemon this object started, if any.
    void stop();
    // Unsubscribe, stop the own daemon, start one, subscribe again; true
    // when a daemon answers afterwards.
    bool restartUsbmuxd();

    int count() const { return m_count.load(); }
    bool subscribed() const { return m_subscribed; }
    // The process id of the daemon this object started, 0 when none runs.
    qint64 ownDaemonPid() const;

    // "/usr/sbin/usbmuxd --foreground" (with "--user usbmux" as root).
    static QStringList defaultDaemonCommand();
    // True when a daemon answers a device-list request where libusbmuxd
    // connects (USBMUXD_SOCKET_ADDRESS, else /var/run/usbmuxd).
    static bool daemonAnswers();

signals:
    void newDevice(QString udid);
    void kickDevice(QString udid);

private:
    static void eventCallback(const void* event, void* self);
    bool subscribe();
    void unsubscribe();
    bool launchDaemon();
    void stopDaemon();

    QStringList m_daemonCommand;
    std::unique_ptr<QProcess> m_daemon;
    std::atomic<int> m_count{0};
    bool m_subscribed = false;
};
