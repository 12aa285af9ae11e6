#include "simulator.h"

#include "log.h"

#include <chrono>
#include <thread>

Simulator::Simulator(const std::string& pairRecordFolder) : m_pairRecords(pairRecordFolder) {}

void Simulator::addPhone(std::unique_ptr<Phone> phone)
{
    Phone* p = phone.get();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_phones.push_back(std::move(phone));
    }
    attach(*p);
}

std::vector<Phone*> Simulator::phones() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<Phone*> out;
    for (const auto& p : m_phones)
        out.push_back(p.get());
    return out;
}

Phone* Simulator::findByUdid(const std::string& udid) const
{
    for (Phone* p : phones())
        if (p->udid() == udid || usbSerial(p->udid()) == udid)
            return p;
    return nullptr;
}

Phone* Simulator::findAttached(uint32_t deviceId) const
{
    for (Phone* p : phones())
        if (p->attached() && p->deviceId() == deviceId)
            return p;
    return nullptr;
}

void Simulator::addListener(const std::shared_ptr<MuxListener>& l)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_listeners.push_back(l);
}

void Simulator::removeListener(const MuxListener* l)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::erase_if(m_listeners, [&](const auto& x) { return x.get() == l; });
}

void Simulator::broadcast(const Plist& event)
{
    std::vector<std::shared_ptr<MuxListener>> ls;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ls = m_listeners;
    }
    for (const auto& l : ls)
        l->sendEvent(event);
}

std::string Simulator::usbSerial(const std::string& udid)
{
    if (udid.size() == 25 && udid[8] == '-')
        return udid.substr(0, 8) + udid.substr(9);
    return udid;
}

Plist Simulator::attachedMessage(const Phone& phone)
{
    Plist props = Plist::dict();
    props.setUint("ConnectionSpeed", 480000000);
    props.set("ConnectionType", "USB");
    props.setUint("DeviceID", phone.deviceId());
    props.setUint("LocationID", 0x14100000 + phone.deviceId());
    props.setUint("ProductID", 0x12a8);
    props.set("SerialNumber", usbSerial(phone.udid()));
    Plist msg = Plist::dict();
    msg.set("MessageType", "Attached");
    msg.setUint("DeviceID", phone.deviceId());
    msg.set("Properties", props.release());
    return msg;
}

void Simulator::attach(Phone& phone)
{
    if (phone.attached())
        return;
    phone.setDeviceId(m_nextDeviceId++);
    phone.setAttached(true);
    Log::line("attached ", phone.udid(), " as device ", phone.deviceId());
    broadcast(attachedMessage(phone));
}

void Simulator::detach(Phone& phone)
{
    if (!phone.attached())
        return;
    phone.setAttached(false);
    phone.dropConnections();
    Plist msg = Plist::dict();
    msg.set("MessageType", "Detached");
    msg.setUint("DeviceID", phone.deviceId());
    Log::line("detached ", phone.udid());
    broadcast(msg);
}

void Simulator::reboot(Phone& phone, int delayMs)
{
    detach(phone);
    phone.setRestorePendingReboot(false);
    std::thread([this, &phone, delayMs] {
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        attach(phone);
    }).detach();
}

void Simulator::notifyPaired(Phone& phone)
{
    Plist msg = Plist::dict();
    msg.set("MessageType", "Paired");
    msg.setUint("DeviceID", phone.deviceId());
    broadcast(msg);
}
