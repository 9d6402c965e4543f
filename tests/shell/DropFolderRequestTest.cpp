// "REQMOTCB" through the dispatcher in this test process: the detector runs for
// real against windows the test creates, with the fake window collection in place
// of the shell's (Wine 8 cannot enumerate Explorer windows).
#include "FakeShell.h"
#include "TestWindows.h"

#include "messages/UPipeMessage.h"
#include "server/UCalcRequestDispatcher.h"
#include "shell/UN_DetectFile.h"
#include "startup/UN_GlobalVars.h"
#include "support/MessagePump.h"
#include "support/OwnLog.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <optional>

namespace
{

using namespace std::chrono_literals;
using test_windows::TWindowChain;
using test_windows::FolderWindow;
using test_support::PumpUntil;

const std::wstring Tag = L"[TCalcRequestDispatcher.InternalProcessRequest]";

// For the tests that need only the path of a wait without a report, not its figure
// (the program's 2 s is held end to end by RequestServerEndToEnd's REQMOTCB case).
constexpr auto ShortDetectorWait = 500ms;

// A folder of real files under the temporary folder, removed at the end.
class TTempFolder
{
public:
    TTempFolder()
        : FPath(std::filesystem::temp_directory_path() / ("reqmotcb_" + std::to_string(GetCurrentProcessId())))
    {
        std::filesystem::create_directories(FPath / "first");
        std::filesystem::create_directories(FPath / "second");
        for (const char* name : {"first\\a.txt", "second\\b.txt"})
            std::ofstream(FPath / name).put('x');
    }
    TTempFolder(const TTempFolder&) = delete;
    TTempFolder& operator=(const TTempFolder&) = delete;
    ~TTempFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(FPath, ignored);
    }

    [[nodiscard]] std::wstring operator/(const wchar_t* Name) const { return (FPath / Name).wstring(); }

private:
    std::filesystem::path FPath;
};

std::wstring DropRequest(const std::wstring& Peer = L"viewer-7")
{
    return TTPPipeMessage::MakeMessage(L"REQMOTCB", {L"PEER"}, {Peer});
}

class DropFolderRequest : public testing::Test
{
protected:
    void SetUp() override { fake_shell::Install(FShell); }
    void TearDown() override
    {
        fake_shell::Uninstall();
        // A detection may outlast its request; it must still release all it took.
        EXPECT_TRUE(PumpUntil([] { return fake_shell::LiveObjects() == 0; }));
    }

    // Runs the request on another thread, as the server's worker does, while this
    // thread serves the test's windows; the answer and the lines logged meanwhile.
    std::wstring Run(const std::wstring& Request) { return Run(FDispatcher, Request); }
    std::wstring Run(TCalcRequestDispatcher& Dispatcher, const std::wstring& Request)
    {
        std::size_t first = test_support::OwnLogLineCount();
        auto running =
            std::async(std::launch::async, [&Dispatcher, Request] { return Dispatcher.ProcessRequest(Request); });
        EXPECT_TRUE(PumpUntil([&] { return running.wait_for(0s) == std::future_status::ready; }, 30s));
        std::wstring answer = running.get();
        Lines = test_support::OwnLogLinesFrom(first);
        return answer;
    }

    // A foreground folder window whose shell entry shows Folder and selects Selection.
    void ShowFolderWindow(const TWindowChain& Window, std::vector<std::wstring> Selection, std::wstring Folder,
                          std::chrono::milliseconds Delay = 0ms)
    {
        FShell->Entries.push_back({Window.Top(), std::move(Selection), std::move(Folder),
                                   fake_shell::TFolderOffer::PersistFolder2, Delay});
        Window.PointAt();
    }

    std::shared_ptr<fake_shell::TShell> FShell = std::make_shared<fake_shell::TShell>();
    TCalcRequestDispatcher FDispatcher{DetectorWaitLimit};
    TCalcRequestDispatcher FShortWaitDispatcher{ShortDetectorWait};
    TTempFolder FFiles;
    std::vector<std::wstring> Lines;
};

struct TDropCase
{
    const char* Name;
    std::vector<std::wstring> Selection;
    std::wstring Folder;
    // Empty: no answer.
    std::wstring DropPath;
};

TEST_F(DropFolderRequest, AnswersTheFolderOfWhatIsSelectedOrShown)
{
    const std::wstring fileA = FFiles / L"first\\a.txt";
    const std::wstring fileB = FFiles / L"second\\b.txt";
    const std::wstring first = FFiles / L"first";
    const std::wstring missing = FFiles / L"missing\\c.txt";
    const TDropCase cases[] = {
        {"a selected file gives its folder", {fileA}, L"C:\\", first + L"\\"},
        {"a selected folder gives itself", {first}, L"C:\\", first},
        // The first of several selected items decides.
        {"several selected items", {fileA, fileB}, L"C:\\", first + L"\\"},
        {"nothing selected gives the folder shown", {}, first, first},
        {"a drive root", {}, L"C:\\", L"C:\\"},
        {"a selected path that does not exist", {missing}, L"C:\\", L""},
        {"a virtual folder", {}, fake_shell::ComputerFolder, L""},
    };
    for (const TDropCase& row : cases)
    {
        SCOPED_TRACE(row.Name);
        TWindowChain window(FolderWindow);
        ShowFolderWindow(window, row.Selection, row.Folder);
        std::wstring request = DropRequest();
        std::wstring answer = Run(request);

        std::wstring reported = row.Selection.empty() ? row.Folder : row.Selection.front();
        std::vector<std::wstring> expectedLines = {Tag + L" BEGIN: " + request,
                                                   Tag + L" REQMOTCB -  droppath: " + reported};
        if (row.DropPath.empty())
        {
            EXPECT_EQ(answer, L"");
            expectedLines.push_back(Tag + L" REQMOTCB - INVALID_FILE_ATTRIBUTES: " + reported);
        }
        else
        {
            EXPECT_EQ(answer,
                      TTPPipeMessage::MakeMessage(L"Result", {L"peer", L"droppath"}, {L"viewer-7", row.DropPath}));
        }
        EXPECT_EQ(Lines, expectedLines);
        FShell->Entries.clear();
    }
}

TEST_F(DropFolderRequest, WithoutPeerAnswersTheDropPathAlone)
{
    TWindowChain window(FolderWindow);
    ShowFolderWindow(window, {}, FFiles / L"first");
    TTPPipeMessage answer(Run(TTPPipeMessage::MakeMessage(L"REQMOTCB", {}, {})));
    EXPECT_EQ(answer.DataList(), std::vector<std::wstring>{L"droppath=" + (FFiles / L"first")});
}

TEST_F(DropFolderRequest, NoReportGivesNoAnswerAfterTheWait)
{
    // The foreground window is no shell window.
    TWindowChain window(FolderWindow);
    window.PointAt();
    std::wstring request = DropRequest();
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Run(FShortWaitDispatcher, request), L"");
    EXPECT_GE(std::chrono::steady_clock::now() - start, ShortDetectorWait);
    EXPECT_EQ(Lines, std::vector<std::wstring>{Tag + L" BEGIN: " + request});
}

TEST_F(DropFolderRequest, ALateReportIsNeverTakenForTheNextRequests)
{
    // Each lookup waits at the view: the first detection reports about 2.3 s after its
    // start, inside the second request's wait; the second reports after about 0.9 s.
    TWindowChain slow(FolderWindow);
    TWindowChain quicker(FolderWindow);
    FShell->Entries.push_back({slow.Top(), {FFiles / L"first\\a.txt"}, L"C:\\",
                               fake_shell::TFolderOffer::PersistFolder2, 1100ms});
    ShowFolderWindow(quicker, {FFiles / L"second\\b.txt"}, L"C:\\", 400ms);
    slow.PointAt();

    EXPECT_EQ(Run(DropRequest(L"first")), L"");
    quicker.PointAt();
    EXPECT_EQ(Run(DropRequest(L"second")),
              TTPPipeMessage::MakeMessage(L"Result", {L"peer", L"droppath"}, {L"second", FFiles / L"second\\"}));
}

TEST_F(DropFolderRequest, AConcurrentRequestWaitsItsTurn)
{
    TWindowChain window(FolderWindow);
    window.PointAt();
    std::wstring dropRequest = DropRequest(L"waiting");
    std::size_t first = test_support::OwnLogLineCount();
    auto drop = std::async(std::launch::async, [&] { return FDispatcher.ProcessRequest(dropRequest); });
    ASSERT_TRUE(test_support::WaitForOwnLogLine(Tag + L" BEGIN: " + dropRequest));
    std::wstring suinfoRequest = TTPPipeMessage::MakeMessage(L"SUINFO", {}, {});
    auto suinfo = std::async(std::launch::async, [&] { return FDispatcher.ProcessRequest(suinfoRequest); });

    ASSERT_TRUE(PumpUntil([&] { return suinfo.wait_for(0s) == std::future_status::ready; }, 30s));
    EXPECT_EQ(drop.wait_for(0s), std::future_status::ready) << "SUINFO was answered during the drop request";
    EXPECT_EQ(drop.get(), L"");
    EXPECT_EQ(TTPPipeMessage(suinfo.get()).Name(), L"Result");

    std::vector<std::wstring> lines = test_support::OwnLogLinesFrom(first);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], Tag + L" BEGIN: " + dropRequest);
    EXPECT_EQ(lines[1], Tag + L" BEGIN: " + suinfoRequest);
}

} // namespace
