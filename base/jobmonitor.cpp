#include "base/jobmonitor.h"

#include <vector>

JobMonitor::~JobMonitor() = default;

void JobMonitor::requestCancel()
{
    // The flag goes up under the lock, so a listener being added right now
    // either is in the map below or sees the flag and calls itself.
    std::lock_guard<std::recursive_mutex> lock(m_listenersMutex);
    if (m_cancelled.exchange(true, std::memory_order_acq_rel))
        return;
    // Copied first: a listener may remove itself (or others) while it runs.
    std::vector<int> ids;
    for (auto& [id, f] : m_listeners)
        ids.push_back(id);
    for (int id : ids) {
        auto it = m_listeners.find(id);
        if (it == m_listeners.end())
            continue;
        std::function<void()> f = it->second;
        f();
    }
}

int JobMonitor::addCancelListener(std::function<void()> listener)
{
    std::lock_guard<std::recursive_mutex> lock(m_listenersMutex);
    int id = m_nextListener++;
    if (cancelled())
        listener();
    m_listeners.emplace(id, std::move(listener));
    return id;
}

void JobMonitor::removeCancelListener(int id)
{
    std::lock_guard<std::recursive_mutex> lock(m_listenersMutex);
    m_listeners.erase(id);
}

int JobMonitor::percentOf(qint64 index, qint64 count)
{
    if (count <= 0)
        return 100;
    return static_cast<int>(static_cast<double>(index + 1) / static_cast<double>(count) * 100.0);
}
