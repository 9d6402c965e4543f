#include "ProcessFigures.h"

#include "base/WinError.h"

#include <winternl.h>

#include <algorithm>
#include <vector>

namespace tool_shared
{

namespace
{

constexpr NTSTATUS StatusInfoLengthMismatch = static_cast<NTSTATUS>(0xC0000004L);
constexpr auto SystemExtendedHandleInformation = static_cast<SYSTEM_INFORMATION_CLASS>(64);

// One open handle of the extended handle list (the header names only the class).
struct TSystemHandleEntry
{
    PVOID Object;
    ULONG_PTR UniqueProcessId;
    ULONG_PTR HandleValue;
    ULONG GrantedAccess;
    USHORT CreatorBackTraceIndex;
    USHORT ObjectTypeIndex;
    ULONG HandleAttributes;
    ULONG Reserved;
};

struct TSystemHandleList
{
    ULONG_PTR NumberOfHandles;
    ULONG_PTR Reserved;
    TSystemHandleEntry Handles[1];
};

// A system-wide list, in a buffer grown until it fits.
std::vector<unsigned char> QuerySystemList(SYSTEM_INFORMATION_CLASS Class)
{
    std::vector<unsigned char> buffer(256 * 1024);
    for (;;)
    {
        ULONG needed = 0;
        NTSTATUS status = NtQuerySystemInformation(Class, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
        if (status == StatusInfoLengthMismatch)
        {
            buffer.resize(std::max<std::size_t>(buffer.size() * 2, needed + 64 * 1024));
            continue;
        }
        if (status < 0)
            ThrowWin32Error(RtlNtStatusToDosError(status), "NtQuerySystemInformation");
        return buffer;
    }
}

// Under Wine 8 the process list's handle count is the size of the process's handle
// table, which grows under load and never shrinks; the handle list counts the
// handles that are open now.
double OpenHandleCount(DWORD pid)
{
    std::vector<unsigned char> buffer = QuerySystemList(SystemExtendedHandleInformation);
    const auto* list = reinterpret_cast<const TSystemHandleList*>(buffer.data());
    double count = 0;
    for (ULONG_PTR i = 0; i < list->NumberOfHandles; ++i)
        if (list->Handles[i].UniqueProcessId == pid)
            ++count;
    return count;
}

double Milliseconds(const LARGE_INTEGER& time)
{
    return static_cast<double>(time.QuadPart) / 1e4;
}

} // namespace

// The system's lists rather than the calls on a process handle: for another process
// Wine 8's GetProcessHandleCount gives 0, its GetProcessTimes does not advance and
// the private bytes of its GetProcessMemoryInfo stay 0.
TProcessFigures ReadProcessFigures(DWORD Pid)
{
    std::vector<unsigned char> list = QuerySystemList(SystemProcessInformation);
    TProcessFigures figures;
    for (std::size_t offset = 0;;)
    {
        const auto* entry = reinterpret_cast<const SYSTEM_PROCESS_INFORMATION*>(list.data() + offset);
        if (static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(entry->UniqueProcessId)) == Pid)
        {
            figures.Found = true;
            figures.WorkingSetKb = static_cast<double>(entry->VirtualMemoryCounters.WorkingSetSize) / 1024;
            figures.PrivateKb = static_cast<double>(entry->VirtualMemoryCounters.PagefileUsage) / 1024;
            figures.Handles = OpenHandleCount(Pid);
            figures.Threads = entry->NumberOfThreads;
            figures.CpuMs = Milliseconds(entry->UserTime) + Milliseconds(entry->KernelTime);
            return figures;
        }
        if (entry->NextEntryOffset == 0)
            return figures;
        offset += entry->NextEntryOffset;
    }
}

} // namespace tool_shared
