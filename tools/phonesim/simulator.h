// The set of simulated phones behind one usbmux socket: which phones are
// attached under which DeviceID, the listeners that get Attached, Detached
// and Paired events, and the operations of the control channel (attach,
// detach, reboot, trust, settings, faults).
#pragma once

#include "pairrecordstore.h"
#include "phone.h"
#include "plist.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class MuxListener {
public:
    virtual ~MuxListener() = default;
    virtual bool sendEvent(const Plist& event) = 0;
};

class Simulator {
public:
    explicit Simulator(const std::string& pairRecordFolder);

    void addPhone(std::unique_ptr<Phone> phone);
    std::vector<Phone*> phones() const;
    Phone* findByUdid(const std::string& udid) const;
    Phone* findAttached(uint32_t deviceId) const;
    PairRecordStore& pairRecords() { return m_pairRecords; }

    void addListener(const std::shared_ptr<MuxListener>& l);
    void removeListener(const MuxListener* l);

    void attach(Phone& phone);
    void detach(Phone& phone);
    // Detached now, Attached again after delayMs; what a reboot looks like on USB.
    void reboot(Phone& phone, int delayMs);
    void notifyPaired(Phone& phone);

    static Plist attachedMessage(const Phone& phone);
    // The serial number usbmuxd reports: a dashed 25-character UDID loses its dash.
    static std::string usbSerial(const std::string& udid);

private:
    void broadcast(const Plist& event);

    PairRecordStore m_pairRecords;
    mutable std::mutex m_mutex;
    std::vector<std::unique_ptr<Phone>> m_phones;
    std::vector<std::shared_ptr<MuxListener>> m_listeners;
    std::atomic<uint32_t> m_nextDeviceId{1};
};
