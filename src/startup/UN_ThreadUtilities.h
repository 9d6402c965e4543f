// The log's worker pool: an unbounded FIFO of untyped items, a thread that runs one
// callback, and a fixed set of such threads that hand each queued item to one handler.
#pragma once

#include "base/SlimLock.h"
#include "base/WinHandle.h"

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

class EThreadStackFinalized : public std::runtime_error
{
public:
    EThreadStackFinalized() : std::runtime_error("Stack is finalized") {}
};

namespace UN_ThreadUtilities
{

// Any number of threads may Push and Pop at once. The queue owns neither the items
// nor what they point to.
//
// A slim lock and a condition variable, not a kernel object: every call of Log()
// pushes here, and a push that needs a kernel call (PostQueuedCompletionStatus, a
// round trip to the server under Wine) costs the caller tens of microseconds.
class TThreadQueue
{
public:
    TThreadQueue() = default;
    TThreadQueue(const TThreadQueue&) = delete;
    TThreadQueue& operator=(const TThreadQueue&) = delete;

    // Never blocks. Raises EThreadStackFinalized once finalized; the item then
    // stays with the caller.
    void Push(void* Data);

    // Blocks while the queue is empty and open. False, with Data null, once the
    // queue is finalized; items still queued then are dropped.
    bool Pop(void*& Data);

    // Never blocks: false, with Data null, when nothing is queued or the queue is
    // finalized.
    bool TryPop(void*& Data);

    // Marks the queue finalized and wakes every waiting thread; may run any number
    // of times.
    void Finalize();

    [[nodiscard]] bool Finalized() const noexcept { return FFinalized.load(); }

private:
    TSlimLock FLock;
    TSlimCondition FNotEmpty;
    std::deque<void*> FItems;
    std::atomic<bool> FFinalized{false};
};

class TSimpleThread;
using TThreadExecuteEvent = std::function<void(TSimpleThread& Thread)>;

// Runs ExecuteEvent once on a thread of its own; the destructor waits for it.
// (The pool is its only user, and its workers never free themselves.)
class TSimpleThread
{
public:
    TSimpleThread(bool CreateSuspended, TThreadExecuteEvent ExecuteEvent);
    TSimpleThread(const TSimpleThread&) = delete;
    TSimpleThread& operator=(const TSimpleThread&) = delete;
    ~TSimpleThread();

    // Starts a thread created suspended.
    void Start();
    // Asks the body to stop; does not stop it.
    void Terminate() noexcept { FTerminated = true; }
    [[nodiscard]] bool Terminated() const noexcept { return FTerminated.load(); }
    void WaitFor();

private:
    TThreadExecuteEvent FExecuteEvent;
    std::atomic<bool> FTerminated{false};
    std::thread FThread;
};

using TThreadPoolEvent = std::function<void(void* Data, TSimpleThread& AThread)>;

// Items are handed out in the order added; with one worker they are also handled
// in that order. An exception from the handler is dropped and the worker goes on.
class TThreadPool
{
public:
    TThreadPool(TThreadPoolEvent HandlePoolEvent, int MaxThreads);
    TThreadPool(const TThreadPool&) = delete;
    TThreadPool& operator=(const TThreadPool&) = delete;
    // Finishes the items being handled; items still queued are not handed out.
    // Must not run on one of the pool's own workers.
    ~TThreadPool();

    // Ownership of Data passes to the handler that will receive it.
    void Add(void* Data);

    // For a handler that takes what else is queued along with its item, without
    // waiting: false when nothing is queued or the pool is stopping. The caller
    // owns what it takes.
    bool TakeQueued(void*& Data) { return FThreadQueue.TryPop(Data); }

private:
    void ThreadExecute(TSimpleThread& AThread);

    TThreadPoolEvent FHandlePoolEvent;
    TThreadQueue FThreadQueue;
    std::vector<std::unique_ptr<TSimpleThread>> FThreads;
};

} // namespace UN_ThreadUtilities
