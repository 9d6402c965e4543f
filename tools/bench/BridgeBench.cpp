#include "BridgeBench.h"

#include "BenchPipe.h"
#include "BridgeNames.h"
#include "ProcessFigures.h"
#include "SiblingProcess.h"

#include "messages/PipeFrame.h"
#include "messages/UPipeMessage.h"
#include "startup/GF_SupportFunctions.h"
#include "startup/UN_SystemFolders.h"

#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

namespace bench
{

namespace
{

using namespace std::chrono_literals;
using tool_shared::ReadProcessFigures;
using tool_shared::TProcessFigures;

constexpr wchar_t BridgeProgram[] = L"uxlink.exe";
constexpr wchar_t BenchProgram[] = L"bench.exe";

bool FileExists(const std::wstring& Path)
{
    return GetFileAttributesW(Path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string RequestPayload(const wchar_t* command)
{
    return PipeFrame::EncodeText(TTPPipeMessage::MakeMessage(command, {}, {}));
}

std::wstring BridgeArguments()
{
    // No master process answers on this pid, so the start-up announcement fails
    // fast, as it does when the service side starts the bridge before the master.
    return L"-name=Bench -version=1.0 -pid=" + std::to_wstring(GetCurrentProcessId());
}

std::wstring UniqueBarePipeName(const wchar_t* purpose)
{
    static std::atomic<int> serial{0};
    return L"\\\\.\\pipe\\uxbench_" + std::wstring(purpose) + L"_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
           std::to_wstring(++serial);
}

// What "SUINFO" asks the system for, timed in this process: the part of its round
// trip that no pipe can make faster.
std::vector<double> TimeUserInfoLookups(int count)
{
    std::vector<double> samples;
    for (int i = 0; i < count; ++i)
    {
        TStopwatch watch;
        std::wstring all = GetLoggedUserName() + GetDesktopFolder() + GetTempFolder() + GetLocalAppDataFolder();
        samples.push_back(watch.ElapsedMicroseconds());
    }
    return samples;
}

// Until the process has used no CPU time for a second: the log has written what
// the requests queued and closed its file, so the figures show the bridge at rest.
void WaitUntilIdle(DWORD pid)
{
    auto deadline = std::chrono::steady_clock::now() + 120s;
    TProcessFigures last = ReadProcessFigures(pid);
    while (std::chrono::steady_clock::now() < deadline)
    {
        std::this_thread::sleep_for(1s);
        TProcessFigures now = ReadProcessFigures(pid);
        if (now.CpuMs == last.CpuMs)
            return;
        last = now;
    }
}

void Progress(const char* step)
{
    std::fprintf(stderr, "bench: %s\n", step);
}

// One server under measurement: its pipe name and the process behind it.
struct TServed
{
    TSiblingProcess Process;
    std::wstring PipeName;
};

TServed StartBridge()
{
    TSiblingProcess bridge(BridgeProgram, BridgeArguments());
    std::wstring pipeName = BridgePipeName(bridge.Pid());
    return {std::move(bridge), pipeName};
}

TServed StartBareEcho(const wchar_t* purpose)
{
    std::wstring pipeName = UniqueBarePipeName(purpose);
    return {TSiblingProcess(BenchProgram, L"--bare-echo " + pipeName), pipeName};
}

class TRunner
{
public:
    TRunner(const TBridgeBenchOptions& options, TBenchTable& table, int& failed)
        : FOptions(options), FTable(table), FFailed(failed)
    {
    }

    void Run();

private:
    std::vector<double> TimeRoundTrips(const std::wstring& pipeName, const std::string& payload, int count);
    double Throughput(const std::wstring& pipeName, const std::string& payload, int clients, int total);
    void CountFailure() { ++FFailed; }

    void RoundTrips(const TServed& bridge, const TServed& bare);
    void ThroughputRows(const TServed& bridge, const TServed& bare);
    void ResourcesAroundLoad(const TServed& bridge);
    TSummary StartUpTimes(TServed (*start)());
    void StartUp();
    void IdleCost();

    const TBridgeBenchOptions& FOptions;
    TBenchTable& FTable;
    int& FFailed;
    const std::string FSuinfo = RequestPayload(L"SUINFO");
    const std::string FIgnored = RequestPayload(L"BENCHNOOP");
};

std::vector<double> TRunner::TimeRoundTrips(const std::wstring& pipeName, const std::string& payload, int count)
{
    std::vector<double> samples;
    samples.reserve(count);
    for (int i = 0; i < count; ++i)
    {
        TStopwatch watch;
        TExchange exchange = Exchange(pipeName, payload);
        samples.push_back(watch.ElapsedMicroseconds());
        if (!exchange.Completed)
            CountFailure();
    }
    return samples;
}

double TRunner::Throughput(const std::wstring& pipeName, const std::string& payload, int clients, int total)
{
    std::atomic<int> answered{0};
    std::atomic<int> failed{0};
    TStopwatch watch;
    {
        std::vector<std::jthread> workers;
        for (int c = 0; c < clients; ++c)
            workers.emplace_back([&, share = total / clients] {
                for (int i = 0; i < share; ++i)
                    ++(Exchange(pipeName, payload).Completed ? answered : failed);
            });
    }
    double seconds = watch.ElapsedSeconds();
    FFailed += failed;
    return answered / seconds;
}

void TRunner::RoundTrips(const TServed& bridge, const TServed& bare)
{
    Progress("round trips");
    // A first exchange each, so that neither side is measured with cold caches.
    TimeRoundTrips(bridge.PipeName, FSuinfo, 20);
    TimeRoundTrips(bare.PipeName, FSuinfo, 20);
    TSummary bareEcho = Summarize(TimeRoundTrips(bare.PipeName, FSuinfo, FOptions.RoundTrips));
    FTable.AddLatency("round trip \"SUINFO\" vs bare echo",
                      Summarize(TimeRoundTrips(bridge.PipeName, FSuinfo, FOptions.RoundTrips)), bareEcho, 1.5);
    FTable.AddInfo("the four \"SUINFO\" lookups, in-process (no target)",
                   Summarize(TimeUserInfoLookups(FOptions.RoundTrips)));
    FTable.AddLatency("round trip ignored request vs bare echo",
                      Summarize(TimeRoundTrips(bridge.PipeName, FIgnored, FOptions.RoundTrips)),
                      Summarize(TimeRoundTrips(bare.PipeName, FIgnored, FOptions.RoundTrips)), 1.5);
}

void TRunner::ThroughputRows(const TServed& bridge, const TServed& bare)
{
    for (int clients : {1, 4, 16})
    {
        Progress(("throughput, " + std::to_string(clients) + " clients").c_str());
        for (auto [name, payload] : {std::pair{"\"SUINFO\"", &FSuinfo}, std::pair{"ignored request", &FIgnored}})
        {
            double bareRate = Throughput(bare.PipeName, *payload, clients, FOptions.ThroughputRequests);
            double bridgeRate = Throughput(bridge.PipeName, *payload, clients, FOptions.ThroughputRequests);
            FTable.AddRate(std::string("throughput ") + name + ", " + std::to_string(clients) + " client(s)", "req/s",
                           bridgeRate, bareRate, 0.8);
        }
    }
}

void TRunner::ResourcesAroundLoad(const TServed& bridge)
{
    Progress("resources around the load");
    WaitUntilIdle(bridge.Process.Pid());
    TProcessFigures before = ReadProcessFigures(bridge.Process.Pid());
    Throughput(bridge.PipeName, FSuinfo, 4, FOptions.LoadRequests);
    WaitUntilIdle(bridge.Process.Pid());
    TProcessFigures after = ReadProcessFigures(bridge.Process.Pid());
    std::string load = " around " + std::to_string(FOptions.LoadRequests) + " requests";
    FTable.AddGrowth("handles" + load, "", before.Handles, after.Handles);
    FTable.AddGrowth("threads" + load, "", before.Threads, after.Threads);
    FTable.AddGrowth("private bytes" + load, "KB", before.PrivateKb, after.PrivateKb);
    FTable.AddGrowth("working set" + load + " (no target)", "KB", before.WorkingSetKb, after.WorkingSetKb);
}

TSummary TRunner::StartUpTimes(TServed (*start)())
{
    std::vector<double> samples;
    for (int i = 0; i < FOptions.Starts; ++i)
    {
        TStopwatch watch;
        TServed served = start();
        TExchange exchange = Exchange(served.PipeName, FSuinfo);
        samples.push_back(watch.ElapsedMicroseconds());
        if (!exchange.Completed || exchange.Answer.empty())
            CountFailure();
    }
    return Summarize(samples);
}

void TRunner::StartUp()
{
    Progress("start-up");
    TSummary bare = StartUpTimes([] { return StartBareEcho(L"start"); });
    TSummary bridge = StartUpTimes(StartBridge);
    // No target of its own: the ratio shows what the bridge adds to a bare start.
    FTable.AddLatency("start-up to first answered request", bridge, bare, 1.5);
}

void TRunner::IdleCost()
{
    Progress("idle cost");
    TServed bridge = StartBridge();
    TSiblingProcess bareTray(BenchProgram, L"--bare-tray");
    WaitForPipe(bridge.PipeName, 15s);
    // Start-up work (the announcement to the master, the first log lines) is over
    // before the idle time is counted.
    WaitUntilIdle(bridge.Process.Pid());
    WaitUntilIdle(bareTray.Pid());
    TProcessFigures bridgeBefore = ReadProcessFigures(bridge.Process.Pid());
    TProcessFigures bareBefore = ReadProcessFigures(bareTray.Pid());
    std::this_thread::sleep_for(std::chrono::seconds(FOptions.IdleSeconds));
    TProcessFigures bridgeAfter = ReadProcessFigures(bridge.Process.Pid());
    TProcessFigures bareAfter = ReadProcessFigures(bareTray.Pid());
    FTable.AddCost("idle CPU time over " + std::to_string(FOptions.IdleSeconds) + " s vs bare tray program", "ms",
                   bridgeAfter.CpuMs - bridgeBefore.CpuMs, bareAfter.CpuMs - bareBefore.CpuMs, 1.0);
    FTable.AddCost("idle private bytes vs bare tray program", "KB", bridgeAfter.PrivateKb, bareAfter.PrivateKb, 1.5);
}

void TRunner::Run()
{
    // The installer creates the log folder and the bridge never does; without it
    // the bridge would skip every write and be measured lighter than it runs.
    EnsureBridgeLogFolder();
    TServed bridge = StartBridge();
    TServed bare = StartBareEcho(L"echo");
    if (!WaitForPipe(bare.PipeName, 15s))
    {
        FTable.AddMissing("bridge measurements", "the bare echo server did not start");
        return;
    }
    if (!WaitForPipe(bridge.PipeName, 15s))
    {
        FTable.AddMissing("bridge measurements", "uxlink.exe does not serve its request pipe");
        return;
    }
    RoundTrips(bridge, bare);
    ThroughputRows(bridge, bare);
    ResourcesAroundLoad(bridge);
    StartUp();
    IdleCost();
}

} // namespace

void RunBridgeBench(const TBridgeBenchOptions& Options, TBenchTable& Table, int& FailedExchanges)
{
    if (!FileExists(OwnFolder() + BridgeProgram))
    {
        Table.AddMissing("bridge measurements", "uxlink.exe is not beside bench.exe");
        return;
    }
    TRunner(Options, Table, FailedExchanges).Run();
}

} // namespace bench
