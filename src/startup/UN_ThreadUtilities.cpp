#include "startup/UN_ThreadUtilities.h"

namespace UN_ThreadUtilities
{

namespace
{

// The queue's lock for one scope.
class TExclusive
{
public:
    explicit TExclusive(SRWLOCK& Lock) noexcept : FLock(Lock) { AcquireSRWLockExclusive(&FLock); }
    TExclusive(const TExclusive&) = delete;
    TExclusive& operator=(const TExclusive&) = delete;
    ~TExclusive() { ReleaseSRWLockExclusive(&FLock); }

private:
    SRWLOCK& FLock;
};

} // namespace

void TThreadQueue::Push(void* Data)
{
    {
        TExclusive lock(FLock);
        if (FFinalized)
            throw EThreadStackFinalized();
        FItems.push_back(Data);
    }
    WakeConditionVariable(&FNotEmpty);
}

bool TThreadQueue::Pop(void*& Data)
{
    Data = nullptr;
    TExclusive lock(FLock);
    while (FItems.empty() && !FFinalized)
        SleepConditionVariableSRW(&FNotEmpty, &FLock, INFINITE, 0);
    if (FFinalized)
        return false;
    Data = FItems.front();
    FItems.pop_front();
    return true;
}

void TThreadQueue::Finalize()
{
    {
        TExclusive lock(FLock);
        FFinalized = true;
    }
    WakeAllConditionVariable(&FNotEmpty);
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
