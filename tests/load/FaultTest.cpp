// Faults around a running uxlink.exe, each driven through its real pipe: the log
// folder taken away and the day's file locked, and the clipboard held by another
// process while "REQCLBRH" reads it.
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

TEST_F(LogFaultTest, DaysFileHeldByAnotherProcessDropsLinesThenWritingResumes)
{
    StartBridge(DefaultArguments());
    TWatchdog watchdog(Bridge(), 60s);
    ASSERT_TRUE(IsUserInfoAnswer(Ask(PipeName(), Request(L"SUINFO"))));

    {
        // No sharing at all: the bridge cannot open the file while this is held.
        // It has the file open itself while it writes a line, so try until it is free.
        TUniqueHandle held;
        for (auto deadline = std::chrono::steady_clock::now() + 10s;
             !held && std::chrono::steady_clock::now() < deadline;)
            held.Reset(CreateFileW(test_support::TodaysLogFile().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                   OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(held);
        for (int i = 0; i < 20; ++i)
            ASSERT_TRUE(IsUserInfoAnswer(Ask(PipeName(), Request(L"SUINFO")))) << "request " << i;
        // Give the log's worker time to try (and fail) while the file is held.
        std::this_thread::sleep_for(500ms);
    }

    EXPECT_TRUE(test_support::WaitForLogLine(Pid(), SendLogMarker(L"released")));
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
