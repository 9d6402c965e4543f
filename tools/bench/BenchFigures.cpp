#include "BenchFigures.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace bench
{

namespace
{

double CounterFrequency()
{
    static const double frequency = [] {
        LARGE_INTEGER value{};
        QueryPerformanceFrequency(&value);
        return static_cast<double>(value.QuadPart);
    }();
    return frequency;
}

std::string Format(const char* pattern, double value)
{
    char text[64];
    std::snprintf(text, sizeof(text), pattern, value);
    return text;
}

// Microseconds with a precision that suits their size.
std::string Micros(double value)
{
    return Format(value < 10 ? "%.2f" : value < 1000 ? "%.1f" : "%.0f", value);
}

std::string SummaryText(const TSummary& summary)
{
    return Micros(summary.Min) + " / " + Micros(summary.Median) + " / " + Micros(summary.P99) + " us";
}

std::string RatioText(double ratio)
{
    return std::isfinite(ratio) ? Format("%.2fx", ratio) : "-";
}

double SafeRatio(double numerator, double denominator)
{
    return denominator > 0 ? numerator / denominator : NAN;
}

} // namespace

double TStopwatch::ElapsedMicroseconds() const noexcept
{
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart - FStart.QuadPart) * 1e6 / CounterFrequency();
}

TSummary Summarize(std::vector<double> Samples)
{
    TSummary summary;
    summary.Count = Samples.size();
    if (Samples.empty())
        return summary;
    std::sort(Samples.begin(), Samples.end());
    auto rank = [&](double share) {
        auto index = static_cast<std::size_t>(std::ceil(share * double(Samples.size()))) - 1;
        return Samples[std::min(index, Samples.size() - 1)];
    };
    summary.Min = Samples.front();
    summary.Median = rank(0.5);
    summary.P99 = rank(0.99);
    return summary;
}

void TBenchTable::AddLatency(const std::string& Measure, const TSummary& Bridge, const TSummary& Bare,
                             std::optional<double> MaxRatio)
{
    double ratio = SafeRatio(Bridge.Median, Bare.Median);
    TRow row{Measure, SummaryText(Bridge), SummaryText(Bare), RatioText(ratio), "-", std::nullopt};
    if (MaxRatio)
    {
        row.Target = "median <= " + Format("%.1fx", *MaxRatio);
        row.Met = std::isfinite(ratio) && ratio <= *MaxRatio;
    }
    FRows.push_back(row);
}

void TBenchTable::AddRate(const std::string& Measure, const std::string& Unit, double Bridge, double Bare,
                          double MinRatio)
{
    double ratio = SafeRatio(Bridge, Bare);
    FRows.push_back({Measure, Format("%.0f ", Bridge) + Unit, Format("%.0f ", Bare) + Unit, RatioText(ratio),
                     ">= " + Format("%.1fx", MinRatio), std::isfinite(ratio) && ratio >= MinRatio});
}

void TBenchTable::AddLimit(const std::string& Measure, const TSummary& Bridge, double MaxMedianMicroseconds)
{
    FRows.push_back({Measure, SummaryText(Bridge), "-", "-", "median < " + Micros(MaxMedianMicroseconds) + " us",
                     Bridge.Count > 0 && Bridge.Median < MaxMedianMicroseconds});
}

void TBenchTable::AddGrowth(const std::string& Measure, const std::string& Unit, double Before, double After)
{
    FRows.push_back({Measure, Format("%.0f -> ", Before) + Format("%.0f ", After) + Unit, "-",
                     Format("%+.0f", After - Before), "no growth", After <= Before});
}

void TBenchTable::AddCost(const std::string& Measure, const std::string& Unit, double Bridge, double Bare,
                          std::optional<double> MaxRatio)
{
    double ratio = SafeRatio(Bridge, Bare);
    TRow row{Measure, Format("%.1f ", Bridge) + Unit, Format("%.1f ", Bare) + Unit, RatioText(ratio), "-",
             std::nullopt};
    if (MaxRatio)
    {
        row.Target = *MaxRatio == 1 ? "<= bare" : "<= " + Format("%.1fx", *MaxRatio);
        // A bare figure of zero (no CPU time at all) leaves no room above it.
        row.Met = Bare > 0 ? ratio <= *MaxRatio : Bridge <= 0;
    }
    FRows.push_back(row);
}

void TBenchTable::AddLoss(const std::string& Measure, const std::string& Unit, int Lost, int Total)
{
    FRows.push_back({Measure, std::to_string(Lost) + " of " + std::to_string(Total) + " " + Unit + " lost", "-", "-",
                     "0 lost", Lost == 0});
}

void TBenchTable::AddInfo(const std::string& Measure, const TSummary& Figure)
{
    FRows.push_back({Measure, SummaryText(Figure), "-", "-", "-", std::nullopt});
}

void TBenchTable::AddMissing(const std::string& Measure, const std::string& Reason)
{
    FRows.push_back({Measure, "not measured: " + Reason, "-", "-", "-", std::nullopt});
}

std::string TBenchTable::Render() const
{
    std::string text = "| Measure | uxlink (min / median / p99) | Bare baseline | Ratio | Target | Met |\n"
                       "|---|---|---|---|---|---|\n";
    for (const TRow& row : FRows)
    {
        std::string met = row.Met ? (*row.Met ? "yes" : "NO") : "-";
        text += "| " + row.Measure + " | " + row.Bridge + " | " + row.Bare + " | " + row.Ratio + " | " + row.Target +
                " | " + met + " |\n";
    }
    return text;
}

int TBenchTable::MissedTargets() const
{
    return static_cast<int>(std::count_if(FRows.begin(), FRows.end(),
                                          [](const TRow& row) { return row.Met.has_value() && !*row.Met; }));
}

} // namespace bench
