// The processes the benchmark starts (the bridge and the bare programs) and what
// it reads of them from outside: memory, handles, threads and CPU time.
#pragma once

#include "startup/WinHandle.h"

#include <windows.h>

#include <string>

namespace bench
{

// A program from the benchmark's own folder; ended (killed) when the owner goes
// away, since neither the bridge nor the bare programs need an orderly end here.
class TBenchChild
{
public:
    TBenchChild(const std::wstring& Program, const std::wstring& Arguments);
    TBenchChild(TBenchChild&&) noexcept = default;
    TBenchChild& operator=(TBenchChild&&) noexcept = default;
    ~TBenchChild();

    [[nodiscard]] DWORD Pid() const noexcept { return FPid; }
    [[nodiscard]] HANDLE Handle() const noexcept { return FProcess.Get(); }
    [[nodiscard]] bool Running() const noexcept;

private:
    TUniqueHandle FProcess;
    DWORD FPid = 0;
};

struct TProcessFigures
{
    double WorkingSetKb = 0;
    double PrivateKb = 0;
    double Handles = 0;
    double Threads = 0;
    // User and kernel time together.
    double CpuMs = 0;
};

TProcessFigures ProbeProcess(HANDLE Process, DWORD Pid);

// The folder of the running program, with a trailing backslash.
std::wstring OwnFolder();

bool FileExists(const std::wstring& Path);

} // namespace bench
