// What a process costs, read from outside: memory, handles, threads, CPU time.
// Shared by the benchmark and the load tests.
#pragma once

#include <windows.h>

namespace tool_shared
{

struct TProcessFigures
{
    bool Found = false;
    double WorkingSetKb = 0;
    // Committed private memory ("private bytes").
    double PrivateKb = 0;
    double Handles = 0;
    double Threads = 0;
    // User and kernel time together.
    double CpuMs = 0;
};

// The figures of the running process Pid; Found is false when there is none.
TProcessFigures ReadProcessFigures(DWORD Pid);

} // namespace tool_shared
