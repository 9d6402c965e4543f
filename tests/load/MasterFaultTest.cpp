// The master process missing, slow, answering garbage or hanging while the bridge
// announces the user at start-up: the send ends as its log lines say, and the
// request server and the tray answer all the while. The master stand-in plays the master.
#include "LoadFixture.h"

#include "support/MasterStandIn.h"

#include <algorithm>

using namespace std::chrono_literals;

namespace load
{
namespace
{

struct TMasterCase
{
    const char* Name;
    // Options of master_standin; none: no master process at all.
    const wchar_t* StandInOptions;
    // The log line (or its start) that ends the send.
    const wchar_t* FinalLine;
    // The send is still running a second after start, so its threads can be seen.
    bool LastsSeconds;
};

const TMasterCase MasterCases[] = {
    {"missing", nullptr, L"[TTHSendMSGToMasterPipe.SendUserInfo] pipe not connected  ", false},
    {"slow", L"-delay=3000", L"[TTHSendMSGToMasterPipe.SendUserInfo]  Result  OK", true},
    // An answer that announces more than any answer may hold is refused unread.
    {"garbage", L"-length=4000000000", L"[THSendMSGToMasterPipe]SUINFO terminate afther ", false},
    // Reads with no end in sight are cancelled when the watcher gives up.
    {"hanging", L"-noanswer", L"[THSendMSGToMasterPipe]SUINFO force terminate afther ", true},
    {"half an answer", L"-length=64", L"[THSendMSGToMasterPipe]SUINFO force terminate afther ", true},
    // No envelope nests like that: an answer that is not one, read without
    // recursing on it.
    {"nested deep", L"-deep=100000", L"[THSendMSGToMasterPipe]SUINFO terminate afther ", false},
    // A byte at a time would take many minutes: the exchange ends with the watcher.
    {"trickling", L"-deep=200000 -split=1", L"[THSendMSGToMasterPipe]SUINFO force terminate afther ", true},
};

class MasterFaultTest : public BridgeFixture, public ::testing::WithParamInterface<TMasterCase>
{
};

TEST_P(MasterFaultTest, SendEndsAsLoggedWhileRequestsAreServed)
{
    const TMasterCase& row = GetParam();
    std::optional<test_support::TStandIn> master;
    std::wstring masterPid = std::to_wstring(GetCurrentProcessId()); // serves no master pipe
    if (row.StandInOptions != nullptr)
        masterPid = master.emplace(row.StandInOptions).ServedPid();
    StartBridge(L"-name=Load -version=1.0 -pid=" + masterPid);
    TWatchdog watchdog(Bridge(), 60s);

    ASSERT_TRUE(IsUserInfoAnswer(Ask(PipeName(), Request(L"SUINFO"))));
    TResourceLevel duringSend = ResourceLevelOf(Pid());
    for (int i = 0; i < 5; ++i)
        EXPECT_TRUE(IsUserInfoAnswer(Ask(PipeName(), Request(L"SUINFO")))) << "request " << i;
    // A balloon is shown on the main thread, which the send must not hold up either.
    EXPECT_TRUE(IsOkAnswer(Ask(PipeName(), Request(L"REQTISHOW", {L"title", L"text", L"iconindex"},
                                                  {L"Master", L"while the master is away", L"1"}))));

    EXPECT_TRUE(test_support::WaitForLogLine(Pid(), row.FinalLine, 30s));
    if (row.LastsSeconds)
    {
        // The watcher and the send thread are gone once the send has ended.
        TResourceLevel after;
        test_support::Eventually([&] {
            after = ResourceLevelOf(Pid());
            return after.Threads + 2 <= duringSend.Threads;
        });
        EXPECT_LE(after.Threads + 2, duringSend.Threads);
    }
    EXPECT_TRUE(IsUserInfoAnswer(Ask(PipeName(), Request(L"SUINFO"))));
    ASSERT_FALSE(watchdog.Fired());
}

INSTANTIATE_TEST_SUITE_P(Master, MasterFaultTest, ::testing::ValuesIn(MasterCases),
                         [](const ::testing::TestParamInfo<TMasterCase>& row) {
                             std::string name = row.param.Name;
                             std::replace(name.begin(), name.end(), ' ', '_');
                             return name;
                         });

} // namespace
} // namespace load
