#include "support/MessagePump.h"

#include <windows.h>

#include <atomic>
#include <thread>
#include <utility>

namespace test_support
{

namespace
{

thread_local bool QuitSeen = false;

} // namespace

void DispatchWaitingMessages()
{
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
    {
        if (message.message == WM_QUIT)
            QuitSeen = true;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

bool PumpUntil(const std::function<bool()>& Done, std::chrono::milliseconds Timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + Timeout;
    while (!Done())
    {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        DispatchWaitingMessages();
    }
    return true;
}

void PumpFor(std::chrono::milliseconds Duration)
{
    PumpUntil([] { return false; }, Duration);
}

bool TakeQuitSeen()
{
    return std::exchange(QuitSeen, false);
}

bool RunOnWorkerWhilePumping(const std::function<void()>& Work, std::chrono::milliseconds Timeout)
{
    std::atomic<bool> done = false;
    std::jthread worker([&] {
        Work();
        done = true;
    });
    return PumpUntil([&] { return done.load(); }, Timeout);
}

} // namespace test_support
