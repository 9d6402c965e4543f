// The real uxlink.exe under Wine, through its real request pipe, with
// service_client.exe as the service side; raw frames where a test needs bytes that
// no well-behaved client would send.
#include "PipeTestClient.h"
#include "messages/PipeFrame.h"
#include "messages/UPipeMessage.h"
#include "startup/GF_SupportFunctions.h"
#include "support/BridgeTestSupport.h"
#include "support/MessagePump.h"
#include "support/TestClipboard.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <future>
#include <random>

namespace
{

using namespace std::chrono_literals;
using server_test::TPipeTestClient;
using test_support::RunServiceClient;
using test_support::TChildProcess;
using test_support::AnswerOf;
using test_support::TToolResult;

const std::wstring Tag = L"[TCalcRequestDispatcher.InternalProcessRequest]";

// One bridge for the whole suite; starting it is the slow part.
class RequestServerEndToEnd : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        EnsureBridgeLogFolder();
        Bridge = std::make_unique<TChildProcess>(L"uxlink.exe", L"-name=Demo -version=1.0 -pid=1");
        PipeName = BridgePipeName(Bridge->Pid());
    }
    static void TearDownTestSuite() { Bridge.reset(); }

    void SetUp() override { ASSERT_TRUE(WaitForPipe(PipeName)); }

    static std::wstring Pid() { return std::to_wstring(Bridge->Pid()); }

    static std::unique_ptr<TChildProcess> Bridge;
    static std::wstring PipeName;
};

std::unique_ptr<TChildProcess> RequestServerEndToEnd::Bridge;
std::wstring RequestServerEndToEnd::PipeName;

TEST_F(RequestServerEndToEnd, TheBridgeServesItsOwnPipeFromTheStart)
{
    EXPECT_TRUE(test_support::WaitForLogLine(Bridge->Pid(), L"[TNamedPipeServer.Create] " + PipeName));
    TPipeTestClient client(PipeName);
    ASSERT_TRUE(client.Connected());
    ULONG serverPid = 0;
    ASSERT_TRUE(GetNamedPipeServerProcessId(client.Handle(), &serverPid));
    EXPECT_EQ(serverPid, Bridge->Pid());
}

TEST_F(RequestServerEndToEnd, SuinfoAnswersTheFourPairsInOrder)
{
    TToolResult result = RunServiceClient(Pid() + L" SUINFO");
    ASSERT_EQ(result.ExitCode, 0u);
    TTPPipeMessage answer = AnswerOf(result);
    EXPECT_EQ(answer.Name(), L"Result");
    std::vector<std::wstring> keys;
    for (const std::wstring& entry : answer.DataList())
        keys.push_back(entry.substr(0, entry.find(L'=')));
    EXPECT_EQ(keys, (std::vector<std::wstring>{L"nome_utente", L"desktop_utente", L"tempdir_utente", L"local_appdata"}));
    EXPECT_TRUE(test_support::WaitForLogLine(Bridge->Pid(), L"[TTCalcRequestDispatcher.InternalProcessRequest] - "
                                                            L"desktop_utente: " + answer.GetData(L"desktop_utente")));
}

TEST_F(RequestServerEndToEnd, OpenurlWithAnEmptyUrlIsAnsweredOk)
{
    TToolResult result = RunServiceClient(Pid() + L" OPENURL");
    ASSERT_EQ(result.ExitCode, 0u);
    EXPECT_EQ(AnswerOf(result).AsString(), TTPPipeMessage::MakeMessage(L"Result", {L"Result"}, {L"OK"}));
}

TEST_F(RequestServerEndToEnd, ALowerCaseCommandGetsNoAnswer)
{
    TToolResult result = RunServiceClient(Pid() + L" openurl URL=https://example.invalid/");
    EXPECT_EQ(result.ExitCode, 3u) << "service_client's code for: closed without an answer";
    EXPECT_TRUE(result.Output.empty());
    EXPECT_TRUE(test_support::WaitForLogLine(
        Bridge->Pid(), Tag + L" BEGIN: " + TTPPipeMessage::MakeMessage(L"openurl", {L"URL"}, {L"https://example.invalid/"})));
}

TEST_F(RequestServerEndToEnd, ReqclbrhReportsTheFilesAnotherProgramPutOnTheClipboard)
{
    test_support::TTestClipboard clipboard;
    clipboard.PutFiles({L"C:\\users\\Public\\a.txt", L"C:\\users\\Public\\b c.txt"});
    // The clipboard's owner is this thread's window: keep its messages flowing
    // while the bridge reads what it put there.
    auto running = std::async(std::launch::async, [] { return RunServiceClient(Pid() + L" REQCLBRH"); });
    ASSERT_TRUE(test_support::PumpUntil([&] { return running.wait_for(0ms) == std::future_status::ready; }, 30s));
    TToolResult result = running.get();
    ASSERT_EQ(result.ExitCode, 0u);
    EXPECT_EQ(AnswerOf(result).DataList(),
              (std::vector<std::wstring>{L"0=C:\\users\\Public\\a.txt", L"1=C:\\users\\Public\\b c.txt"}));
}

TEST_F(RequestServerEndToEnd, GarbageNeverStopsTheServerAndAGoodRequestIsAnsweredAfterwards)
{
    std::mt19937 random(20261210);
    auto randomBytes = [&random](std::size_t ASize) {
        std::string bytes(ASize, '\0');
        for (char& byte : bytes)
            byte = static_cast<char>(random() & 0xFF);
        return bytes;
    };
    auto lengthBytes = [](std::uint32_t ALength) {
        auto bytes = PipeFrame::EncodeLength(ALength);
        return std::string(bytes.begin(), bytes.end());
    };

    // What the client sees: the connection closed without an answer, an answer or
    // none (the server may make sense of it), or nothing for a while: a cut frame
    // is dropped after the silence limit.
    enum class TSees
    {
        NoAnswer,
        Either,
        CutShort
    };
    struct TGarbage
    {
        std::string Bytes;
        TSees Sees;
    };
    const std::wstring noEnvelope = L"BEGIN only: this is no envelope";
    std::vector<TGarbage> garbage = {
        {lengthBytes(0), TSees::NoAnswer},
        {lengthBytes(0x80000000u), TSees::NoAnswer},
        {lengthBytes(PipeFrame::MaxPayloadBytes + 1) + "abc", TSees::NoAnswer},
        {lengthBytes(7) + "1234567", TSees::NoAnswer}, // odd byte count
        {PipeFrame::EncodeFrame(L"{\"command\":"), TSees::NoAnswer},
        {PipeFrame::EncodeFrame(L"{\"command\":\"SUINFO\",\"parameters\":[1,2]}"), TSees::Either},
        {PipeFrame::EncodeFrame(noEnvelope), TSees::NoAnswer},
    };
    for (int i = 0; i < 10; ++i)
    {
        std::uint32_t size = random() % 3000 + 1;
        // Random UTF-16 is no envelope, so it has no command to answer.
        garbage.push_back({lengthBytes(size) + randomBytes(size), TSees::NoAnswer});
    }
    garbage.push_back({lengthBytes(100) + randomBytes(50), TSees::CutShort});

    std::vector<std::unique_ptr<TPipeTestClient>> cutShort;
    for (std::size_t i = 0; i < garbage.size(); ++i)
    {
        auto client = std::make_unique<TPipeTestClient>(PipeName);
        ASSERT_TRUE(client->Connected()) << "garbage #" << i;
        ASSERT_TRUE(client->Write(garbage[i].Bytes)) << "garbage #" << i;
        if (garbage[i].Sees == TSees::CutShort)
        {
            cutShort.push_back(std::move(client));
            continue;
        }
        std::vector<std::string> messages = client->ReadAllMessages();
        EXPECT_FALSE(client->TimedOut()) << "garbage #" << i;
        if (garbage[i].Sees == TSees::NoAnswer)
        {
            EXPECT_TRUE(messages.empty()) << "garbage #" << i;
        }
    }
    for (auto& client : cutShort)
    {
        EXPECT_TRUE(client->ReadAllMessages().empty());
        EXPECT_FALSE(client->TimedOut()) << "a cut frame must be dropped, not kept forever";
    }

    EXPECT_TRUE(test_support::WaitForLogLine(Bridge->Pid(), Tag + L" BEGIN: " + noEnvelope));
    TToolResult result = RunServiceClient(Pid() + L" SUINFO --timeout=20000");
    ASSERT_EQ(result.ExitCode, 0u);
    EXPECT_EQ(AnswerOf(result).Name(), L"Result");
    DWORD exitCode = 0;
    EXPECT_FALSE(Bridge->WaitForExit(0ms, exitCode)) << "the bridge must still run";
}

TEST(ServiceClient, SaysClearlyWhenThereIsNoBridgeOrTheArgumentsAreWrong)
{
    // A pid that no process has: Windows pids are multiples of 4.
    EXPECT_EQ(RunServiceClient(L"3 SUINFO --timeout=300").ExitCode, 2u);
    EXPECT_EQ(RunServiceClient(L"SUINFO").ExitCode, 1u);
    EXPECT_EQ(RunServiceClient(L"12 SUINFO novalue").ExitCode, 1u);
}

// Under Wine the shell has no Explorer window collection, so the bridge finds no
// drop folder: no answer after its wait. The detection outlives the request (Wine
// takes about 10 s to refuse the collection), and the bridge goes on serving.
TEST_F(RequestServerEndToEnd, ReqmotcbWithoutAnExplorerWindowGetsNoAnswerAndTheBridgeServesOn)
{
    auto start = std::chrono::steady_clock::now();
    TToolResult result = RunServiceClient(Pid() + L" REQMOTCB PEER=viewer-7");
    EXPECT_EQ(result.ExitCode, 3u) << "service_client's code for: closed without an answer";
    EXPECT_GE(std::chrono::steady_clock::now() - start, 2000ms);
    EXPECT_TRUE(test_support::WaitForLogLine(
        Bridge->Pid(), Tag + L" BEGIN: " + TTPPipeMessage::MakeMessage(L"REQMOTCB", {L"PEER"}, {L"viewer-7"})));
    EXPECT_EQ(AnswerOf(RunServiceClient(Pid() + L" SUINFO")).Name(), L"Result");
}

} // namespace
