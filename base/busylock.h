// The process-wide busy lock shared by the commands that walk many messages
// on the main thread (export, print, message search): a second such command
// while one runs does nothing. It is taken without waiting.
#pragma once

class BusyLock {
public:
    // Tries to take the lock; owns() tells whether it succeeded.
    BusyLock();
    ~BusyLock();
    BusyLock(const BusyLock&) = delete;
    BusyLock& operator=(const BusyLock&) = delete;

    bool owns() const { return m_owns; }
    // True while any BusyLock holds the lock.
    static bool isHeld();

private:
    bool m_owns;
};
