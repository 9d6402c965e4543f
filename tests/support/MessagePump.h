// Serving the test thread's windows while a test waits: the windows a test creates
// (the tray's, the shell fakes', a clipboard owner) live on its thread, and other
// threads wait for them to answer.
#pragma once

#include <chrono>
#include <functional>

namespace test_support
{

// Dispatches the messages queued for this thread now.
void DispatchWaitingMessages();

// Dispatches this thread's messages until Done or the time is up; returns Done().
bool PumpUntil(const std::function<bool()>& Done, std::chrono::milliseconds Timeout = std::chrono::seconds(10));

// Dispatches this thread's messages for Duration.
void PumpFor(std::chrono::milliseconds Duration);

// Whether the pumps above took a WM_QUIT off the queue since the last call.
bool TakeQuitSeen();

// Runs Work on another thread, as the request server's worker would, while this
// (main) thread pumps; false when Work did not end in time.
bool RunOnWorkerWhilePumping(const std::function<void()>& Work,
                             std::chrono::milliseconds Timeout = std::chrono::seconds(10));

} // namespace test_support
