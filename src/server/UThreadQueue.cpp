#include "server/UThreadQueue.h"

#include "base/WinError.h"

#include <stdexcept>

namespace UThreadQueue
{

TSemaphore::TSemaphore(LPSECURITY_ATTRIBUTES AEventAttributes, LONG AMaximumCount, LONG AInitialCount,
                       const std::wstring& AName)
    : FHandle(CreateSemaphoreW(AEventAttributes, AInitialCount, AMaximumCount,
                               AName.empty() ? nullptr : AName.c_str()))
{
    if (!FHandle)
        ThrowLastError("CreateSemaphoreW");
}

TWaitResult TSemaphore::WaitFor(DWORD ATimeout)
{
    switch (WaitForSingleObject(FHandle.Get(), ATimeout))
    {
    case WAIT_OBJECT_0:
        return TWaitResult::wrSignaled;
    case WAIT_TIMEOUT:
        return TWaitResult::wrTimeout;
    case WAIT_ABANDONED:
        return TWaitResult::wrAbandoned;
    default:
        return TWaitResult::wrError;
    }
}

void TSemaphore::Acquire()
{
    switch (WaitFor(INFINITE))
    {
    case TWaitResult::wrSignaled:
        return;
    case TWaitResult::wrTimeout:
        throw std::runtime_error("Semaphore has timed out");
    case TWaitResult::wrAbandoned:
        throw std::runtime_error("Semaphore has been abandoned");
    case TWaitResult::wrError:
        ThrowLastError("WaitForSingleObject");
    }
}

void TSemaphore::Release()
{
    Check(ReleaseSemaphore(FHandle.Get(), 1, nullptr), "ReleaseSemaphore");
}

} // namespace UThreadQueue
