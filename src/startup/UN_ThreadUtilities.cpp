#include "startup/UN_ThreadUtilities.h"

namespace UN_ThreadUtilities
{

void TThreadQueue::Push(void* Data)
{
    {
        std::lock_guard lock(FLock);
        if (FFinalized)
            throw EThreadStackFinalized();
        FItems.push_back(Data);
    }
    FNotEmpty.NotifyOne();
}

bool TThreadQueue::Pop(void*& Data)
{
    Data = nullptr;
    std::unique_lock lock(FLock);
    FNotEmpty.Wait(lock, [this] { return !FItems.empty() || FFinalized; });
    if (FFinalized)
        return false;
    Data = FItems.front();
    FItems.pop_front();
    return true;
}

bool TThreadQueue::TryPop(void*& Data)
{
    Data = nullptr;
    std::lock_guard lock(FLock);
    if (FFinalized || FItems.empty())
        return false;
    Data = FItems.front();
    FItems.pop_front();
    return true;
}

void TThreadQueue::Finalize()
{
    {
        std::lock_guard lock(FLock);
        FFinalized = true;
    }
    FNotEmpty.NotifyAll();
}

TSimpleThread::TSimpleThread(bool CreateSuspended, TThreadExecuteEvent ExecuteEvent)
    : FExecuteEvent(std::move(ExecuteEvent))
{
    if (!CreateSuspended)
        Start();
}

TSimpleThread::~TSimpleThread()
{
    if (FThread.joinable())
        FThread.join();
}

void TSimpleThread::Start()
{
    FThread = std::thread([this] {
        if (FExecuteEvent)
            FExecuteEvent(*this);
    });
}

void TSimpleThread::WaitFor()
{
    if (FThread.joinable())
        FThread.join();
}

TThreadPool::TThreadPool(TThreadPoolEvent HandlePoolEvent, int MaxThreads)
    : FHandlePoolEvent(std::move(HandlePoolEvent))
{
    while (static_cast<int>(FThreads.size()) < MaxThreads)
        FThreads.push_back(std::make_unique<TSimpleThread>(
            false, [this](TSimpleThread& thread) { ThreadExecute(thread); }));
}

TThreadPool::~TThreadPool()
{
    FThreadQueue.Finalize();
    for (auto& thread : FThreads)
        thread->Terminate();
    for (auto& thread : FThreads)
        thread->WaitFor();
    FThreads.clear();
}

void TThreadPool::Add(void* Data)
{
    FThreadQueue.Push(Data);
}

void TThreadPool::ThreadExecute(TSimpleThread& AThread)
{
    void* data = nullptr;
    while (FThreadQueue.Pop(data))
    {
        if (AThread.Terminated())
            return;
        try
        {
            FHandlePoolEvent(data, AThread);
        }
        catch (...)
        {
            // The handler owns its item and reports its own failures.
        }
    }
}

} // namespace UN_ThreadUtilities
