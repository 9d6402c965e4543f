// The bridge (uxlink.exe, started from the benchmark's folder) measured through
// its real pipe, each figure beside the same figure of a bare program.
#pragma once

#include "BenchFigures.h"

namespace bench
{

struct TBridgeBenchOptions
{
    int RoundTrips = 500;
    int ThroughputRequests = 2000;
    int LoadRequests = 10000;
    int Starts = 5;
    int IdleSeconds = 60;
    // Bridges logging into the day's file at once, and the lines each logs.
    int SharingBridges = 8;
    int SharedLines = 300;
    // Bridges started at once in the logon storm, and the lines each logs after
    // its "SUINFO" answer.
    int StormBridges = 20;
    int StormLines = 10;
};

// Failed exchanges are counted in FailedExchanges; a bridge that does not serve
// its pipe leaves its rows as not measured.
void RunBridgeBench(const TBridgeBenchOptions& Options, TBenchTable& Table, int& FailedExchanges);

} // namespace bench
