// A counting semaphore and the bounded first-in first-out queue that carries owned
// objects from producer threads to consumer threads. The request server hands each
// accepted pipe connection from its listener to its worker through one such queue.
// (UN_ThreadUtilities has an unbounded queue of the same class name; the namespace
// tells them apart.)
#pragma once

#include "base/SlimLock.h"
#include "base/WinHandle.h"

#include <windows.h>

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

namespace UThreadQueue
{

enum class TWaitResult
{
    wrSignaled,
    wrTimeout,
    wrAbandoned,
    wrError
};

// An unnamed or named Win32 semaphore. Note the argument order: the maximum comes
// before the initial count, the reverse of CreateSemaphoreW.
class TSemaphore
{
public:
    TSemaphore(LPSECURITY_ATTRIBUTES AEventAttributes, LONG AMaximumCount, LONG AInitialCount,
               const std::wstring& AName = {});

    [[nodiscard]] TWaitResult WaitFor(DWORD ATimeout);
    // Waits without a time limit; raises when the wait ends other than signalled.
    void Acquire();
    // Raises when the count would pass its maximum.
    void Release();

    [[nodiscard]] HANDLE Handle() const noexcept { return FHandle.Get(); }

private:
    TUniqueHandle FHandle;
};

// Bounded queue of objects it owns while they are queued. Push waits while the queue
// is full, Pop while it is empty; Terminate lets a waiting consumer go.
//
// One producer and one consumer may be inside at the same time: producers are
// serialised by the push section, consumers by the pop section, and the list has a
// lock of its own that is held for one list operation only. Locks are always taken
// section first, list second, so the two sides never wait on each other's locks.
template <typename T>
class TThreadQueue
{
public:
    explicit TThreadQueue(LONG AMaxSize)
        : FMaxSize(AMaxSize), FPushSemaphore(nullptr, AMaxSize, 0), FPopSemaphore(nullptr, AMaxSize, AMaxSize)
    {
    }
    TThreadQueue(const TThreadQueue&) = delete;
    TThreadQueue& operator=(const TThreadQueue&) = delete;
    // Objects still queued are destroyed with the queue. Producers and consumers
    // must have stopped using it.
    ~TThreadQueue() = default;

    // Waits for a free place. After Terminate the object is destroyed at once.
    void Push(std::unique_ptr<T> AObject)
    {
        std::lock_guard pushSection(FPushCriticalSection);
        if (Terminated())
            return;
        FPopSemaphore.Acquire();
        ++FPushCount;
        {
            std::lock_guard list(FCritical);
            FQueue.push_back(std::move(AObject));
        }
        FPushSemaphore.Release();
    }

    // The oldest object; waits while the queue is empty and running. Null once the
    // queue is terminated and drained, then without waiting.
    std::unique_ptr<T> Pop()
    {
        std::lock_guard popSection(FPopCriticalSection);
        if (TerminatedAndEmpty())
            return nullptr;
        FPushSemaphore.Acquire();
        if (TerminatedAndEmpty())
            return nullptr;
        ++FPopCount;
        std::unique_ptr<T> result;
        {
            std::lock_guard list(FCritical);
            result = std::move(FQueue.front());
            FQueue.pop_front();
        }
        FPopSemaphore.Release();
        return result;
    }

    // Taking the push section first lets a producer that waits for a free place
    // finish before the queue closes. One release wakes the consumer waiting on an
    // empty queue; any consumer after it finds the queue terminated and empty
    // before it waits. A second call changes nothing.
    void Terminate()
    {
        std::lock_guard pushSection(FPushCriticalSection);
        if (Terminated())
            return;
        ++FTerminated;
        if (Count() == 0)
            FPushSemaphore.Release();
    }

    // Destroys what is left. Waits like Pop once empty unless terminated, so it is
    // meant for a terminated queue.
    void Clear()
    {
        while (Pop() != nullptr)
        {
        }
    }

    [[nodiscard]] int Count() const
    {
        std::lock_guard list(FCritical);
        return static_cast<int>(FQueue.size());
    }
    [[nodiscard]] long PushCount() const noexcept { return FPushCount.load(); }
    [[nodiscard]] long PopCount() const noexcept { return FPopCount.load(); }
    [[nodiscard]] bool Terminated() const noexcept { return FTerminated.load() > 0; }
    [[nodiscard]] LONG MaxSize() const noexcept { return FMaxSize; }
    // A label for the owner; the queue does not use it. Set it before other threads
    // use the queue.
    [[nodiscard]] const std::wstring& Name() const noexcept { return FName; }
    void SetName(std::wstring Value) { FName = std::move(Value); }

private:
    [[nodiscard]] bool TerminatedAndEmpty() const { return Terminated() && Count() <= 0; }

    const LONG FMaxSize;
    std::deque<std::unique_ptr<T>> FQueue;
    // Counts objects ready to be taken (and the one release made by Terminate).
    TSemaphore FPushSemaphore;
    // Counts free places.
    TSemaphore FPopSemaphore;
    TSlimLock FPushCriticalSection;
    TSlimLock FPopCriticalSection;
    std::atomic<long> FTerminated{0};
    std::wstring FName;
    std::atomic<long> FPushCount{0};
    std::atomic<long> FPopCount{0};
    mutable TSlimLock FCritical;
};

} // namespace UThreadQueue
