// The real uxlink.exe in the Wine desktop, with master_standin as the master
// process. The icon is checked on the screen (Wine's tray window), the shell's
// callback message is sent to the bridge's icon window as the tray would, and
// the master stand-in's record shows which commands arrived.
#include "TrayTestSupport.h"

#include "support/BridgeTestSupport.h"
#include "support/MasterStandIn.h"

#include "messages/UPipeMessage.h"
#include "startup/GF_SupportFunctions.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using test_support::Eventually;
using test_support::LogLinesOf;
using test_support::RunServiceClient;
using test_support::TChildProcess;
using test_support::WaitForLogLine;

namespace
{

constexpr UINT TrayCallbackMessage = 0x800;

// A popup menu open anywhere on the desktop.
bool AnyMenuOpen()
{
    HWND menu = FindWindowW(L"#32768", nullptr);
    return menu != nullptr && IsWindowVisible(menu);
}

// Wine's tray in a desktop without task bar: a small window of its own at the
// desktop's top-left corner, shown while it holds an icon. (Its Shell_TrayWnd
// exists but is never shown.)
HWND WineTrayWindow()
{
    return FindWindowW(L"__winex11_standalone_tray", nullptr);
}

// How many pixels of the product mark's teal Wine's tray window shows. The tray
// is drawn white, so teal there is our icon; a tray without icons is hidden.
int MarkPixelsInTray()
{
    HWND tray = WineTrayWindow();
    if (tray == nullptr || !IsWindowVisible(tray))
        return 0;
    RECT area{};
    GetWindowRect(tray, &area);
    if (area.right <= area.left || area.bottom <= area.top)
        return 0;
    const std::vector<std::uint32_t> pixels = tray_test::ScreenPixels(area);
    const auto within = [](std::uint32_t value, std::uint32_t target) {
        return (value > target ? value - target : target - value) <= 24;
    };
    return static_cast<int>(std::count_if(pixels.begin(), pixels.end(), [&](std::uint32_t pixel) {
        return within((pixel >> 16) & 0xFF, 0x0E) && within((pixel >> 8) & 0xFF, 0x74) && within(pixel & 0xFF, 0x90);
    }));
}

std::string TrayDescription()
{
    HWND tray = WineTrayWindow();
    RECT area{};
    GetWindowRect(tray, &area);
    std::ostringstream text;
    text << "tray " << tray << (IsWindowVisible(tray) ? " shown" : " hidden") << " at " << area.left << ","
         << area.top << " " << area.right - area.left << "x" << area.bottom - area.top << ", "
         << MarkPixelsInTray() << " teal pixels";
    return text.str();
}

bool IsOk(const test_support::TToolResult& Result)
{
    const TTPPipeMessage answer = test_support::AnswerOf(Result);
    return Result.ExitCode == 0 && answer.Name() == L"Result" && answer.GetData(L"Result") == L"OK";
}

// The first visible popup menu of the process, or null.
HWND OpenMenuOf(DWORD Pid)
{
    HWND menu = test_support::TopWindowOf(Pid, L"#32768");
    return menu != nullptr && IsWindowVisible(menu) ? menu : nullptr;
}

// Nothing to wait for: the time in which a wrong second wake-up or menu, decided
// by the click timer at the latest, would have come.
void SleepForASecondWakeUp()
{
    std::this_thread::sleep_for(std::chrono::milliseconds(GetDoubleClickTime()) * 2);
}

// A bridge started with a master stand-in whose record of received envelopes
// the test reads. Both are stopped when the test ends.
class TrayBridgeTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        EnsureBridgeLogFolder();
        Master = std::make_unique<test_support::TStandIn>(L"");
    }

    void TearDown() override
    {
        Bridge.reset();
        Master.reset();
    }

    void StartBridge(const std::wstring& Extra = L"")
    {
        Bridge = std::make_unique<TChildProcess>(
            L"uxlink.exe", L"-name=Quorvix Remote -version=1.2 -pid=" + Master->ServedPid() + L" " + Extra);
        ASSERT_TRUE(WaitForLogLine(Bridge->Pid(), L"[TFmain.FormCreate()] END ", 20s));
        IconWindow = test_support::TopWindowOf(Bridge->Pid(), L"TqxTrayIconWindow");
        ASSERT_NE(IconWindow, nullptr);
    }

    // The lines of FormCreate, in order.
    std::vector<std::wstring> FormCreateLines() const
    {
        std::vector<std::wstring> lines;
        for (const std::wstring& line : LogLinesOf(Bridge->Pid()))
            if (line.starts_with(L"[TFmain.FormCreate()]"))
                lines.push_back(line);
        return lines;
    }

    test_support::TToolResult Send(const std::wstring& CommandAndParameters) const
    {
        return RunServiceClient(std::to_wstring(Bridge->Pid()) + L" " + CommandAndParameters);
    }

    // The dispatcher's lines after "BEGIN", in order.
    std::vector<std::wstring> DispatcherLines() const
    {
        std::vector<std::wstring> lines;
        for (const std::wstring& line : LogLinesOf(Bridge->Pid()))
            if (line.starts_with(Tag) && line.find(L" BEGIN: ") == std::wstring::npos)
                lines.push_back(line);
        return lines;
    }

    static constexpr std::wstring_view Tag = L"[TCalcRequestDispatcher.InternalProcessRequest]";

    bool MasterReceived(const std::string& Command, int Times = 1) const
    {
        return Eventually([&] { return tray_test::CountOf(Master->RecordText(), "\"" + Command + "\"") >= Times; });
    }

    std::unique_ptr<test_support::TStandIn> Master;
    std::unique_ptr<TChildProcess> Bridge;
    HWND IconWindow = nullptr;
};

TEST_F(TrayBridgeTest, StartPutsTheIconIntoTheTrayAndGreets)
{
    StartBridge(L"-hellomsg=anything");
    EXPECT_TRUE(Eventually([] { return MarkPixelsInTray() > 20; })) << "no icon on the screen's tray: " << TrayDescription();

    const std::wstring pid = std::to_wstring(Bridge->Pid());
    DWORD session = 0;
    ProcessIdToSessionId(Bridge->Pid(), &session);
    EXPECT_EQ(FormCreateLines(), (std::vector<std::wstring>{
                                     L"[TFmain.FormCreate()] PID " + pid,
                                     L"[TFmain.FormCreate()] Session ID " + std::to_wstring(session),
                                     L"[TFmain.FormCreate()] TqxTrayIcon.create ",
                                     L"[TFmain.FormCreate()] TqxTrayIcon.ShowBalloonHint ",
                                     L"[TFmain.FormCreate()] END ",
                                 }));
    // The shell took the icon and its version.
    for (const std::wstring& line : LogLinesOf(Bridge->Pid()))
        EXPECT_FALSE(line.starts_with(L"[TqxTrayIcon.")) << testing::PrintToString(line);
}

TEST_F(TrayBridgeTest, TaskbarCreatedKeepsTheIconInTheRealTray)
{
    StartBridge();
    ASSERT_TRUE(Eventually([] { return MarkPixelsInTray() > 20; }));
    // What Explorer broadcasts when it starts again, or when the scale changes
    // while the icon is still there.
    // Sent: the bridge has removed and added its icon when this returns, and a tray
    // left without it would be hidden by then.
    SendMessageW(IconWindow, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
    EXPECT_TRUE(Eventually([] { return MarkPixelsInTray() > 20; })) << TrayDescription();
    for (const std::wstring& line : LogLinesOf(Bridge->Pid()))
        EXPECT_FALSE(line.starts_with(L"[TqxTrayIcon.")) << testing::PrintToString(line);
}

TEST_F(TrayBridgeTest, WithoutGreetingNoBalloonIsShown)
{
    StartBridge();
    const std::vector<std::wstring> lines = FormCreateLines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), L"[TFmain.FormCreate()] TqxTrayIcon.ShowBalloonHint "), 0);
}

TEST_F(TrayBridgeTest, DoubleClickSendsWakeUpAndOpensNoMenu)
{
    StartBridge();
    // As the shell reports a double click: down, up, double click, up.
    for (UINT mouse : {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP})
        SendMessageW(IconWindow, TrayCallbackMessage, 0, mouse);
    EXPECT_TRUE(MasterReceived("WAKEUPNEO"));
    SleepForASecondWakeUp();
    EXPECT_FALSE(AnyMenuOpen());
    EXPECT_EQ(tray_test::CountOf(Master->RecordText(), "\"WAKEUPNEO\""), 1);
}

// A keyboard user on the focused icon, as a version-4 shell reports it: the action
// in the low word of lParam, the icon's anchor point in wParam. Wine's tray takes
// no keyboard focus, so the test sends what Windows' would.
LPARAM VersionFour(UINT Action)
{
    return MAKELPARAM(Action, 0);
}

TEST_F(TrayBridgeTest, EnterOnTheIconSendsOneWakeUpPerKeyPress)
{
    StartBridge();
    // Enter may arrive as two NIN_KEYSELECT in a row.
    SendMessageW(IconWindow, TrayCallbackMessage, MAKEWPARAM(600, 740), VersionFour(NIN_KEYSELECT));
    SendMessageW(IconWindow, TrayCallbackMessage, MAKEWPARAM(600, 740), VersionFour(NIN_KEYSELECT));
    EXPECT_TRUE(MasterReceived("WAKEUPNEO"));
    SleepForASecondWakeUp();
    EXPECT_EQ(tray_test::CountOf(Master->RecordText(), "\"WAKEUPNEO\""), 1);
    EXPECT_FALSE(AnyMenuOpen());
}

TEST_F(TrayBridgeTest, ContextMenuKeyOpensTheMenuAtTheAnchorAndARightClickOpensOne)
{
    StartBridge();
    ASSERT_TRUE(IsOk(Send(L"RESTICHICON label0=Open status0=1 label1=Disable status1=1 label2=Logout status2=1 "
                          L"label3=Quit status3=1")));
    const auto closeMenu = [this](HWND menu) {
        PostMessageW(menu, WM_KEYDOWN, VK_ESCAPE, 0);
        return Eventually([this] { return OpenMenuOf(Bridge->Pid()) == nullptr; });
    };

    // Shift+F10 or the Menu key: the menu opens where the shell says the icon is.
    PostMessageW(IconWindow, TrayCallbackMessage, MAKEWPARAM(320, 240), VersionFour(WM_CONTEXTMENU));
    HWND menu = nullptr;
    ASSERT_TRUE(Eventually([&] { return (menu = OpenMenuOf(Bridge->Pid())) != nullptr; })) << "no menu opened";
    RECT area{};
    GetWindowRect(menu, &area);
    EXPECT_EQ(area.left, 320);
    EXPECT_EQ(area.top, 240);
    ASSERT_TRUE(closeMenu(menu));

    // A right click: press, release and its WM_CONTEXTMENU, one menu.
    for (UINT action : {WM_RBUTTONDOWN, WM_RBUTTONUP, WM_CONTEXTMENU})
        PostMessageW(IconWindow, TrayCallbackMessage, MAKEWPARAM(320, 240), VersionFour(action));
    ASSERT_TRUE(Eventually([&] { return (menu = OpenMenuOf(Bridge->Pid())) != nullptr; })) << "no menu opened";
    // Kept open a while, as a user would, so that the release and WM_CONTEXTMENU
    // queued behind the press are taken by the open menu's loop.
    std::this_thread::sleep_for(500ms);
    ASSERT_TRUE(closeMenu(menu));
    // The time in which a second menu, for the WM_CONTEXTMENU, would open.
    std::this_thread::sleep_for(1s);
    EXPECT_EQ(OpenMenuOf(Bridge->Pid()), nullptr) << "a second menu opened";
}

TEST_F(TrayBridgeTest, BalloonRequestIsAnsweredOkWithItsLogLines)
{
    StartBridge();
    const auto result = Send(L"REQTISHOW title=Note \"text=one*two\" iconindex=3");
    ASSERT_TRUE(IsOk(result)) << result.Output;
    const std::wstring tag(Tag);
    const std::wstring answer = TTPPipeMessage::MakeMessage(L"Result", {L"Result"}, {L"OK"});
    EXPECT_TRUE(Eventually([&] { return DispatcherLines().size() >= 4; }));
    EXPECT_EQ(DispatcherLines(), (std::vector<std::wstring>{
                                     tag + L" REQTISHOW one*two",
                                     tag + L" REQTISHOW -Fmain.ShowBalloonHint ",
                                     tag + L" REQTISHOW RESULT ",
                                     tag + L" REQTISHOW " + answer,
                                 }));
}

TEST_F(TrayBridgeTest, MenuTextsArriveAndTheChosenItemSendsItsCommand)
{
    StartBridge();
    const auto result = Send(L"RESTICHICON label0=Open status0=1 label1=Disable status1=0 label2=Logout status2=1 "
                             L"label3=Quit status3=1");
    ASSERT_TRUE(IsOk(result)) << result.Output;
    EXPECT_EQ(DispatcherLines(), (std::vector<std::wstring>{std::wstring(Tag) + L" RESTICHICON "}));

    // As the shell reports a right press; posted, since the menu holds the
    // bridge's thread until it closes.
    PostMessageW(IconWindow, TrayCallbackMessage, 0, WM_RBUTTONDOWN);
    HWND menu = nullptr;
    ASSERT_TRUE(Eventually([&] { return (menu = OpenMenuOf(Bridge->Pid())) != nullptr; })) << "no menu opened";
    // Shown: Open, Logout, the separator, Quit. Down twice skips to Logout.
    for (WPARAM key : {VK_DOWN, VK_DOWN, VK_RETURN})
        PostMessageW(menu, WM_KEYDOWN, key, 0);
    EXPECT_TRUE(MasterReceived("REQLOGOUT"));
    EXPECT_TRUE(Eventually([&] { return OpenMenuOf(Bridge->Pid()) == nullptr; }));
}

TEST_F(TrayBridgeTest, CloseAnswersOkRemovesTheIconAndExitsWithZero)
{
    StartBridge();
    ASSERT_TRUE(Eventually([] { return MarkPixelsInTray() > 20; }));

    const auto result = Send(L"REQCPIPE");
    EXPECT_TRUE(IsOk(result)) << "exit code " << result.ExitCode << ": " << result.Output;

    DWORD exitCode = 99;
    ASSERT_TRUE(Bridge->WaitForExit(15s, exitCode));
    EXPECT_EQ(exitCode, 0u);
    EXPECT_TRUE(Eventually([] { return MarkPixelsInTray() == 0; })) << TrayDescription();
    const std::vector<std::wstring> lines = DispatcherLines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), std::wstring(Tag) + L" REQCPIPE "), lines.end());
}

} // namespace
