// What reading and writing an envelope costs, in-process: a peer's envelope of
// 40,000 parameters (just under the frame's 1 MiB) beside an ordinary one of 10.
#pragma once

#include "BenchFigures.h"

namespace bench
{

struct TEnvelopeBenchOptions
{
    // Conversions timed per figure.
    int Runs = 20;
};

void RunEnvelopeBench(const TEnvelopeBenchOptions& Options, TBenchTable& Table);

} // namespace bench
