// bench.exe: measures the bridge beside bare baselines and prints one table.
//   bench.exe [--idle-seconds N] [--round-trips N] [--requests N] [--load N]
//             [--starts N] [--log-calls N] [--envelope-runs N] [--envelope-only]
// and, started by the benchmark itself:
//   bench.exe --bare-echo PIPENAME     the bare named-pipe echo server
//   bench.exe --bare-tray              the bare tray program
// The exit code says only whether the benchmark ran; missed targets are marked in
// the table, never turned into a failure.
#include "BarePrograms.h"
#include "BenchFigures.h"
#include "BridgeBench.h"
#include "CommandLine.h"
#include "EnvelopeBench.h"
#include "LogBench.h"

#include "startup/GF_SupportFunctions.h"

#include <windows.h>

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

namespace
{

struct TOptions
{
    bench::TLogBenchOptions Log;
    bench::TEnvelopeBenchOptions Envelope;
    bench::TBridgeBenchOptions Bridge;
    // Only the in-process envelope rows, which take seconds where the rest takes minutes.
    bool EnvelopeOnly = false;
};

// Reads "--name N" pairs and the one flag; false on anything it does not know.
bool ReadOptions(const std::vector<std::wstring>& arguments, TOptions& options)
{
    struct TNumberOption
    {
        const wchar_t* Name;
        int* Value;
    };
    const TNumberOption known[] = {
        {L"--idle-seconds", &options.Bridge.IdleSeconds}, {L"--round-trips", &options.Bridge.RoundTrips},
        {L"--requests", &options.Bridge.ThroughputRequests}, {L"--load", &options.Bridge.LoadRequests},
        {L"--starts", &options.Bridge.Starts},            {L"--log-calls", &options.Log.Calls},
        {L"--envelope-runs", &options.Envelope.Runs},
    };
    for (std::size_t i = 0; i < arguments.size();)
    {
        if (arguments[i] == L"--envelope-only")
        {
            options.EnvelopeOnly = true;
            ++i;
            continue;
        }
        const TNumberOption* match = nullptr;
        for (const TNumberOption& option : known)
            if (arguments[i] == option.Name)
                match = &option;
        if (match == nullptr || i + 1 >= arguments.size())
            return false;
        int value = _wtoi(arguments[i + 1].c_str());
        if (value <= 0)
            return false;
        *match->Value = value;
        i += 2;
    }
    return true;
}

int RunBenchmark(const TOptions& options)
{
    bench::TBenchTable table;
    int failedExchanges = 0;
    if (!options.EnvelopeOnly)
    {
        std::fprintf(stderr, "bench: log\n");
        bench::RunLogBench(options.Log, table);
    }
    std::fprintf(stderr, "bench: envelope\n");
    bench::RunEnvelopeBench(options.Envelope, table);
    if (!options.EnvelopeOnly)
        bench::RunBridgeBench(options.Bridge, table, failedExchanges);
    std::printf("%s\n", table.Render().c_str());
    std::printf("Targets missed: %d. Failed exchanges: %d.\n", table.MissedTargets(), failedExchanges);
    return 0;
}

} // namespace

int main()
{
    try
    {
        std::vector<std::wstring> arguments = CommandLineArguments();
        if (arguments.size() == 2 && arguments[0] == L"--bare-echo")
            bench::RunBareEcho(arguments[1]);
        if (arguments.size() == 1 && arguments[0] == L"--bare-tray")
            return bench::RunBareTray();
        TOptions options;
        if (!ReadOptions(arguments, options))
        {
            std::fprintf(stderr, "usage: bench.exe [--idle-seconds N] [--round-trips N] [--requests N] [--load N] "
                                 "[--starts N] [--log-calls N] [--envelope-runs N] [--envelope-only]\n");
            return 2;
        }
        return RunBenchmark(options);
    }
    catch (const std::exception& failure)
    {
        std::fprintf(stderr, "bench: %s\n", failure.what());
        return 1;
    }
}
