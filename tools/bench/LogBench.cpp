#include "LogBench.h"

#include "base/TextConversion.h"
#include "base/WinError.h"
#include "base/WinHandle.h"
#include "startup/UN_TxtFileLog.h"

#include <algorithm>
#include <thread>
#include <vector>

namespace bench
{

namespace
{

constexpr wchar_t SampleText[] = L"[TCalcRequestDispatcher.InternalProcessRequest] BEGIN: {\"name\":\"SUINFO\"}";

// A folder of its own under the temporary folder, emptied and removed at the end.
class TScratchFolder
{
public:
    TScratchFolder()
    {
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        FPath = std::wstring(temp) + L"uxbench_log_" + std::to_wstring(GetCurrentProcessId()) + L"\\";
        CreateDirectoryW(FPath.c_str(), nullptr);
    }
    TScratchFolder(const TScratchFolder&) = delete;
    TScratchFolder& operator=(const TScratchFolder&) = delete;
    ~TScratchFolder()
    {
        WIN32_FIND_DATAW found{};
        TUniqueFind find(FindFirstFileW((FPath + L"*.log").c_str(), &found));
        if (find)
            do
                DeleteFileW((FPath + found.cFileName).c_str());
            while (FindNextFileW(find.get(), &found));
        RemoveDirectoryW(FPath.c_str());
    }
    [[nodiscard]] const std::wstring& Path() const noexcept { return FPath; }

private:
    std::wstring FPath;
};

std::vector<double> TimeLogCalls(TTxtFileLog& log, int calls)
{
    std::vector<double> samples;
    samples.reserve(calls);
    for (int i = 0; i < calls; ++i)
    {
        TStopwatch watch;
        log.Log(SampleText);
        samples.push_back(watch.ElapsedMicroseconds());
    }
    return samples;
}

std::vector<double> TimeLogCallsFromThreads(TTxtFileLog& log, int threads, int callsPerThread)
{
    std::vector<std::vector<double>> perThread(threads);
    {
        std::vector<std::jthread> workers;
        for (auto& samples : perThread)
            workers.emplace_back([&log, &samples, callsPerThread] { samples = TimeLogCalls(log, callsPerThread); });
    }
    std::vector<double> all;
    for (auto& samples : perThread)
        all.insert(all.end(), samples.begin(), samples.end());
    return all;
}

TSummary LogCallCost(const std::wstring& folder, int threads, int callsPerThread)
{
    TTxtFileLog log(folder + L"calls", L".log", true);
    log.SetPrefix(std::to_wstring(GetCurrentProcessId()));
    TSummary summary = Summarize(TimeLogCallsFromThreads(log, threads, callsPerThread));
    log.Drain(INFINITE);
    return summary;
}

// Lines per second from the first Log() until the worker has written the last.
double LogDrainRate(const std::wstring& folder, int lines)
{
    TTxtFileLog log(folder + L"drain", L".log", true);
    log.SetPrefix(std::to_wstring(GetCurrentProcessId()));
    TStopwatch watch;
    for (int i = 0; i < lines; ++i)
        log.Log(SampleText);
    log.Drain(INFINITE);
    return lines / watch.ElapsedSeconds();
}

void AppendLine(const std::wstring& path, const std::string& bytes)
{
    TUniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        ThrowLastError("CreateFileW");
    LARGE_INTEGER end{};
    Check(SetFilePointerEx(file.Get(), LARGE_INTEGER{}, &end, FILE_END), "SetFilePointerEx");
    DWORD written = 0;
    Check(WriteFile(file.Get(), bytes.data(), DWORD(bytes.size()), &written, nullptr), "WriteFile");
}

// The same bytes per line as the log writes, with nothing else around them.
double BareAppendRate(const std::wstring& folder, int lines)
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    TTxtFileLog formatter(L"", L"", false);
    formatter.SetPrefix(std::to_wstring(GetCurrentProcessId()));
    std::string bytes = WideToUtf8(formatter.FormatLine(now, SampleText)) + "\r\n";
    std::wstring path = folder + L"bare.log";
    TStopwatch watch;
    for (int i = 0; i < lines; ++i)
        AppendLine(path, bytes);
    return lines / watch.ElapsedSeconds();
}

} // namespace

void RunLogBench(const TLogBenchOptions& Options, TBenchTable& Table)
{
    TScratchFolder folder;
    Table.AddLimit("Log() call, 1 thread", LogCallCost(folder.Path(), 1, Options.Calls), 2.0);
    Table.AddLimit("Log() call, 4 threads", LogCallCost(folder.Path(), 4, Options.Calls / 4), 2.0);
    // Turn about, best of three each: on a shared machine a burst of other work can
    // land in either run.
    double bare = 0;
    double drain = 0;
    for (int round = 0; round < 3; ++round)
    {
        bare = std::max(bare, BareAppendRate(folder.Path(), Options.DrainLines));
        drain = std::max(drain, LogDrainRate(folder.Path(), Options.DrainLines));
    }
    Table.AddRate("log drain vs open-append-close", "lines/s", drain, bare, 5.0);
}

} // namespace bench
