// What the end-to-end tests share: starting uxlink.exe and the peer tools that
// sit beside the test program, and reading the bridge's daily log.
#pragma once

#include "base/WinHandle.h"
#include "BridgeNames.h"
#include "messages/UPipeMessage.h"
#include "PipeConnect.h"
#include "SiblingProcess.h"

#include <windows.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace test_support
{

// A child process started from the folder that holds the test program, uxlink.exe
// and the tools; killed and waited for when the owner goes away while it runs. It
// records when it started, so that LogLinesOf its pid reads only its own lines.
class TChildProcess : public TSiblingProcess
{
public:
    // Program is a file name in the bin folder, Arguments the rest of the command line.
    TChildProcess(const std::wstring& Program, const std::wstring& Arguments);

private:
    TChildProcess(std::wstring StartKey, const std::wstring& Program, const std::wstring& Arguments);
};

// The texts (after "<pid> - hh:nn.ss.zzz - ") of today's lines written by Pid.
// For a pid of a TChildProcess, only the lines stamped since that process was
// started: Wine hands a freed pid to the next process soon, and the lines of an
// earlier bridge with the same pid stay in the day's file.
std::vector<std::wstring> LogLinesOf(DWORD Pid);

// Polls Done every 50 ms until it holds or the time is up; returns Done().
bool Eventually(const std::function<bool()>& Done, std::chrono::milliseconds Timeout = std::chrono::seconds(10));

// Polls the log until a line of Pid holds Needle, or the time is up.
bool WaitForLogLine(DWORD Pid, const std::wstring& Needle,
                    std::chrono::milliseconds Timeout = std::chrono::seconds(10));

struct TToolResult
{
    DWORD ExitCode = 99;
    std::string Output;
};

// Runs service_client.exe from the bin folder with Arguments and collects what it
// prints on stdout.
TToolResult RunServiceClient(const std::wstring& Arguments);

// The answer the bridge gave, as service_client printed it.
TTPPipeMessage AnswerOf(const TToolResult& Result);

// A top-level window of process Pid, of class ClassName when one is given; null
// when there is none.
HWND TopWindowOf(DWORD Pid, const wchar_t* ClassName = nullptr);

} // namespace test_support
