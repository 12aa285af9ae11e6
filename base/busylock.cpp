#include "base/busylock.h"

#include <atomic>

namespace {
std::atomic<bool> g_busy{false};
}

BusyLock::BusyLock()
{
    bool expected = false;
    m_owns = g_busy.compare_exchange_strong(expected, true);
}

BusyLock::~BusyLock()
{
    if (m_owns)
        g_busy.store(false);
}

bool BusyLock::isHeld()
{
    return g_busy.load();
}
