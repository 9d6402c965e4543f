// The dispatcher in this test process: each command's answer and its exact log
// lines. "OPENURL" goes to an observer in place of the shell, so no browser starts.
#include "server/UCalcRequestDispatcher.h"

#include "base/TextConversion.h"
#include "messages/UPipeMessage.h"
#include "startup/GF_SupportFunctions.h"
#include "startup/UN_SystemFolders.h"
#include "support/OwnLog.h"
#include "support/TestClipboard.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <stdexcept>

namespace
{

using namespace std::chrono_literals;

const std::wstring Tag = L"[TCalcRequestDispatcher.InternalProcessRequest]";

std::wstring Request(const std::wstring& AName, const std::vector<std::wstring>& AKeys = {},
                     const std::vector<std::wstring>& AValues = {})
{
    return TTPPipeMessage::MakeMessage(AName, AKeys, AValues);
}

struct TShellCall
{
    HWND Owner;
    std::wstring Url;
};

class Dispatcher : public ::testing::Test
{
protected:
    // The answer, and the log lines the request wrote.
    std::wstring Run(const std::wstring& ARequest)
    {
        std::size_t first = test_support::OwnLogLineCount();
        std::wstring answer = FDispatcher.ProcessRequest(ARequest);
        Lines = test_support::OwnLogLinesFrom(first);
        return answer;
    }

    std::vector<TShellCall> ShellCalls;
    std::vector<std::wstring> Lines;

private:
    TCalcRequestDispatcher FDispatcher{[this](HWND AOwner, const std::wstring& AUrl) {
        ShellCalls.push_back({AOwner, AUrl});
    }};
};

using TLines = std::vector<std::wstring>;

TEST_F(Dispatcher, SuinfoAnswersTheFourPairsInOrderAndLogsThem)
{
    std::wstring request = Request(L"SUINFO");
    TTPPipeMessage answer(Run(request));

    std::wstring user = GetLoggedUserName();
    std::wstring desktop = GetDesktopFolder();
    std::wstring temp = GetTempFolder();
    std::wstring local = GetLocalAppDataFolder();
    ASSERT_FALSE(user.empty() || desktop.empty() || temp.empty() || local.empty());
    EXPECT_EQ(answer.Name(), L"Result");
    EXPECT_EQ(answer.DataList(), TLines({L"nome_utente=" + user, L"desktop_utente=" + desktop,
                                         L"tempdir_utente=" + temp, L"local_appdata=" + local}));
    EXPECT_EQ(Lines, TLines({Tag + L" BEGIN: " + request, Tag + L" - nome_utente: " + user,
                             L"[TTCalcRequestDispatcher.InternalProcessRequest] - desktop_utente: " + desktop,
                             Tag + L" - tempdir_utente: " + temp, Tag + L" - local_appdata: " + local}));
}

TEST_F(Dispatcher, OpenurlHandsTheUrlToTheShellAndAnswersOkEvenWhenEmpty)
{
    const std::wstring ok = TTPPipeMessage::MakeMessage(L"Result", {L"Result"}, {L"OK"});
    for (const std::wstring url : {L"https://example.invalid/a?b=1&c=\u00e9", L""})
    {
        ShellCalls.clear();
        std::wstring request = Request(L"OPENURL", {L"URL"}, {url});
        EXPECT_EQ(Run(request), ok);
        ASSERT_EQ(ShellCalls.size(), 1u);
        EXPECT_EQ(ShellCalls[0].Url, url);
        EXPECT_EQ(ShellCalls[0].Owner, GetForegroundWindow());
        EXPECT_EQ(Lines, TLines{Tag + L" BEGIN: " + request});
    }
}

TEST_F(Dispatcher, ANameThatIsNoCommandGetsNoAnswerAndOnlyTheBeginLine)
{
    const std::wstring requests[] = {
        Request(L"openurl", {L"URL"}, {L"https://example.invalid/"}), // names match letter case exactly
        Request(L"NOSUCHCOMMAND"),
        L"this is no envelope {",
        L"{\"parameters\":{\"URL\":\"x\"}}", // an envelope without a command name
    };
    for (const std::wstring& request : requests)
    {
        EXPECT_EQ(Run(request), L"") << WideToUtf8(request);
        EXPECT_EQ(Lines, TLines{Tag + L" BEGIN: " + request});
    }
    EXPECT_TRUE(ShellCalls.empty());
}

TEST_F(Dispatcher, AFailingCommandIsLoggedAndLeavesTheAnswerItHadBuilt)
{
    TCalcRequestDispatcher failing([](HWND, const std::wstring&) { throw std::runtime_error("no shell"); });
    std::size_t first = test_support::OwnLogLineCount();
    std::wstring request = Request(L"OPENURL", {L"URL"}, {L"x"});
    EXPECT_EQ(failing.ProcessRequest(request), L"") << "OPENURL builds its answer after the shell call";
    EXPECT_EQ(test_support::OwnLogLinesFrom(first), TLines({Tag + L" BEGIN: " + request, Tag + L" EXno shell"}));
}

TEST(RequestLock, RequestsOfDifferentDispatchersNeverOverlap)
{
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::promise<void> entered;
    TCalcRequestDispatcher slow([&](HWND, const std::wstring&) {
        entered.set_value();
        released.wait();
    });
    TCalcRequestDispatcher quick;

    auto first = std::async(std::launch::async, [&] { return slow.ProcessRequest(Request(L"OPENURL")); });
    entered.get_future().wait();
    auto second = std::async(std::launch::async, [&] { return quick.ProcessRequest(Request(L"SUINFO")); });
    EXPECT_EQ(second.wait_for(300ms), std::future_status::timeout) << "the second request must wait for the first";
    release.set_value();
    EXPECT_FALSE(first.get().empty());
    EXPECT_FALSE(second.get().empty());
}

class ClipboardFiles : public Dispatcher
{
protected:
    test_support::TTestClipboard Clipboard;
};

TEST_F(ClipboardFiles, TwoFilesAreAnsweredByIndexAndLoggedWithTheirExactBlanks)
{
    const std::wstring first = L"C:\\users\\Public\\Documents\\report one.txt";
    const std::wstring second = L"C:\\data\\\u00e9t\u00e9\\photo.jpg";
    Clipboard.PutFiles({first, second});
    std::wstring request = Request(L"REQCLBRH");
    std::wstring answerText = Run(request);

    TTPPipeMessage answer(answerText);
    EXPECT_EQ(answer.Name(), L"Result");
    EXPECT_EQ(answer.DataList(), TLines({L"0=" + first, L"1=" + second}));
    EXPECT_EQ(Lines, TLines({Tag + L" BEGIN: " + request, Tag + L" REQCLBRH - BEFORE  Clipboard.HasFormat(CF_HDROP)",
                             Tag + L" REQCLBRH - INSIDE  Clipboard.HasFormat(CF_HDROP)",
                             Tag + L" REQCLBRH -  CF_HDROP - path file find : 0. " + first + L"  ",
                             Tag + L" REQCLBRH -  CF_HDROP - path file find : 1. " + second + L"  ",
                             Tag + L" REQCLBRH -  xmlmessage message back to client: " + answerText}));
}

TEST_F(ClipboardFiles, AnEmptyFileListIsAResultWithoutParameters)
{
    Clipboard.PutFiles({});
    std::wstring answerText = Run(Request(L"REQCLBRH"));
    EXPECT_EQ(answerText, TTPPipeMessage::MakeMessage(L"Result", {}, {}));
    ASSERT_EQ(Lines.size(), 4u);
    EXPECT_EQ(Lines[3], Tag + L" REQCLBRH -  xmlmessage message back to client: " + answerText);
}

TEST_F(ClipboardFiles, TextWithoutAFileListGetsNoAnswer)
{
    Clipboard.PutText(L"C:\\not\\a\\file list.txt");
    std::wstring request = Request(L"REQCLBRH");
    EXPECT_EQ(Run(request), L"");
    EXPECT_EQ(Lines, TLines({Tag + L" BEGIN: " + request, Tag + L" REQCLBRH - BEFORE  Clipboard.HasFormat(CF_HDROP)"}));
}

TEST_F(ClipboardFiles, APathLongerThan260CharactersIsReportedWhole)
{
    std::wstring longPath = L"C:\\deep";
    while (longPath.size() < 300)
        longPath += L"\\folder" + std::to_wstring(longPath.size());
    longPath += L"\\file.txt";
    Clipboard.PutFiles({longPath});
    TTPPipeMessage answer(Run(Request(L"REQCLBRH")));
    EXPECT_EQ(answer.DataList(), TLines{L"0=" + longPath}) << "a cut path would name another file";
    // The clipboard is closed again: another program can open it at once.
    ASSERT_TRUE(OpenClipboard(nullptr));
    CloseClipboard();
}

} // namespace
