// The pipe server in this test process, through real pipe connections: framing,
// chunking, ordering, the bounded queue, clients that misbehave, shutdown and the
// pipe's security.
#include "server/UPipeServer.h"

#include "AccessProbe.h"
#include "PipeTestClient.h"
#include "support/OwnLog.h"
#include "messages/PipeFrame.h"
#include "startup/GF_SupportFunctions.h"
#include "support/BridgeTestSupport.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <mutex>
#include <thread>

namespace
{

using namespace std::chrono_literals;
using server_test::TPipeTestClient;

using THandler = std::function<std::wstring(const std::wstring&)>;

// For the tests that need only the silence limit's path, not its figure (the
// program's 5 s is held end to end by HostilePeerTest and RequestServerEndToEnd).
constexpr auto ShortSilenceLimit = 1000ms;

class TTestServer final : public TNamedPipeServer
{
public:
    TTestServer(std::wstring AServerID, THandler AHandler,
                std::chrono::milliseconds AClientSilenceLimit = ClientSilenceLimit)
        : TNamedPipeServer(std::move(AServerID), AClientSilenceLimit), FHandler(std::move(AHandler))
    {
        Start();
    }
    ~TTestServer() override { Shutdown(); }

    using TNamedPipeServer::QueuedHandlers;
    std::atomic<int> Calls{0};

protected:
    std::wstring HandleRequest(const std::wstring& ARequest) override
    {
        ++Calls;
        return FHandler(ARequest);
    }

private:
    THandler FHandler;
};

std::wstring UniqueServerId()
{
    static std::atomic<int> counter{0};
    return L"servertest_" + std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(++counter);
}

std::string LengthBytes(std::uint32_t ALength)
{
    auto bytes = PipeFrame::EncodeLength(ALength);
    return std::string(bytes.begin(), bytes.end());
}

// Lets a test hold the worker inside HandleRequest.
class TGate
{
public:
    void Open()
    {
        std::lock_guard lock(FMutex);
        FOpen = true;
        FChanged.notify_all();
    }
    void Pass()
    {
        std::unique_lock lock(FMutex);
        FEntered = true;
        FChanged.notify_all();
        FChanged.wait(lock, [this] { return FOpen; });
    }
    bool WaitEntered()
    {
        std::unique_lock lock(FMutex);
        return FChanged.wait_for(lock, 10s, [this] { return FEntered; });
    }

private:
    std::mutex FMutex;
    std::condition_variable FChanged;
    bool FOpen = false;
    bool FEntered = false;
};

class PipeServer : public ::testing::Test
{
protected:
    void StartServer(THandler AHandler, std::chrono::milliseconds AClientSilenceLimit = ClientSilenceLimit)
    {
        Server = std::make_unique<TTestServer>(UniqueServerId(), std::move(AHandler), AClientSilenceLimit);
        ASSERT_TRUE(WaitForPipe(Server->PipeName()));
    }

    static std::wstring Echo(const std::wstring& ARequest) { return L"echo " + ARequest; }

    std::unique_ptr<TTestServer> Server;
};

TEST_F(PipeServer, NothingIsWrittenBackForAnEmptyRequestOrAnEmptyAnswer)
{
    StartServer([](const std::wstring& ARequest) { return ARequest == L"quiet" ? L"" : L"loud"; });

    TPipeTestClient empty(Server->PipeName());
    ASSERT_TRUE(empty.Write(LengthBytes(0)));
    EXPECT_TRUE(empty.ReadAllMessages().empty());
    EXPECT_FALSE(empty.TimedOut()) << "the server must close the connection";
    EXPECT_EQ(Server->Calls, 0);

    TPipeTestClient quiet(Server->PipeName());
    ASSERT_TRUE(quiet.WriteRequest(L"quiet"));
    EXPECT_TRUE(quiet.ReadAllMessages().empty()) << "not even a length";
    EXPECT_FALSE(quiet.TimedOut());
    EXPECT_EQ(Server->Calls, 1);
}

TEST_F(PipeServer, ARequestWrittenInPiecesIsReadWhole)
{
    std::wstring received;
    StartServer([&received](const std::wstring& ARequest) {
        received = ARequest;
        return L"ok";
    });
    // 10,000 bytes, with characters outside ASCII and a surrogate pair at the end.
    std::wstring request;
    for (int i = 0; request.size() < 4998; ++i)
        request += static_cast<wchar_t>(i % 3 == 0 ? L'\u00e9' : L'a' + i % 26);
    request += L"\U0001F600";
    ASSERT_EQ(request.size() * 2, 10000u);

    std::string frame = PipeFrame::EncodeFrame(request);
    TPipeTestClient client(Server->PipeName());
    // Pieces that split the length and a character: the server reads bytes, not messages.
    ASSERT_TRUE(client.Write(frame.substr(0, 3)));
    ASSERT_TRUE(client.Write(frame.substr(3, 5001)));
    ASSERT_TRUE(client.Write(frame.substr(5004)));
    EXPECT_EQ(client.ReadAnswer(), L"ok");
    EXPECT_EQ(received, request);
}

TEST_F(PipeServer, ALongAnswerArrivesAsItsLengthThenChunksOf4096Bytes)
{
    std::wstring answer(4500, L'x');
    answer[0] = L'<';
    answer[4499] = L'>';
    StartServer([&answer](const std::wstring&) { return answer; });

    TPipeTestClient client(Server->PipeName());
    ASSERT_TRUE(client.WriteRequest(L"long"));
    std::vector<std::string> messages = client.ReadAllMessages();
    ASSERT_EQ(messages.size(), 4u);
    EXPECT_EQ(messages[0], LengthBytes(9000));
    EXPECT_EQ(messages[1].size(), 4096u);
    EXPECT_EQ(messages[2].size(), 4096u);
    EXPECT_EQ(messages[3].size(), 808u);
    EXPECT_EQ(PipeFrame::DecodeText(messages[1] + messages[2] + messages[3]), answer);
}

TEST_F(PipeServer, WithSixtyFourHandlersQueuedTheNextConnectionWaitsAndAllAreServedInOrder)
{
    TGate gate;
    std::mutex orderMutex;
    std::vector<std::wstring> order;
    StartServer([&](const std::wstring& ARequest) {
        {
            std::lock_guard lock(orderMutex);
            order.push_back(ARequest);
        }
        if (ARequest == L"0")
            gate.Pass();
        return L"answer " + ARequest;
    });

    std::vector<std::unique_ptr<TPipeTestClient>> clients;
    auto connectAndSend = [&](int AIndex) {
        clients.push_back(std::make_unique<TPipeTestClient>(Server->PipeName()));
        ASSERT_TRUE(clients.back()->Connected()) << AIndex;
        ASSERT_TRUE(clients.back()->WriteRequest(std::to_wstring(AIndex))) << AIndex;
    };
    connectAndSend(0);
    ASSERT_TRUE(gate.WaitEntered());
    for (int i = 1; i <= 64; ++i)
        connectAndSend(i);
    ASSERT_TRUE(test_support::Eventually([&] { return Server->QueuedHandlers() == 64; }));

    connectAndSend(65);
    // The point of this pause: for a while, the 65th connection stays out of the queue.
    Sleep(300);
    EXPECT_EQ(Server->QueuedHandlers(), 64) << "the queue must stay bounded";
    EXPECT_TRUE(clients.back()->Waiting());

    gate.Open();
    for (int i = 0; i <= 65; ++i)
        EXPECT_EQ(clients[i]->ReadAnswer(), L"answer " + std::to_wstring(i));
    std::lock_guard lock(orderMutex);
    ASSERT_EQ(order.size(), 66u);
    for (int i = 0; i <= 65; ++i)
        EXPECT_EQ(order[i], std::to_wstring(i));
}

TEST_F(PipeServer, ARequestOverOneMebibyteIsRefusedUnreadAndTheLimitItselfIsServed)
{
    StartServer([](const std::wstring& ARequest) { return L"size " + std::to_wstring(ARequest.size()); });
    std::size_t firstLine = test_support::OwnLogLineCount();

    TPipeTestClient tooLong(Server->PipeName());
    ASSERT_TRUE(tooLong.Write(LengthBytes(PipeFrame::MaxPayloadBytes + 1)));
    EXPECT_TRUE(tooLong.ReadAllMessages().empty());
    EXPECT_FALSE(tooLong.TimedOut()) << "refused at once, not after waiting for the payload";
    EXPECT_EQ(Server->Calls, 0);
    EXPECT_EQ(test_support::CountOwnLogLines(L"[TPipeMessageHandler.Execute] request of 1048577 bytes refused",
                                               firstLine),
              1);

    TPipeTestClient atLimit(Server->PipeName());
    ASSERT_TRUE(atLimit.WriteRequest(std::wstring(PipeFrame::MaxPayloadBytes / 2, L'z')));
    EXPECT_EQ(atLimit.ReadAnswer(), L"size 524288");
}

TEST_F(PipeServer, AClientThatStopsMidFrameIsDroppedAndTheNextOneIsServed)
{
    StartServer(Echo, ShortSilenceLimit);
    TPipeTestClient silent(Server->PipeName());
    ASSERT_TRUE(silent.Write(LengthBytes(100) + "0123456789"));
    TPipeTestClient next(Server->PipeName());
    ASSERT_TRUE(next.WriteRequest(L"next"));

    EXPECT_EQ(next.ReadAnswer(), L"echo next");
    EXPECT_TRUE(silent.ReadAllMessages().empty());
    EXPECT_FALSE(silent.TimedOut());
    EXPECT_TRUE(test_support::WaitForOwnLogLine(
        L"[TPipeMessageHandler.Execute] no whole request within " + std::to_wstring(ShortSilenceLimit.count()) +
        L" ms, connection closed"));
}

// Silent clients connected together expire together, counted from their
// connection; a client whose whole request arrived in time is served however long
// the commands before it took.
TEST_F(PipeServer, TheSilenceLimitRunsFromTheConnectionNotFromTheWorkersTurn)
{
    StartServer(
        [](const std::wstring& ARequest) {
            if (ARequest == L"slow") // the point of this pause: a command's own time, beyond the limit
                std::this_thread::sleep_for(ShortSilenceLimit + 500ms);
            return Echo(ARequest);
        },
        ShortSilenceLimit);
    std::vector<std::unique_ptr<TPipeTestClient>> silent;
    for (int i = 0; i < 4; ++i)
        silent.push_back(std::make_unique<TPipeTestClient>(Server->PipeName()));
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(server_test::Exchange(Server->PipeName(), L"good"), L"echo good");
    // Together: about one limit; one after the other: four.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3 * ShortSilenceLimit)
        << "each silent client was given the limit anew";
    for (auto& client : silent)
        EXPECT_TRUE(client->ReadAllMessages().empty());

    TPipeTestClient slow(Server->PipeName());
    ASSERT_TRUE(slow.WriteRequest(L"slow"));
    TPipeTestClient queued(Server->PipeName());
    ASSERT_TRUE(queued.WriteRequest(L"queued"));
    EXPECT_EQ(slow.ReadAnswer(), L"echo slow") << "the command's time counted against its client";
    EXPECT_EQ(queued.ReadAnswer(), L"echo queued") << "a request that was whole in time was dropped";
}

// Empty messages on a message-type pipe are reads of no bytes: no progress, so
// the exchange ends instead of reading them until the limit runs out.
TEST_F(PipeServer, AClientWritingEmptyMessagesIsDroppedAtOnce)
{
    StartServer(Echo);
    TPipeTestClient empty(Server->PipeName());
    ASSERT_TRUE(empty.Connected());
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 3; ++i)
        empty.Write("");
    EXPECT_TRUE(empty.ReadAllMessages().empty());
    EXPECT_FALSE(empty.TimedOut());
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s) << "held until the silence limit";
    EXPECT_EQ(Server->Calls, 0);
    EXPECT_EQ(server_test::Exchange(Server->PipeName(), L"next"), L"echo next");
}

TEST_F(PipeServer, ClientsThatLeaveBeforeTheyAreServedAreOrdinaryDrops)
{
    TGate gate;
    std::size_t firstLine = test_support::OwnLogLineCount();
    StartServer([&gate](const std::wstring& ARequest) {
        if (ARequest == L"hold")
            gate.Pass();
        return Echo(ARequest);
    });
    TPipeTestClient holder(Server->PipeName());
    ASSERT_TRUE(holder.WriteRequest(L"hold"));
    ASSERT_TRUE(gate.WaitEntered());
    {
        TPipeTestClient sentAndLeft(Server->PipeName());
        ASSERT_TRUE(sentAndLeft.WriteRequest(L"gone"));
        TPipeTestClient leftAtOnce(Server->PipeName());
        ASSERT_TRUE(leftAtOnce.Connected());
    }
    gate.Open();
    EXPECT_EQ(holder.ReadAnswer(), L"echo hold");
    EXPECT_EQ(server_test::Exchange(Server->PipeName(), L"after"), L"echo after");
    EXPECT_EQ(test_support::CountOwnLogLines(L"[TPipeMessageHandler.Execute]  EX", firstLine), 0);
}

TEST_F(PipeServer, ShutdownEndsPromptlyWhateverTheServerIsWaitingFor)
{
    // Well below the program's 5 s that a silent client is given here: shutdown
    // must not wait it out.
    constexpr auto Prompt = 3s;
    static_assert(Prompt < ClientSilenceLimit);
    auto destroyPromptly = [&](const char* ASituation) {
        auto destroyed = std::async(std::launch::async, [this] { Server.reset(); });
        EXPECT_EQ(destroyed.wait_for(Prompt), std::future_status::ready) << ASituation;
        destroyed.wait();
    };

    // Between instances: the listener may not have reached its first connect yet.
    for (int i = 0; i < 20; ++i)
    {
        Server = std::make_unique<TTestServer>(UniqueServerId(), Echo);
        destroyPromptly("just started");
    }

    StartServer(Echo);
    destroyPromptly("waiting for a client");

    StartServer(Echo);
    TPipeTestClient silent(Server->PipeName());
    ASSERT_TRUE(silent.Connected());
    // The point of this pause: the client stays silent while the worker reads from it.
    Sleep(200);
    destroyPromptly("reading from a silent client");
    EXPECT_TRUE(silent.ReadAllMessages().empty());
}

TEST_F(PipeServer, ThePipeAdmitsOnlyTheBridgesUserLocalSystemAndTheAdministrators)
{
    StartServer(Echo);
    TPipeTestClient client(Server->PipeName(), READ_CONTROL | FILE_READ_DATA);
    ASSERT_TRUE(client.Connected()) << client.ConnectError();

    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(GetSecurityInfo(client.Handle(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                              nullptr, nullptr, &descriptor),
              static_cast<DWORD>(ERROR_SUCCESS));
    TUniqueLocal<void> ownedDescriptor(descriptor);
    wchar_t* sddl = nullptr;
    ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1,
                                                                     DACL_SECURITY_INFORMATION, &sddl, nullptr));
    TUniqueLocal<wchar_t> ownedSddl(sddl);

    // Own user: full access. LocalSystem and Administrators: FILE_GENERIC_READ |
    // FILE_GENERIC_WRITE but not FILE_CREATE_PIPE_INSTANCE (0x4).
    EXPECT_EQ(std::wstring(sddl), L"D:(A;;FA;;;" + OwnUserSid() + L")(A;;0x12019b;;;SY)(A;;0x12019b;;;BA)");
}

// What a principal's open of the pipe gets, decided by AccessCheck on the
// descriptor the server builds, with this test's SID standing in the principal's
// place: under Wine every process runs as one user, so LocalSystem's open cannot
// be tried for real. The owner is someone else where the test stands in for a
// client, since an owner may always change the DACL.
TEST(PipeSecurity, EachPrincipalGetsWhatItsOpenNeedsAndNoMore)
{
    const std::wstring me = OwnUserSid();
    GENERIC_MAPPING fileMapping{FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
    // How CreateFileW asks for GENERIC_READ | GENERIC_WRITE, without the bit that
    // Windows leaves out of a client's open of a named pipe.
    DWORD readWrite = GENERIC_READ | GENERIC_WRITE;
    MapGenericMask(&readWrite, &fileMapping);
    readWrite &= ~static_cast<DWORD>(FILE_CREATE_PIPE_INSTANCE);

    struct TCase
    {
        const char* What;
        std::wstring Owner;
        std::vector<std::wstring> Clients;
        DWORD Desired;
        bool Granted;
    };
    const TCase cases[] = {
        {"the service side opens for GENERIC_READ | GENERIC_WRITE", L"SY", {me, L"BA"}, readWrite, true},
        {"an administrator opens for GENERIC_READ | GENERIC_WRITE", L"SY", {L"SY", me}, readWrite, true},
        {"the service side opens for data only", L"SY", {me, L"BA"},
         FILE_READ_DATA | FILE_WRITE_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE, true},
        {"the service side may not create an instance", L"SY", {me, L"BA"}, FILE_CREATE_PIPE_INSTANCE, false},
        {"an administrator may not create an instance", L"SY", {L"SY", me}, FILE_CREATE_PIPE_INSTANCE, false},
        {"the service side may not change the DACL", L"SY", {me, L"BA"}, WRITE_DAC, false},
        {"the service side may not take ownership", L"SY", {me, L"BA"}, WRITE_OWNER, false},
        {"anyone else is refused", L"SY", {L"SY"}, FILE_READ_DATA, false},
        {"the bridge's own user has full access", me, {L"SY", L"BA"}, FILE_ALL_ACCESS, true},
    };

    const TUniqueHandle token = StandInToken(TStandIn::AsIs);
    for (const TCase& row : cases)
    {
        SCOPED_TRACE(row.What);
        const TUniqueLocal<void> descriptor = MakePipeSecurityDescriptor(row.Owner, row.Clients);
        EXPECT_EQ(IsGrantedFileAccess(token.Get(), descriptor.get(), row.Desired), row.Granted)
            << std::hex << "asked 0x" << row.Desired;
    }
}

// "OPENURL" starts programs from the worker thread. Had they inherited the pipe's
// handles, a connection would stay open while such a program runs, and its client
// would wait for the end of an answer that never comes.
TEST_F(PipeServer, ProgramsStartedWhileAConnectionIsOpenDoNotHoldIt)
{
    TGate gate;
    StartServer([&gate](const std::wstring& ARequest) {
        gate.Pass();
        return Echo(ARequest);
    });
    TPipeTestClient client(Server->PipeName());
    ASSERT_TRUE(client.WriteRequest(L"open"));
    ASSERT_TRUE(gate.WaitEntered());
    // A program that inherits what it can and lives for some seconds: a request to
    // a pipe that does not exist, with a long time limit.
    std::wstring path = OwnFolder() + L"service_client.exe";
    std::wstring commandLine = L"\"" + path + L"\" 3 SUINFO --timeout=8000";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    ASSERT_TRUE(CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                               nullptr, &startup, &info));
    TUniqueHandle program(info.hProcess);
    TUniqueHandle programThread(info.hThread);

    gate.Open();
    EXPECT_EQ(client.ReadAnswer(4000), L"echo open");
    EXPECT_FALSE(client.TimedOut()) << "the connection must close while the program still runs";
    EXPECT_EQ(WaitForSingleObject(program.Get(), 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "the program ended too soon";
    TerminateProcess(program.Get(), 0);
    WaitForSingleObject(program.Get(), 5000);
}

// The squatter is an instance made by this process before the server starts; to
// the server it is the same as one made by another process.
TEST(PipeServerName, ABridgeWhosePipeNameWasTakenFirstServesNothingAndSaysSo)
{
    std::wstring id = UniqueServerId();
    std::wstring name = L"\\\\.\\pipe\\uxsvc_" + id;
    TUniqueHandle squatter(CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE,
                                            PIPE_UNLIMITED_INSTANCES, 4096, 4096, 1000, nullptr));
    ASSERT_TRUE(squatter);

    TTestServer server(id, [](const std::wstring&) { return L"never"; });
    EXPECT_TRUE(test_support::WaitForOwnLogLine(L"[TPipeListenerThread.Execute] " + name +
                                               L" already belongs to another process, no request is served"));
    squatter.Reset();
    EXPECT_FALSE(WaitNamedPipeW(name.c_str(), 500)) << "no instance of the bridge may be left listening";
}

TEST(PipeServerName, AnEmptyServerIdMeansThisProcessId)
{
    TTestServer server(L"", [](const std::wstring&) { return L"pid"; });
    std::wstring expected = L"\\\\.\\pipe\\uxsvc_" + std::to_wstring(GetCurrentProcessId());
    EXPECT_EQ(server.PipeName(), expected);
    EXPECT_TRUE(test_support::WaitForOwnLogLine(L"[TNamedPipeServer.Create] " + expected));
    EXPECT_EQ(server_test::Exchange(expected, L"x"), L"pid");
}

} // namespace
