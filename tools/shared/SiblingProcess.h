// A program started from the folder of the running one (the bridge, a peer tool
// or a bare benchmark program beside the test or benchmark that starts it).
#pragma once

#include "base/WinHandle.h"

#include <windows.h>

#include <chrono>
#include <string>

// The folder of the running program, with a trailing backslash.
std::wstring OwnFolder();

// Killed and waited for when the owner goes away while it still runs.
class TSiblingProcess
{
public:
    // Program is a file name in OwnFolder(), Arguments the rest of the command line;
    // Desktop names the desktop to start it on, empty for this process's own.
    TSiblingProcess(const std::wstring& Program, const std::wstring& Arguments, std::wstring Desktop = L"");
    TSiblingProcess(TSiblingProcess&&) noexcept = default;
    TSiblingProcess& operator=(TSiblingProcess&&) noexcept = default;
    ~TSiblingProcess();

    [[nodiscard]] DWORD Pid() const noexcept { return FPid; }
    [[nodiscard]] HANDLE Handle() const noexcept { return FProcess.Get(); }
    [[nodiscard]] bool Running() const noexcept;

    // False when the process still runs after Timeout; otherwise its exit code.
    bool WaitForExit(std::chrono::milliseconds Timeout, DWORD& ExitCode);
    void Kill();

private:
    TUniqueHandle FProcess;
    DWORD FPid = 0;
};
