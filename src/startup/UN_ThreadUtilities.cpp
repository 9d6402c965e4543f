#include "startup/UN_ThreadUtilities.h"

#include "startup/WinError.h"

namespace UN_ThreadUtilities
{

namespace
{

// A packet whose overlapped pointer is all ones marks the end; an item's packet
// carries its pointer in the completion key and a null overlapped pointer.
OVERLAPPED* const EndMarker = reinterpret_cast<OVERLAPPED*>(~ULONG_PTR{0});

} // namespace

TThreadQueue::TThreadQueue()
    : FIOQueue(CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 0))
{
}

void TThreadQueue::Push(void* Data)
{
    if (FFinalized)
        throw EThreadStackFinalized();
    if (!FIOQueue)
        ThrowWin32Error(ERROR_INVALID_HANDLE, "CreateIoCompletionPort");
    Check(PostQueuedCompletionStatus(FIOQueue.Get(), 0, reinterpret_cast<ULONG_PTR>(Data), nullptr),
          "PostQueuedCompletionStatus");
}

bool TThreadQueue::Pop(void*& Data)
{
    Data = nullptr;
    if (!FIOQueue)
        return false;

    ULONG_PTR key = 0;
    OVERLAPPED* overlapped = nullptr;
    DWORD bytes = 0;
    bool taken = false;
    if (!FFinalized)
        taken = GetQueuedCompletionStatus(FIOQueue.Get(), &bytes, &key, &overlapped, INFINITE) != FALSE;

    // A failed wait hands out nothing: the item, if any, was never taken.
    if (FFinalized || !taken || overlapped == EndMarker)
    {
        // Pass the end on, so that the next waiting thread wakes too.
        if (FFinalized || overlapped == EndMarker)
            Finalize();
        return false;
    }
    Data = reinterpret_cast<void*>(key);
    return true;
}

void TThreadQueue::Finalize()
{
    if (FIOQueue)
        PostQueuedCompletionStatus(FIOQueue.Get(), 0, 0, EndMarker);
    FFinalized = true;
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
