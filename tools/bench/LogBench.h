// What the log costs: Log() as the caller pays for it, from one and from four
// threads, and how fast the worker drains queued lines against a bare
// open-append-close loop on the same folder.
#pragma once

#include "BenchFigures.h"

namespace bench
{

struct TLogBenchOptions
{
    // Shared among the threads of the four-thread run.
    int Calls = 20000;
    int DrainLines = 5000;
};

void RunLogBench(const TLogBenchOptions& Options, TBenchTable& Table);

} // namespace bench
