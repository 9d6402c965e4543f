// The processes the benchmark starts: the bridge and the bare programs.
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

// The folder of the running program, with a trailing backslash.
std::wstring OwnFolder();

bool FileExists(const std::wstring& Path);

} // namespace bench
