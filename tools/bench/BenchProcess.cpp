#include "BenchProcess.h"

#include "startup/WinError.h"

#include <psapi.h>
#include <tlhelp32.h>


namespace bench
{

namespace
{

double Milliseconds(const FILETIME& time)
{
    ULARGE_INTEGER value{};
    value.LowPart = time.dwLowDateTime;
    value.HighPart = time.dwHighDateTime;
    return static_cast<double>(value.QuadPart) / 1e4;
}

double ThreadCount(DWORD pid)
{
    TUniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    if (!snapshot)
        ThrowLastError("CreateToolhelp32Snapshot");
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    double count = 0;
    for (BOOL more = Thread32First(snapshot.Get(), &entry); more; more = Thread32Next(snapshot.Get(), &entry))
        if (entry.th32OwnerProcessID == pid)
            ++count;
    return count;
}

} // namespace

TBenchChild::TBenchChild(const std::wstring& Program, const std::wstring& Arguments)
{
    std::wstring path = OwnFolder() + Program;
    std::wstring commandLine = L"\"" + path + L"\" " + Arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    Check(CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                         &info),
          "CreateProcessW");
    TUniqueHandle thread(info.hThread);
    FProcess.Reset(info.hProcess);
    FPid = info.dwProcessId;
}

TBenchChild::~TBenchChild()
{
    if (Running())
    {
        TerminateProcess(FProcess.Get(), 1);
        WaitForSingleObject(FProcess.Get(), 5000);
    }
}

bool TBenchChild::Running() const noexcept
{
    return FProcess && WaitForSingleObject(FProcess.Get(), 0) == WAIT_TIMEOUT;
}

TProcessFigures ProbeProcess(HANDLE Process, DWORD Pid)
{
    TProcessFigures figures;
    PROCESS_MEMORY_COUNTERS_EX memory{};
    memory.cb = sizeof(memory);
    Check(K32GetProcessMemoryInfo(Process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof(memory)),
          "GetProcessMemoryInfo");
    figures.WorkingSetKb = static_cast<double>(memory.WorkingSetSize) / 1024;
    figures.PrivateKb = static_cast<double>(memory.PrivateUsage) / 1024;

    DWORD handles = 0;
    Check(GetProcessHandleCount(Process, &handles), "GetProcessHandleCount");
    figures.Handles = handles;
    figures.Threads = ThreadCount(Pid);

    FILETIME created, exited, kernel, user;
    Check(GetProcessTimes(Process, &created, &exited, &kernel, &user), "GetProcessTimes");
    figures.CpuMs = Milliseconds(kernel) + Milliseconds(user);
    return figures;
}

std::wstring OwnFolder()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path);
    return folder.substr(0, folder.find_last_of(L'\\') + 1);
}

bool FileExists(const std::wstring& Path)
{
    return GetFileAttributesW(Path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

} // namespace bench
