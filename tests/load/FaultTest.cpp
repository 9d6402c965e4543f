// Faults around a running uxlink.exe, each driven through its real pipe: the log
// folder taken away, the day's file held by another program for a moment, and the
// clipboard held by another process while "REQCLBRH" reads it.
#include "LoadFixture.h"

#include "messages/UPipeMessage.h"
#include "startup/GF_SupportFunctions.h"
#include "support/TestClipboard.h"

using namespace std::chrono_literals;

namespace load
{
namespace
{

void DeleteFolderWithFiles(const std::wstring& folder)
{
    WIN32_FIND_DATAW found{};
    HANDLE first = FindFirstFileW((folder + L"*").c_str(), &found);
    if (first != INVALID_HANDLE_VALUE)
    {
        TUniqueFind find(first);
        do
            DeleteFileW((folder + found.cFileName).c_str());
        while (FindNextFileW(find.get(), &found));
    }
    RemoveDirectoryW(folder.c_str());
}

class LogFaultTest : public BridgeFixture
{
};

TEST_F(LogFaultTest, LogFolderRemovedWhileServingDropsLinesThenWritingResumes)
{
    StartBridge(DefaultArguments());
    TWatchdog watchdog(Bridge(), 60s);
    ASSERT_TRUE(IsUserInfoAnswer(Ask(PipeName(), Request(L"SUINFO"))));
    std::wstring folder = EnsureBridgeLogFolder();

    // The bridge holds the day's file only while it writes a line; retry until
    // the folder is gone.
    for (auto deadline = std::chrono::steady_clock::now() + 10s;
         GetFileAttributesW(folder.c_str()) != INVALID_FILE_ATTRIBUTES && std::chrono::steady_clock::now() < deadline;)
        DeleteFolderWithFiles(folder);
    ASSERT_EQ(GetFileAttributesW(folder.c_str()), INVALID_FILE_ATTRIBUTES);

    for (int i = 0; i < 20; ++i)
        ASSERT_TRUE(IsUserInfoAnswer(Ask(PipeName(), Request(L"SUINFO")))) << "request " << i;
    EXPECT_EQ(GetFileAttributesW(folder.c_str()), INVALID_FILE_ATTRIBUTES) << "the bridge created its log folder";

    EnsureBridgeLogFolder();
    EXPECT_TRUE(test_support::WaitForLogLine(Pid(), SendLogMarker(L"folder")));
    ASSERT_FALSE(watchdog.Fired());
}

// Held without sharing for a moment, well inside the log's wait for a held file:
// no line is lost, they all arrive once the holder lets go.
TEST_F(LogFaultTest, DaysFileHeldByAnotherProcessForAMomentDelaysLinesWithoutLosingAny)
{
    StartBridge(DefaultArguments());
    TWatchdog watchdog(Bridge(), 60s);
    ASSERT_TRUE(IsUserInfoAnswer(Ask(PipeName(), Request(L"SUINFO"))));
    WaitForLogToCatchUp();

    constexpr int HeldRequests = 10;
    std::wstring marker;
    {
        // No sharing at all: the bridge cannot open the file while this is held.
        // Another writer (this process's own log) may be in a burst: try until free.
        TUniqueHandle held;
        ASSERT_TRUE(test_support::Eventually([&] {
            held.Reset(CreateFileW(TodaysBridgeLogFile().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                   OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
            return held.IsValid();
        }));
        for (int i = 0; i < HeldRequests; ++i)
            ASSERT_TRUE(IsUserInfoAnswer(Ask(PipeName(), Request(L"SUINFO")))) << "request " << i;
        marker = SendLogMarker(L"held");
        // The moment itself, not a wait for something: the log's worker meets the
        // held file and waits for it meanwhile.
        std::this_thread::sleep_for(300ms);
    }

    EXPECT_TRUE(test_support::WaitForLogLine(Pid(), marker));
    int userLines = 0;
    for (const std::wstring& line : test_support::LogLinesOf(Pid()))
        userLines += line.find(L" - nome_utente: ") != std::wstring::npos ? 1 : 0;
    EXPECT_EQ(userLines, 1 + HeldRequests);
    ASSERT_FALSE(watchdog.Fired());
}

class ClipboardFaultTest : public BridgeFixture
{
protected:
    void TearDown() override
    {
        if (GetOpenClipboardWindow() == FClipboard.Owner())
            CloseClipboard();
    }

    // Files on the clipboard as Explorer puts them there after "Copy".
    test_support::TTestClipboard FClipboard;
};

TEST_F(ClipboardFaultTest, ClipboardHeldByAnotherProcessEndsRequestWithoutAnswerAndIsNeverLeftOpen)
{
    StartBridge(DefaultArguments());
    TWatchdog watchdog(Bridge(), 60s);
    std::vector<std::wstring> files = {L"C:\\windows\\win.ini", L"C:\\windows\\system.ini"};
    FClipboard.PutFiles(files);

    ASSERT_TRUE(OpenClipboard(FClipboard.Owner()));
    EXPECT_FALSE(Ask(PipeName(), Request(L"REQCLBRH"))) << "answered while the clipboard was held";
    EXPECT_TRUE(test_support::WaitForLogLine(Pid(), L"[TCalcRequestDispatcher.InternalProcessRequest] EX"));
    ASSERT_TRUE(CloseClipboard());

    // The bridge must not have kept it: another program can open it at once.
    EXPECT_EQ(GetOpenClipboardWindow(), nullptr);
    ASSERT_TRUE(OpenClipboard(FClipboard.Owner()));
    CloseClipboard();

    std::optional<std::wstring> answer = Ask(PipeName(), Request(L"REQCLBRH"));
    ASSERT_TRUE(answer);
    TTPPipeMessage message(*answer);
    EXPECT_EQ(message.GetData(L"0"), files[0]);
    EXPECT_EQ(message.GetData(L"1"), files[1]);
    ASSERT_FALSE(watchdog.Fired());
}

} // namespace
} // namespace load
