// Requests that a hostile service side can send inside the frame's bound, through
// the real pipe of the real uxlink.exe: nesting far deeper than any envelope, tens
// of thousands of parameters, and a crowd of clients that connect and say nothing.
// None of them may stop the request server or hold up a good request for long.
#include "LoadFixture.h"

#include "messages/PipeFrame.h"

#include <chrono>

using namespace std::chrono_literals;

namespace load
{
namespace
{

constexpr std::size_t DeepLevels = 100000;

std::wstring DeepArrays() { return std::wstring(DeepLevels, L'[') + std::wstring(DeepLevels, L']'); }

class HostilePeerTest : public BridgeFixture
{
protected:
    void ExpectStillServing()
    {
        EXPECT_TRUE(Bridge().Running()) << "the bridge ended";
        EXPECT_TRUE(IsUserInfoAnswer(Ask(PipeName(), Request(L"SUINFO")))) << "the next request was not answered";
    }
};

TEST_F(HostilePeerTest, RequestsNestedDeepGetNoAnswerAndTheNextRequestIsServed)
{
    StartBridge(DefaultArguments());
    TWatchdog watchdog(Bridge(), 60s);
    const std::wstring requests[] = {
        L"{\"command\":\"SUINFO\",\"parameters\":{\"a\":" + DeepArrays() + L"}}",
        L"{\"command\":" + DeepArrays() + L",\"parameters\":{}}",
    };
    for (const std::wstring& request : requests)
    {
        ASSERT_LT(request.size() * 2, PipeFrame::MaxPayloadBytes);
        EXPECT_FALSE(Ask(PipeName(), request)) << "a text that is no envelope was answered";
        // As any text that is no envelope: its BEGIN line, and nothing else.
        EXPECT_TRUE(test_support::WaitForLogLine(
            Pid(), L"[TCalcRequestDispatcher.InternalProcessRequest] BEGIN: " + request.substr(0, 40)));
        ExpectStillServing();
    }
    ASSERT_FALSE(watchdog.Fired());
}

TEST_F(HostilePeerTest, FortyThousandParametersAndTheNextRequestTakeUnderThreeSeconds)
{
    StartBridge(DefaultArguments());
    TWatchdog watchdog(Bridge(), 60s);
    ASSERT_TRUE(IsUserInfoAnswer(Ask(PipeName(), Request(L"SUINFO"))));

    std::vector<std::wstring> keys;
    for (int i = 0; i < 40000; ++i)
        keys.push_back(std::to_wstring(i));
    const std::wstring crowded = Request(L"SUINFO", keys, std::vector<std::wstring>(keys.size(), L"v"));
    ASSERT_LT(crowded.size() * 2, PipeFrame::MaxPayloadBytes);

    auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(IsUserInfoAnswer(Ask(PipeName(), crowded)));
    EXPECT_TRUE(IsUserInfoAnswer(Ask(PipeName(), Request(L"SUINFO"))));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
    ASSERT_FALSE(watchdog.Fired());
}

// The silence limit runs from each client's connection, so clients that came
// together expire together: the good request waits about 5 s, not 5 s per client.
TEST_F(HostilePeerTest, TwentySilentClientsDelayAGoodOneByOneSilenceLimitInAll)
{
    StartBridge(DefaultArguments());
    TWatchdog watchdog(Bridge(), 90s);
    ASSERT_TRUE(IsUserInfoAnswer(Ask(PipeName(), Request(L"SUINFO"))));

    std::vector<TUniqueHandle> silent;
    for (int i = 0; i < 20; ++i)
        silent.push_back(Connect(PipeName()));
    auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(IsUserInfoAnswer(Ask(PipeName(), Request(L"SUINFO"))));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 8s);
    for (const TUniqueHandle& pipe : silent)
        EXPECT_FALSE(ReadAnswer(pipe.Get())) << "a silent client got an answer";
    ASSERT_FALSE(watchdog.Fired());
}

} // namespace
} // namespace load
