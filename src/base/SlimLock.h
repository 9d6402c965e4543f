// The program's locks. They live in user memory only (SRWLOCK, CONDITION_VARIABLE):
// the runtime's std::mutex creates an event the first time two threads meet on it
// and keeps it for the mutex's life, so a long-lived std::mutex costs the process
// a kernel object, and its handle count moves with the timing of the load.
#pragma once

#include <windows.h>

#include <mutex>

// Usable with std::lock_guard, std::unique_lock and std::shared_lock. Not
// recursive; whoever took it releases it.
class TSlimLock
{
public:
    TSlimLock() noexcept = default;
    TSlimLock(const TSlimLock&) = delete;
    TSlimLock& operator=(const TSlimLock&) = delete;

    void lock() noexcept { AcquireSRWLockExclusive(&FLock); }
    [[nodiscard]] bool try_lock() noexcept { return TryAcquireSRWLockExclusive(&FLock) != 0; }
    void unlock() noexcept { ReleaseSRWLockExclusive(&FLock); }

    void lock_shared() noexcept { AcquireSRWLockShared(&FLock); }
    [[nodiscard]] bool try_lock_shared() noexcept { return TryAcquireSRWLockShared(&FLock) != 0; }
    void unlock_shared() noexcept { ReleaseSRWLockShared(&FLock); }

    [[nodiscard]] SRWLOCK* native_handle() noexcept { return &FLock; }

private:
    SRWLOCK FLock = SRWLOCK_INIT;
};

// A condition to wait for under a TSlimLock held exclusively.
class TSlimCondition
{
public:
    TSlimCondition() noexcept = default;
    TSlimCondition(const TSlimCondition&) = delete;
    TSlimCondition& operator=(const TSlimCondition&) = delete;

    // Returns once Ready() holds; Lock is held whenever Ready runs.
    template <class TPredicate> void Wait(std::unique_lock<TSlimLock>& Lock, TPredicate Ready)
    {
        while (!Ready())
            SleepConditionVariableSRW(&FCondition, Lock.mutex()->native_handle(), INFINITE, 0);
    }

    // Returns once Ready() holds, true, or once TimeoutMs have passed without it,
    // false (INFINITE: no time limit); Lock is held whenever Ready runs.
    template <class TPredicate> bool WaitFor(std::unique_lock<TSlimLock>& Lock, DWORD TimeoutMs, TPredicate Ready)
    {
        if (TimeoutMs == INFINITE)
        {
            Wait(Lock, Ready);
            return true;
        }
        const ULONGLONG deadline = GetTickCount64() + TimeoutMs;
        while (!Ready())
        {
            const ULONGLONG now = GetTickCount64();
            if (now >= deadline)
                return false;
            SleepConditionVariableSRW(&FCondition, Lock.mutex()->native_handle(), static_cast<DWORD>(deadline - now),
                                      0);
        }
        return true;
    }

    void NotifyOne() noexcept { WakeConditionVariable(&FCondition); }
    void NotifyAll() noexcept { WakeAllConditionVariable(&FCondition); }

private:
    CONDITION_VARIABLE FCondition = CONDITION_VARIABLE_INIT;
};
