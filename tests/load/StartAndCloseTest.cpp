// Requests that meet the bridge at its edges: while it is still starting (before
// its tray icon exists) and while "REQCPIPE" closes it with others queued behind.
#include "LoadFixture.h"

#include "messages/PipeFrame.h"
#include "messages/UPipeMessage.h"

#include <atomic>

using namespace std::chrono_literals;

namespace load
{
namespace
{

class StartAndCloseTest : public BridgeFixture
{
};

TEST_F(StartAndCloseTest, RequestsSentFromProcessCreationOnAreAnswered)
{
    StartBridge(DefaultArguments());
    TWatchdog watchdog(Bridge(), 60s);
    // Clients that try from the moment the process exists: the first ones connect
    // as soon as the pipe does, before the tray icon has been put in.
    std::atomic<int> right{0};
    {
        std::vector<std::jthread> clients;
        for (int c = 0; c < 4; ++c)
            clients.emplace_back([&] { right += IsUserInfoAnswer(Ask(PipeName(), Request(L"SUINFO"))); });
        clients.emplace_back([&] {
            right += IsOkAnswer(Ask(PipeName(), Request(L"REQTISHOW", {L"title", L"text", L"iconindex"},
                                                        {L"Early", L"before the icon", L"1"})));
        });
    }
    EXPECT_EQ(right, 5);
    ASSERT_FALSE(watchdog.Fired());
}

TEST_F(StartAndCloseTest, CloseWhileOthersWaitAnswersItAndEndsWithExitCodeZero)
{
    StartBridge(DefaultArguments());
    TWatchdog watchdog(Bridge(), 60s);
    ASSERT_TRUE(IsUserInfoAnswer(Ask(PipeName(), Request(L"SUINFO"))));

    // A client that never speaks keeps the worker busy, so that the requests
    // connected after it queue up in the order of their connections.
    TUniqueHandle silent = Connect(PipeName());
    auto send = [this](const std::wstring& text) {
        TUniqueHandle pipe = Connect(PipeName());
        EXPECT_TRUE(WriteBytes(pipe.Get(), PipeFrame::EncodeFrame(text)));
        return pipe;
    };
    std::vector<TUniqueHandle> before;
    for (int i = 0; i < 3; ++i)
        before.push_back(send(Request(L"SUINFO")));
    TUniqueHandle close = send(Request(L"REQCPIPE"));
    std::vector<TUniqueHandle> after;
    for (int i = 0; i < 3; ++i)
        after.push_back(send(Request(L"SUINFO")));

    for (const TUniqueHandle& pipe : before)
        EXPECT_TRUE(IsUserInfoAnswer(ReadAnswer(pipe.Get())));
    EXPECT_TRUE(IsOkAnswer(ReadAnswer(close.Get())));
    // Those behind the close may be served before the process ends, or find their
    // connection closed: a right answer or none, never a wrong one.
    for (const TUniqueHandle& pipe : after)
    {
        std::optional<std::wstring> answer = ReadAnswer(pipe.Get());
        EXPECT_TRUE(!answer || IsUserInfoAnswer(answer));
    }

    DWORD exitCode = 1;
    ASSERT_TRUE(Bridge().WaitForExit(15s, exitCode)) << "the bridge did not end after REQCPIPE";
    EXPECT_EQ(exitCode, 0u);
    ASSERT_FALSE(watchdog.Fired());
}

} // namespace
} // namespace load
