#include "base/jobmonitor.h"

#include <vector>

JobMonitor::~JobMonitor() = default;

void JobMonitor::requestCancel()
{
    setCancelledFlag();
    std::vector<std::function<void()>> listeners;
    {
        std::lock_guard<std::mutex> lock(m_listenersMutex);
        for (auto& [id, f] : m_listeners)
            listeners.push_back(f);
    }
    for (auto& f : listeners)
        f();
}

int JobMonitor::addCancelListener(std::function<void()> listener)
{
    std::lock_guard<std::mutex> lock(m_listenersMutex);
    int id = m_nextListener++;
    m_listeners.emplace(id, std::move(listener));
    return id;
}

void JobMonitor::removeCancelListener(int id)
{
    std::lock_guard<std::mutex> lock(m_listenersMutex);
    m_listeners.erase(id);
}

int JobMonitor::percentOf(qint64 index, qint64 count)
{
    if (count <= 0)
        return 100;
    return static_cast<int>(static_cast<double>(index + 1) / static_cast<double>(count) * 100.0);
}
