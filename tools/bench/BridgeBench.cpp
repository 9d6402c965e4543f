#include "BridgeBench.h"

#include "BenchPipe.h"
#include "BridgeNames.h"
#include "ProcessFigures.h"
#include "SiblingProcess.h"

#include "base/TextConversion.h"
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

// Request names unique to this run and Purpose, each logged by the bridge in one
// line ("BEGIN" of a command it ignores): what the log's loss is counted by.
class TLogMarks
{
public:
    explicit TLogMarks(const wchar_t* Purpose)
        : FTag(L"BENCHLOG_" + std::to_wstring(GetCurrentProcessId()) + L"_" + Purpose + L"_")
    {
    }

    [[nodiscard]] std::string Payload(int Bridge, int Line) const
    {
        return RequestPayload((FTag + std::to_wstring(Bridge) + L"_" + std::to_wstring(Line)).c_str());
    }

    // Waits until Expected marked lines are in today's log, or until their count
    // has not moved for 3 s; returns how many are there.
    [[nodiscard]] int WaitForLines(int Expected) const
    {
        const std::string tag = WideToUtf8(FTag);
        int found = 0;
        for (auto still = std::chrono::steady_clock::now(); std::chrono::steady_clock::now() - still < 3s;)
        {
            int now = CountIn(ReadTodaysBridgeLog(), tag);
            if (now == Expected)
                return now;
            if (now != found)
                still = std::chrono::steady_clock::now();
            found = now;
            std::this_thread::sleep_for(100ms);
        }
        return found;
    }

private:
    static int CountIn(const std::string& text, const std::string& tag)
    {
        int count = 0;
        for (std::size_t at = text.find(tag); at != std::string::npos; at = text.find(tag, at + tag.size()))
            ++count;
        return count;
    }

    std::wstring FTag;
};

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
    void SharedLog();
    struct TStorm
    {
        TSummary Answered;
        double PrivateKb = 0;
    };
    TStorm Storm(TServed (*start)(), const TLogMarks* marks);
    void LogonStorm();

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

void TRunner::SharedLog()
{
    Progress("bridges logging at once");
    std::vector<TServed> bridges;
    for (int b = 0; b < FOptions.SharingBridges; ++b)
        bridges.push_back(StartBridge());
    for (const TServed& bridge : bridges)
        WaitForPipe(bridge.PipeName, 15s);
    TLogMarks marks(L"shared");
    std::atomic<int> failed{0};
    {
        std::vector<std::jthread> clients;
        for (int b = 0; b < FOptions.SharingBridges; ++b)
            clients.emplace_back([&, b] {
                for (int line = 0; line < FOptions.SharedLines; ++line)
                    failed += Exchange(bridges[b].PipeName, marks.Payload(b, line)).Completed ? 0 : 1;
            });
    }
    FFailed += failed;
    const int total = FOptions.SharingBridges * FOptions.SharedLines;
    FTable.AddLoss(std::to_string(FOptions.SharingBridges) + " bridges logging at once into the day's file", "lines",
                   total - marks.WaitForLines(total), total);
}

// Starts StormBridges servers at once and asks each for "SUINFO" as soon as it
// serves its pipe, timed from the first start (the slowest: all have answered);
// then each logs its marked lines, while the others may still start. Private
// bytes are summed once all have answered.
TRunner::TStorm TRunner::Storm(TServed (*start)(), const TLogMarks* marks)
{
    TStopwatch watch;
    std::vector<TServed> servers;
    for (int s = 0; s < FOptions.StormBridges; ++s)
        servers.push_back(start());
    std::vector<double> answered(servers.size());
    std::atomic<int> failed{0};
    {
        std::vector<std::jthread> clients;
        for (std::size_t s = 0; s < servers.size(); ++s)
            clients.emplace_back([&, s] {
                TExchange exchange = Exchange(servers[s].PipeName, FSuinfo);
                answered[s] = watch.ElapsedMicroseconds();
                failed += exchange.Completed && !exchange.Answer.empty() ? 0 : 1;
                for (int line = 0; marks != nullptr && line < FOptions.StormLines; ++line)
                    failed += Exchange(servers[s].PipeName, marks->Payload(int(s), line)).Completed ? 0 : 1;
            });
    }
    FFailed += failed;
    TStorm storm{Summarize(answered)};
    for (const TServed& server : servers)
        storm.PrivateKb += ReadProcessFigures(server.Process.Pid()).PrivateKb;
    return storm;
}

void TRunner::LogonStorm()
{
    Progress("logon storm");
    TStorm bare = Storm([] { return StartBareEcho(L"storm"); }, nullptr);
    TLogMarks marks(L"storm");
    TStorm bridges = Storm(StartBridge, &marks);
    std::string storm = "logon storm, " + std::to_string(FOptions.StormBridges) + " started at once: ";
    // No targets of their own: the bare echo shows what the machine takes to start
    // as many programs that only serve a pipe.
    FTable.AddLatency(storm + "until \"SUINFO\" answered (p99: all)", bridges.Answered, bare.Answered, std::nullopt);
    FTable.AddCost(storm + "private bytes in all", "KB", bridges.PrivateKb, bare.PrivateKb, std::nullopt);
    const int total = FOptions.StormBridges * FOptions.StormLines;
    FTable.AddLoss(storm + "log lines", "lines", total - marks.WaitForLines(total), total);
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
    SharedLog();
    LogonStorm();
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
