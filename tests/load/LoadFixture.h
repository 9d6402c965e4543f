// What the load and fault cases share: a running uxlink.exe with a watchdog, a
// client of its request pipe that can also send what no well-behaved service side
// would, and the bridge's handle and thread counts as seen from outside.
#pragma once

#include "support/BridgeTestSupport.h"

#include "base/WinHandle.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace load
{

// The envelope's JSON text.
std::wstring Request(const std::wstring& Command, const std::vector<std::wstring>& Keys = {},
                     const std::vector<std::wstring>& Values = {});

// A client end of the pipe; waits for a free instance (or for the bridge to come
// up) until Timeout. Raises when none was offered.
TUniqueHandle Connect(const std::wstring& PipeName, std::chrono::milliseconds Timeout = std::chrono::seconds(30));

// Writes Bytes as they are, no framing added. False when the bridge closed first.
bool WriteBytes(HANDLE Pipe, const std::string& Bytes);

// Reads one framed answer. Nothing when the bridge closed the connection without
// one; raises on anything else (a short or malformed answer).
std::optional<std::wstring> ReadAnswer(HANDLE Pipe);

// One well-formed request and its answer, on a connection of its own.
std::optional<std::wstring> Ask(const std::wstring& PipeName, const std::wstring& RequestText);

// True when Answer is the bridge's "SUINFO" answer for the user the tests run as.
bool IsUserInfoAnswer(const std::optional<std::wstring>& Answer);

// True when Answer is the OK answer ("Result" with "Result" = "OK").
bool IsOkAnswer(const std::optional<std::wstring>& Answer);

struct TResourceLevel
{
    DWORD Handles = 0;
    DWORD Threads = 0;
};

TResourceLevel ResourceLevelOf(DWORD Pid);

// Kills the bridge when a case overruns, so that a client blocked on a wedged
// bridge sees its pipe break and the case fails instead of hanging the suite.
class TWatchdog
{
public:
    TWatchdog(test_support::TChildProcess& Bridge, std::chrono::seconds Limit);
    TWatchdog(const TWatchdog&) = delete;
    TWatchdog& operator=(const TWatchdog&) = delete;
    ~TWatchdog();

    [[nodiscard]] bool Fired() const noexcept { return FFired; }

private:
    std::mutex FMutex;
    std::condition_variable FDone;
    bool FFinished = false;
    bool FFired = false;
    std::thread FThread;
};

// One bridge per case, started with a master pid at which nothing listens unless
// the case says otherwise.
class BridgeFixture : public ::testing::Test
{
protected:
    void SetUp() override;
    void StartBridge(const std::wstring& Arguments);

    [[nodiscard]] DWORD Pid() const { return FBridge->Pid(); }
    [[nodiscard]] const std::wstring& PipeName() const { return FPipeName; }
    [[nodiscard]] test_support::TChildProcess& Bridge() { return *FBridge; }

    static std::wstring DefaultArguments();

    // Sends an unknown command named after Purpose (answered by nothing but its
    // BEGIN line in the log) and returns its name: a unique mark to look for.
    std::wstring SendLogMarker(const wchar_t* Purpose);
    // Until the log has written everything queued before now, so that its file
    // is closed and its queue empty when the bridge is looked at from outside.
    void WaitForLogToCatchUp();

private:
    std::optional<test_support::TChildProcess> FBridge;
    std::wstring FPipeName;
};

} // namespace load
