// The measuring frame of the benchmark: a QueryPerformanceCounter stopwatch, the
// min / median / p99 of a set of samples, and the table the benchmark prints.
// The table's marks are for the report only; a missed target never changes the
// exit code, since Wine's figures say little about Windows's.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace bench
{

class TStopwatch
{
public:
    TStopwatch() { Restart(); }
    void Restart() noexcept { QueryPerformanceCounter(&FStart); }
    [[nodiscard]] double ElapsedMicroseconds() const noexcept;
    [[nodiscard]] double ElapsedSeconds() const noexcept { return ElapsedMicroseconds() / 1e6; }

private:
    LARGE_INTEGER FStart{};
};

// Latencies in microseconds, in any order.
struct TSummary
{
    double Min = 0;
    double Median = 0;
    double P99 = 0;
    std::size_t Count = 0;
};

TSummary Summarize(std::vector<double> Samples);

class TBenchTable
{
public:
    // Lower is better: the bridge's median against the baseline's, within MaxRatio
    // (without one: shown for comparison only).
    void AddLatency(const std::string& Measure, const TSummary& Bridge, const TSummary& Bare,
                    std::optional<double> MaxRatio);
    // Higher is better: the bridge's rate against the baseline's, at least MinRatio.
    void AddRate(const std::string& Measure, const std::string& Unit, double Bridge, double Bare, double MinRatio);
    // A latency with an absolute limit on its median and no baseline.
    void AddLimit(const std::string& Measure, const TSummary& Bridge, double MaxMedianMicroseconds);
    // A count that must not grow from Before to After (handles, threads, bytes).
    void AddGrowth(const std::string& Measure, const std::string& Unit, double Before, double After);
    // The bridge against a bare program on a cost where at most MaxRatio times the
    // baseline is allowed; MaxRatio 1 means "nothing beyond the baseline" (without
    // one: shown for comparison only).
    void AddCost(const std::string& Measure, const std::string& Unit, double Bridge, double Bare,
                 std::optional<double> MaxRatio);
    // Of Total things sent, Lost did not arrive; the target is none lost.
    void AddLoss(const std::string& Measure, const std::string& Unit, int Lost, int Total);
    // A latency shown to explain another row, without a target.
    void AddInfo(const std::string& Measure, const TSummary& Figure);
    // A row that could not be measured, with the reason.
    void AddMissing(const std::string& Measure, const std::string& Reason);

    // Markdown, so that the README can carry the table as printed.
    [[nodiscard]] std::string Render() const;
    [[nodiscard]] int MissedTargets() const;

private:
    struct TRow
    {
        std::string Measure;
        std::string Bridge;
        std::string Bare;
        std::string Ratio;
        std::string Target;
        std::optional<bool> Met;
    };
    std::vector<TRow> FRows;
};

} // namespace bench
