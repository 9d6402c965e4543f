// Faults around a running uxlink.exe, each driven through its real pipe: the log
// folder taken away and the day's file locked, and the clipboard held by another
// process while "REQCLBRH" reads it.
#include "LoadFixture.h"

#include "messages/UPipeMessage.h"
#include "startup/GF_SupportFunctions.h"

#include <shellapi.h>
#include <shlobj.h>

#include <cstring>

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

// Files on the clipboard as Explorer puts them there after "Copy".
void PutFilesOnClipboard(HWND owner, const std::vector<std::wstring>& paths)
{
    std::wstring list;
    for (const std::wstring& path : paths)
        list += path + L'\0';
    list += L'\0';
    std::size_t bytes = sizeof(DROPFILES) + list.size() * sizeof(wchar_t);
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes);
    ASSERT_NE(memory, nullptr);
    {
        TGlobalLock<char> locked(memory);
        auto* drop = reinterpret_cast<DROPFILES*>(locked.Get());
        drop->pFiles = sizeof(DROPFILES);
        drop->fWide = TRUE;
        std::memcpy(locked.Get() + sizeof(DROPFILES), list.data(), list.size() * sizeof(wchar_t));
    }
    ASSERT_TRUE(OpenClipboard(owner));
    EmptyClipboard();
    // The clipboard owns the memory once SetClipboardData succeeds.
    if (SetClipboardData(CF_HDROP, memory) == nullptr)
        GlobalFree(memory);
    CloseClipboard();
}

class ClipboardFaultTest : public BridgeFixture
{
protected:
    void SetUp() override
    {
        BridgeFixture::SetUp();
        FWindow.reset(CreateWindowExW(0, L"STATIC", L"load-test clipboard owner", WS_POPUP, 0, 0, 0, 0, nullptr,
                                      nullptr, GetModuleHandleW(nullptr), nullptr));
        ASSERT_TRUE(FWindow);
    }
    void TearDown() override
    {
        if (GetOpenClipboardWindow() == FWindow.get())
            CloseClipboard();
    }

    TUniqueWindow FWindow;
};

TEST_F(ClipboardFaultTest, ClipboardHeldByAnotherProcessEndsRequestWithoutAnswerAndIsNeverLeftOpen)
{
    StartBridge(DefaultArguments());
    TWatchdog watchdog(Bridge(), 60s);
    std::vector<std::wstring> files = {L"C:\\windows\\win.ini", L"C:\\windows\\system.ini"};
    PutFilesOnClipboard(FWindow.get(), files);

    ASSERT_TRUE(OpenClipboard(FWindow.get()));
    EXPECT_FALSE(Ask(PipeName(), Request(L"REQCLBRH"))) << "answered while the clipboard was held";
    EXPECT_TRUE(test_support::WaitForLogLine(Pid(), L"[TCalcRequestDispatcher.InternalProcessRequest] EX"));
    ASSERT_TRUE(CloseClipboard());

    // The bridge must not have kept it: another program can open it at once.
    EXPECT_EQ(GetOpenClipboardWindow(), nullptr);
    ASSERT_TRUE(OpenClipboard(FWindow.get()));
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
