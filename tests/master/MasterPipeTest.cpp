// The master-pipe client against master_standin.exe, the stand-in for the master
// process. The stand-in must be another process: under Wine the pipe's server
// process id is reported only across processes, and the client refuses a pipe that
// is not served by the master process.
#include "base/TextConversion.h"
#include "master/UN_TPFunction.h"
#include "startup/GF_SupportFunctions.h"
#include "startup/UN_SystemFolders.h"
#include "support/BridgeTestSupport.h"
#include "support/MasterStandIn.h"
#include "support/OwnLog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using test_support::Eventually;
using test_support::LogLinesOf;
using test_support::TChildProcess;
using test_support::TStandIn;
using test_support::WaitForLogLine;

namespace
{

// Numbers that are never process ids (Windows ids are multiples of 4), so no
// other process serves their pipe names.
constexpr const wchar_t* AbsentPid = L"999997";
constexpr const wchar_t* SquattedPid = L"999998";

// Runs a synchronous send on a thread of its own, so that a send blocked for ever
// fails the test instead of hanging it: killing the stand-in breaks the pipe.
bool SendGuarded(TStandIn& StandIn, const std::function<bool()>& Send)
{
    std::packaged_task<bool()> task(Send);
    std::future<bool> outcome = task.get_future();
    std::jthread sender(std::move(task));
    if (outcome.wait_for(20s) != std::future_status::ready)
    {
        ADD_FAILURE() << "the send is still blocked after 20 s";
        StandIn.Kill();
    }
    return outcome.get();
}

std::vector<std::wstring> Names(const TTPPipeMessage& Message)
{
    std::vector<std::wstring> names;
    for (const std::wstring& entry : Message.DataList())
        names.push_back(entry.substr(0, entry.find(L'=')));
    return names;
}

// ---------------------------------------------------------------- send operations, in process

struct TAnswerCase
{
    const char* Why;
    const wchar_t* Options;
    bool Outcome;
};

const TAnswerCase AnswerCases[] = {
    {"the OK answer", L"", true},
    {"the OK answer written byte by byte, its length prefix too", L"-split=1", true},
    {"another value", L"-value=NO", false},
    {"another name", L"-name=Other", false},
    {"a zero-length answer", L"-length=0", false},
    {"a length just above 1 MiB is refused, not waited for", L"-length=1048577", false},
    {"a length negative as a signed number", L"-length=4294967295", false},
    {"an answer named Result but nested 100,000 levels deep is no envelope", L"-deep=100000", false},
};

TEST(MasterPipeSend, OutcomeOfEachKindOfAnswer)
{
    for (const TAnswerCase& c : AnswerCases)
    {
        SCOPED_TRACE(c.Why);
        TStandIn standIn(std::wstring(c.Options) + L" -requests=1");
        TTHSendMSGToMasterPipe send(L"WAKEUPNEO", standIn.ServedPid(), MasterSendWatchLimit);
        EXPECT_EQ(SendGuarded(standIn, [&] { return send.SendWakeUpNeo(); }), c.Outcome);
        EXPECT_TRUE(standIn.Exited()) << "the client kept the pipe open";
        auto envelopes = standIn.Envelopes();
        ASSERT_EQ(envelopes.size(), 1u);
        EXPECT_EQ(envelopes[0].AsString(), LR"({"command":"WAKEUPNEO","parameters":{}})");
    }
}

TEST(MasterPipeSend, EachOperationSendsItsCommand)
{
    using TOperation = bool (TTHSendMSGToMasterPipe::*)();
    const std::pair<TOperation, const wchar_t*> operations[] = {
        {&TTHSendMSGToMasterPipe::SendUserInfo, L"SUINFO"},
        {&TTHSendMSGToMasterPipe::SendWakeUpNeo, L"WAKEUPNEO"},
        {&TTHSendMSGToMasterPipe::SendLogout, L"REQLOGOUT"},
        {&TTHSendMSGToMasterPipe::SendDisableUnattendedAccess, L"REQDISERVICE"},
        {&TTHSendMSGToMasterPipe::SendQuit, L"REQQUIT"},
    };
    TStandIn standIn(L"");
    for (const auto& [operation, command] : operations)
    {
        TTHSendMSGToMasterPipe send(command, standIn.ServedPid(), MasterSendWatchLimit);
        EXPECT_TRUE(SendGuarded(standIn, [&] { return (send.*operation)(); })) << WideToUtf8(command);
    }
    auto envelopes = standIn.Envelopes();
    ASSERT_EQ(envelopes.size(), std::size(operations));
    for (std::size_t i = 0; i < envelopes.size(); ++i)
    {
        EXPECT_EQ(envelopes[i].Name(), operations[i].second);
        EXPECT_EQ(envelopes[i].DataList().empty(), i != 0);
    }
    EXPECT_EQ(Names(envelopes[0]),
              (std::vector<std::wstring>{L"nome_utente", L"desktop_utente", L"tempdir_utente", L"local_appdata"}));
    EXPECT_EQ(envelopes[0].GetData(L"nome_utente"), GetLoggedUserName());
    EXPECT_EQ(envelopes[0].GetData(L"desktop_utente"), GetDesktopFolder());
    EXPECT_EQ(envelopes[0].GetData(L"tempdir_utente"), GetTempFolder());
    EXPECT_EQ(envelopes[0].GetData(L"local_appdata"), GetLocalAppDataFolder());
}

TEST(MasterPipeSend, AbsentPipeFails)
{
    TTHSendMSGToMasterPipe send(L"REQQUIT", AbsentPid, MasterSendWatchLimit);
    EXPECT_FALSE(send.SendQuit());
}

TEST(MasterPipeSend, PipeServedByAnotherProcessGetsNothing)
{
    TStandIn squatter(L"-requests=1", SquattedPid);
    TTHSendMSGToMasterPipe send(L"REQLOGOUT", SquattedPid, MasterSendWatchLimit);
    EXPECT_FALSE(SendGuarded(squatter, [&] { return send.SendLogout(); }));
    EXPECT_TRUE(squatter.Exited());
    EXPECT_TRUE(squatter.Envelopes().empty());
}

// What the watcher does when it gives up, by hand: a send blocked on a master
// that never answers is cancelled, ends, and closes its pipe.
TEST(MasterPipeSend, CancelEndsASendBlockedOnASilentMaster)
{
    TStandIn silent(L"-noanswer -requests=1");
    auto send = std::make_shared<TTHSendMSGToMasterPipe>(L"WAKEUPNEO", silent.ServedPid(), MasterSendWatchLimit);
    std::jthread sendThread([send] { send->Execute(); });

    // No ASSERT here: the stand-in must be killed below before the send thread is
    // joined, or a failing cancel would hang the test.
    EXPECT_TRUE(Eventually([&] { return !silent.Envelopes().empty(); }));
    EXPECT_EQ(silent.Envelopes().size(), 1u);
    // The point of this pause: the send, now in its read of the answer, stays
    // there while nobody cancels it.
    std::this_thread::sleep_for(100ms);
    EXPECT_FALSE(send->Finish());

    // A cancel that comes between two of the send's calls finds nothing to cancel,
    // so it is repeated until the send has ended.
    EXPECT_TRUE(Eventually(
        [&] {
            send->CancelPendingIo();
            return send->WaitFinish(20ms);
        },
        5s));
    EXPECT_TRUE(silent.Exited()) << "the send thread kept the pipe open";
    if (!send->Finish())
        silent.Kill();
}

// The watcher itself, with a short limit (the program's 10 s is held by
// BridgeSendsUserInfo.SilentMasterIsGivenUpAndTheSendThreadEnds): it gives up on a
// silent master after its limit, logs so, and its cancel ends the send thread.
TEST(MasterPipeWatcher, GivesUpOnASilentMasterAfterItsLimitAndEndsTheSend)
{
    constexpr auto Limit = 300ms;
    TStandIn silent(L"-noanswer -requests=1");
    std::size_t first = test_support::OwnLogLineCount();
    SendMSGToMasterPipe(L"WAKEUPNEO", silent.ServedPid(), Limit);

    const std::wstring forced = L"[THSendMSGToMasterPipe]WAKEUPNEO force terminate afther ";
    const std::wstring end = L"[TTHSendMSGToMasterPipe.Execute ] END WAKEUPNEO";
    bool ended = test_support::WaitForOwnLogLine(end);
    EXPECT_TRUE(ended);
    if (!ended)
        silent.Kill(); // the send thread is detached; let it end before the test program does
    EXPECT_TRUE(silent.Exited()) << "the send thread kept the pipe open";

    std::vector<std::wstring> lines;
    for (const std::wstring& line : test_support::OwnLogLinesFrom(first))
        if (line.find(L"MasterPipe") != std::wstring::npos)
            lines.push_back(line);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], L"[TTHSendMSGToMasterPipe.Execute ] Start WAKEUPNEO");
    ASSERT_EQ(lines[1].rfind(forced, 0), 0u) << WideToUtf8(lines[1]);
    EXPECT_GT(std::stoll(lines[1].substr(forced.size())), Limit.count());
    EXPECT_EQ(lines[2], end);
}

// ---------------------------------------------------------------- the bridge's start-up send

class BridgeSendsUserInfo : public testing::Test
{
protected:
    void SetUp() override { EnsureBridgeLogFolder(); }

    // The send thread's lines; the watcher's line may come before or after END.
    static std::vector<std::wstring> SendLines(DWORD BridgePid)
    {
        std::vector<std::wstring> lines;
        for (const std::wstring& line : LogLinesOf(BridgePid))
            if (line.rfind(L"[TTHSendMSGToMasterPipe.", 0) == 0)
                lines.push_back(line);
        return lines;
    }

    // The milliseconds of the watcher's line that starts with Prefix; -1 when absent.
    static long long WatcherMilliseconds(DWORD BridgePid, const std::wstring& Prefix)
    {
        for (const std::wstring& line : LogLinesOf(BridgePid))
            if (line.rfind(Prefix, 0) == 0)
                return std::stoll(line.substr(Prefix.size()));
        return -1;
    }
};

TEST_F(BridgeSendsUserInfo, ToTheMasterNamedOnItsCommandLine)
{
    TStandIn master(L"-requests=1");
    TChildProcess bridge(L"uxlink.exe", L"-name=Test -pid=" + master.ServedPid());
    ASSERT_TRUE(WaitForLogLine(bridge.Pid(), L"[THSendMSGToMasterPipe]SUINFO terminate afther "));
    ASSERT_TRUE(WaitForLogLine(bridge.Pid(), L"[TTHSendMSGToMasterPipe.Execute ] END SUINFO"));

    EXPECT_EQ(SendLines(bridge.Pid()), (std::vector<std::wstring>{
                         L"[TTHSendMSGToMasterPipe.Execute ] Start SUINFO",
                         L"[TTHSendMSGToMasterPipe.SendUserInfo]  Result  OK",
                         L"[TTHSendMSGToMasterPipe.SendUserInfo]  CloseHandle(pipe) ",
                         L"[TTHSendMSGToMasterPipe.Execute ] END SUINFO",
                     }));

    EXPECT_TRUE(master.Exited());
    auto envelopes = master.Envelopes();
    ASSERT_EQ(envelopes.size(), 1u);
    EXPECT_EQ(envelopes[0].Name(), L"SUINFO");
    EXPECT_EQ(Names(envelopes[0]),
              (std::vector<std::wstring>{L"nome_utente", L"desktop_utente", L"tempdir_utente", L"local_appdata"}));
}

TEST_F(BridgeSendsUserInfo, AbsentMasterPipeEndsTheSendAtOnce)
{
    TChildProcess bridge(L"uxlink.exe", std::wstring(L"-pid=") + AbsentPid);
    ASSERT_TRUE(WaitForLogLine(bridge.Pid(), L"[THSendMSGToMasterPipe]SUINFO terminate afther "));
    EXPECT_EQ(SendLines(bridge.Pid()), (std::vector<std::wstring>{
                                           L"[TTHSendMSGToMasterPipe.Execute ] Start SUINFO",
                                           L"[TTHSendMSGToMasterPipe.SendUserInfo] pipe not connected  ",
                                           L"[TTHSendMSGToMasterPipe.Execute ] END SUINFO",
                                       }));
    // Four immediate attempts and no waiting for the pipe: far below the watcher's
    // 10 s (typically a few ms); the bound only tells "no wait" from "a wait".
    long long elapsed = WatcherMilliseconds(bridge.Pid(), L"[THSendMSGToMasterPipe]SUINFO terminate afther ");
    EXPECT_GE(elapsed, 0);
    EXPECT_LT(elapsed, 1000);
}

TEST_F(BridgeSendsUserInfo, RefusesAPipeNotServedByTheMaster)
{
    TStandIn squatter(L"-requests=1", SquattedPid);
    TChildProcess bridge(L"uxlink.exe", std::wstring(L"-pid=") + SquattedPid);
    ASSERT_TRUE(WaitForLogLine(bridge.Pid(), L"[TTHSendMSGToMasterPipe.Execute ] END SUINFO"));
    std::vector<std::wstring> lines = SendLines(bridge.Pid());
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[1].rfind(L"[TTHSendMSGToMasterPipe.SendMessageToPipeAndGetResult] EX ", 0), 0u)
        << WideToUtf8(lines[1]);
    EXPECT_EQ(lines[2], L"[TTHSendMSGToMasterPipe.SendUserInfo]  CloseHandle(pipe) ");
    EXPECT_TRUE(squatter.Exited());
    EXPECT_TRUE(squatter.Envelopes().empty());
}

TEST_F(BridgeSendsUserInfo, SilentMasterIsGivenUpAndTheSendThreadEnds)
{
    TStandIn silent(L"-noanswer -requests=1");
    TChildProcess bridge(L"uxlink.exe", L"-pid=" + silent.ServedPid());
    const std::wstring forced = L"[THSendMSGToMasterPipe]SUINFO force terminate afther ";
    ASSERT_TRUE(WaitForLogLine(bridge.Pid(), forced, 30s));
    EXPECT_GT(WatcherMilliseconds(bridge.Pid(), forced), 10000);

    // The watcher's cancel makes the blocked read fail: the send thread closes the
    // pipe (so the stand-in sees its client go) and ends.
    EXPECT_TRUE(WaitForLogLine(bridge.Pid(), L"[TTHSendMSGToMasterPipe.Execute ] END SUINFO"));
    EXPECT_TRUE(silent.Exited());
    EXPECT_EQ(SendLines(bridge.Pid()), (std::vector<std::wstring>{
                                           L"[TTHSendMSGToMasterPipe.Execute ] Start SUINFO",
                                           L"[TTHSendMSGToMasterPipe.SendUserInfo]  CloseHandle(pipe) ",
                                           L"[TTHSendMSGToMasterPipe.Execute ] END SUINFO",
                                       }));

    HWND form = test_support::TopWindowOf(bridge.Pid());
    ASSERT_NE(form, nullptr);
    DWORD_PTR result = 0;
    EXPECT_NE(SendMessageTimeoutW(form, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &result), 0)
        << "the bridge's main thread does not answer";
}

} // namespace
