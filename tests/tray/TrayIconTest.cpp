// TqxTrayIcon on the test's own thread. The shell is replaced by a recorder where
// the test checks what is handed to it (Wine's tray does not let a program read
// an icon's tip, balloon or picture back); the last group uses the real tray of
// the Wine desktop.
#include "TrayTestSupport.h"

#include "support/OwnLog.h"

#include "tray/UN_MAINFORM.h"
#include "tray/UN_TRemoteTrayIcon.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using tray_test::PixelsOf;
using test_support::PumpFor;
using test_support::PumpUntil;

namespace
{

struct TShellCall
{
    DWORD Message;
    NOTIFYICONDATAW Data;
    std::vector<std::uint32_t> Picture; // read while the icon still exists
};

std::chrono::milliseconds DoubleClickWait()
{
    return std::chrono::milliseconds(GetDoubleClickTime());
}

std::wstring Repeat(wchar_t c, std::size_t count)
{
    return std::wstring(count, c);
}

class TrayIconTest : public ::testing::Test
{
protected:
    TShellNotifyIcon Recorder()
    {
        return [this](DWORD message, const NOTIFYICONDATAW& data) {
            Calls.push_back({message, data, PixelsOf(data.hIcon)});
            return ShellAnswer;
        };
    }

    const TShellCall& LastCall() const { return Calls.back(); }

    void SendCallback(TqxTrayIcon& icon, UINT mouseMessage)
    {
        SendMessageW(icon.Handle(), TqxTrayIcon::CallbackMessage, 0, mouseMessage);
    }

    std::vector<TShellCall> Calls;
    BOOL ShellAnswer = TRUE;
    TUniqueImageList Pictures = CreateTrayImageList(16);
};

TEST_F(TrayIconTest, AddingHandsTheShellTheIconRecordAndThenItsVersion)
{
    TqxTrayIcon icon(Recorder());
    icon.SetIconList(Pictures.get());
    icon.SetHint(L"Quorvix Remote 1.2");
    Calls.clear();

    icon.SetIconVisible(true);

    ASSERT_EQ(Calls.size(), 2u);
    const NOTIFYICONDATAW& added = Calls[0].Data;
    EXPECT_EQ(Calls[0].Message, static_cast<DWORD>(NIM_ADD));
    EXPECT_EQ(added.cbSize, 976u);
    EXPECT_EQ(added.hWnd, icon.Handle());
    EXPECT_EQ(added.uID, 0u);
    EXPECT_EQ(added.uFlags, static_cast<UINT>(NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_SHOWTIP));
    EXPECT_EQ(added.uCallbackMessage, 0x800u);
    EXPECT_EQ(added.uVersion, 4u);
    EXPECT_EQ(std::wstring(added.szTip), L"Quorvix Remote 1.2");
    EXPECT_EQ(Calls[0].Picture, PixelsOf(Pictures.get(), 0));
    EXPECT_EQ(Calls[1].Message, static_cast<DWORD>(NIM_SETVERSION));
    EXPECT_EQ(Calls[1].Data.uVersion, static_cast<UINT>(NOTIFYICON_VERSION_4));
}

TEST_F(TrayIconTest, TextsLongerThanTheirFieldsAreCut)
{
    struct TCase
    {
        const char* What;
        std::size_t HintLength, TitleLength, TextLength;
        std::size_t TipExpected, TitleExpected, TextExpected;
    };
    const TCase cases[] = {
        {"all too long", 200, 100, 300, 127, 63, 255},
        {"each exactly fits", 127, 63, 255, 127, 63, 255},
        {"short ones stay whole", 5, 6, 7, 5, 6, 7},
    };
    for (const TCase& row : cases)
    {
        SCOPED_TRACE(row.What);
        Calls.clear();
        TqxTrayIcon icon(Recorder());
        icon.SetIconList(Pictures.get());
        icon.SetHint(Repeat(L'h', row.HintLength));
        Calls.clear();

        ASSERT_TRUE(icon.ShowBalloonHint(Repeat(L't', row.TitleLength), Repeat(L'x', row.TextLength),
                                         TQXBalloonHintIcon::bsbitWarning, 0));

        const NOTIFYICONDATAW& balloon = LastCall().Data;
        EXPECT_EQ(LastCall().Message, static_cast<DWORD>(NIM_MODIFY));
        EXPECT_TRUE(balloon.uFlags & NIF_INFO);
        EXPECT_EQ(std::wstring(balloon.szTip), Repeat(L'h', row.TipExpected));
        EXPECT_EQ(std::wstring(balloon.szInfoTitle), Repeat(L't', row.TitleExpected));
        EXPECT_EQ(std::wstring(balloon.szInfo), Repeat(L'x', row.TextExpected));
        EXPECT_EQ(balloon.dwInfoFlags, static_cast<DWORD>(NIIF_WARNING));
    }
}

TEST_F(TrayIconTest, BalloonIsClearedFirstAndLaterUpdatesCarryNoBalloon)
{
    TqxTrayIcon icon(Recorder());
    icon.SetIconList(Pictures.get());
    Calls.clear();

    icon.ShowBalloonHint(L"Title", L"Text", TQXBalloonHintIcon::bsbitNone, -1);
    ASSERT_EQ(Calls.size(), 2u);
    // The earlier balloon goes away before the new one is shown.
    EXPECT_TRUE(Calls[0].Data.uFlags & NIF_INFO);
    EXPECT_EQ(std::wstring(Calls[0].Data.szInfo), L"");
    EXPECT_EQ(std::wstring(Calls[1].Data.szInfo), L"Text");

    icon.SetHint(L"after");
    EXPECT_EQ(LastCall().Data.uFlags, static_cast<UINT>(NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_SHOWTIP));
}

// Under NOTIFYICON_VERSION_4 Windows shows the standard tip only with NIF_SHOWTIP;
// Wine's tray shows it anyway, so only the recorded calls can tell.
TEST_F(TrayIconTest, EveryAddAndModifyAsksTheShellToShowTheTip)
{
    TqxTrayIcon icon(Recorder());
    icon.SetIconList(Pictures.get());
    icon.SetHint(L"Quorvix Remote 1.2");
    Calls.clear();

    icon.SetIconVisible(true);
    icon.SetIconIndex(3);
    icon.ShowBalloonHint(L"Title", L"Text", TQXBalloonHintIcon::bsbitInfo, 1);
    icon.HideBalloonHint();
    SendMessageW(icon.Handle(), RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);

    int addsAndModifies = 0;
    for (const TShellCall& call : Calls)
    {
        if (call.Message != NIM_ADD && call.Message != NIM_MODIFY)
            continue;
        ++addsAndModifies;
        SCOPED_TRACE(testing::Message() << "shell call " << addsAndModifies << ", message " << call.Message);
        EXPECT_TRUE(call.Data.uFlags & NIF_SHOWTIP);
        EXPECT_TRUE(call.Data.uFlags & NIF_TIP);
        EXPECT_EQ(std::wstring(call.Data.szTip), L"Quorvix Remote 1.2");
    }
    // The add, the index, the balloon (cleared first, then shown), the hide, the re-add.
    EXPECT_EQ(addsAndModifies, 6);
}

TEST_F(TrayIconTest, OnlyABalloonThatAsksForItRespectsTheQuietTime)
{
    TqxTrayIcon icon(Recorder());
    icon.SetIconList(Pictures.get());
    icon.ShowBalloonHint(L"Hello", L"Starting application..", TQXBalloonHintIcon::bsbitNone, -1, true);
    EXPECT_EQ(LastCall().Data.dwInfoFlags, static_cast<DWORD>(NIIF_NONE | NIIF_RESPECT_QUIET_TIME));
    icon.ShowBalloonHint(L"Note", L"from the service", TQXBalloonHintIcon::bsbitError, 0);
    EXPECT_EQ(LastCall().Data.dwInfoFlags, static_cast<DWORD>(NIIF_ERROR));
}

// At logon the bridge may start before the shell takes icons.
TEST_F(TrayIconTest, ARefusedAddIsTriedAgainUntilTheShellTakesTheIcon)
{
    const std::size_t first = test_support::OwnLogLineCount();
    TqxTrayIcon icon(Recorder());
    icon.SetIconList(Pictures.get());
    ShellAnswer = FALSE;
    icon.SetIconVisible(true);
    const auto countAdds = [this] {
        return std::count_if(Calls.begin(), Calls.end(), [](const TShellCall& call) { return call.Message == NIM_ADD; });
    };
    ASSERT_TRUE(PumpUntil([&] { return countAdds() >= 3; }, 10s)) << "no retry";
    // "TaskbarCreated" tries at once as well, and still refused it logs nothing new.
    SendMessageW(icon.Handle(), RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);

    ShellAnswer = TRUE;
    const auto added = countAdds();
    ASSERT_TRUE(PumpUntil([&] { return Calls.back().Message == NIM_SETVERSION; }, 10s));
    PumpFor(2500ms);
    EXPECT_EQ(countAdds(), added + 1) << "no more adds once the shell took the icon";
    ASSERT_TRUE(test_support::WaitForOwnLogLine(L"[TqxTrayIcon.AddToTray] the shell took the icon after "));
    EXPECT_EQ(test_support::CountOwnLogLines(L"[TqxTrayIcon.AddToTray]  EX  the shell did not take the icon", first), 1);
    EXPECT_EQ(test_support::CountOwnLogLines(L"[TqxTrayIcon.AddToTray] the shell took the icon after ", first), 1);
}

TEST_F(TrayIconTest, RemovingTheIconStopsTheRetries)
{
    TqxTrayIcon icon(Recorder());
    icon.SetIconList(Pictures.get());
    ShellAnswer = FALSE;
    icon.SetIconVisible(true);
    icon.SetIconVisible(false);
    Calls.clear();
    PumpFor(2500ms);
    EXPECT_TRUE(Calls.empty());
}

TEST_F(TrayIconTest, HiddenHintSendsAnEmptyTip)
{
    TqxTrayIcon icon(Recorder());
    icon.SetIconList(Pictures.get());
    icon.SetHint(L"visible");
    icon.SetShowHint(false);
    const NOTIFYICONDATAW& data = LastCall().Data;
    EXPECT_TRUE(std::all_of(std::begin(data.szTip), std::end(data.szTip), [](wchar_t c) { return c == L'\0'; }));
}

TEST_F(TrayIconTest, IconIndexIsLoweredToTheLastPicture)
{
    TqxTrayIcon icon(Recorder());
    icon.SetIconList(Pictures.get());

    icon.SetIconIndex(9);
    EXPECT_EQ(icon.IconIndex(), 4);
    EXPECT_EQ(LastCall().Picture, PixelsOf(Pictures.get(), 4));

    icon.SetIconIndex(3);
    EXPECT_EQ(LastCall().Picture, PixelsOf(Pictures.get(), 3));

    // A balloon's index chooses the picture too, lowered the same way.
    icon.ShowBalloonHint(L"t", L"x", TQXBalloonHintIcon::bsbitNone, 7);
    EXPECT_EQ(icon.IconIndex(), 4);
    EXPECT_EQ(LastCall().Picture, PixelsOf(Pictures.get(), 4));

    // -1 on a balloon means "no choice": back to picture 0.
    icon.ShowBalloonHint(L"t", L"x", TQXBalloonHintIcon::bsbitNone, -1);
    EXPECT_EQ(icon.IconIndex(), 0);
    EXPECT_EQ(LastCall().Picture, PixelsOf(Pictures.get(), 0));
}

TEST_F(TrayIconTest, IndexMinusOneAndAnEmptyListShowTheOwnIcon)
{
    TqxTrayIcon icon(Recorder());
    icon.SetIconList(Pictures.get());
    TUniqueIcon own(ImageList_GetIcon(Pictures.get(), 3, ILD_NORMAL));
    icon.SetIcon(own.get());

    icon.SetIconIndex(-1);
    EXPECT_EQ(icon.IconIndex(), -1);
    EXPECT_EQ(LastCall().Picture, PixelsOf(own.get()));

    TUniqueImageList empty(ImageList_Create(16, 16, ILC_COLOR32, 0, 0));
    icon.SetIconList(empty.get());
    EXPECT_EQ(icon.IconIndex(), -1);
    EXPECT_EQ(LastCall().Picture, PixelsOf(own.get()));
}

TEST_F(TrayIconTest, WithoutAPictureNothingIsSentAndFailureIsReported)
{
    TqxTrayIcon icon(Recorder());
    icon.SetIconList(nullptr);
    EXPECT_EQ(icon.IconIndex(), 0);
    Calls.clear();
    EXPECT_FALSE(icon.Refresh());
    EXPECT_TRUE(Calls.empty());
}

TEST_F(TrayIconTest, ShellRefusalIsReportedNotHidden)
{
    TqxTrayIcon icon(Recorder());
    icon.SetIconList(Pictures.get());
    ShellAnswer = FALSE;
    EXPECT_FALSE(icon.Refresh());
    EXPECT_FALSE(icon.ShowBalloonHint(L"t", L"x", TQXBalloonHintIcon::bsbitNone, 0));
}

TEST_F(TrayIconTest, TaskbarCreatedAddsTheVisibleIconAgain)
{
    TqxTrayIcon icon(Recorder());
    icon.SetIconList(Pictures.get());
    icon.SetIconVisible(true);
    const UINT taskbarCreated = RegisterWindowMessageW(L"TaskbarCreated");

    Calls.clear();
    SendMessageW(icon.Handle(), taskbarCreated, 0, 0);
    ASSERT_EQ(Calls.size(), 3u);
    EXPECT_EQ(Calls[0].Message, static_cast<DWORD>(NIM_DELETE));
    EXPECT_EQ(Calls[1].Message, static_cast<DWORD>(NIM_ADD));
    EXPECT_EQ(Calls[2].Message, static_cast<DWORD>(NIM_SETVERSION));
    EXPECT_TRUE(icon.IconVisible());

    icon.SetIconVisible(false);
    Calls.clear();
    SendMessageW(icon.Handle(), taskbarCreated, 0, 0);
    EXPECT_TRUE(Calls.empty());
}

TEST_F(TrayIconTest, DestructionRemovesTheIconEvenWithoutAPicture)
{
    HWND window = nullptr;
    {
        TqxTrayIcon icon(Recorder());
        window = icon.Handle();
        icon.SetIconList(Pictures.get());
        icon.SetIconVisible(true);
        icon.SetIconList(nullptr);
    }
    EXPECT_EQ(LastCall().Message, static_cast<DWORD>(NIM_DELETE));
    EXPECT_EQ(LastCall().Data.hWnd, window);
    EXPECT_FALSE(IsWindow(window));
}

TEST_F(TrayIconTest, CyclingWalksThroughThePicturesAndWrapsAround)
{
    TqxTrayIcon icon(Recorder());
    icon.SetIconList(Pictures.get());
    icon.SetIconIndex(3);
    std::vector<int> next;
    icon.OnCycle = [&next](int index) { next.push_back(index); };

    icon.SetCycleIcons(true);
    EXPECT_EQ(icon.IconIndex(), 0);
    icon.SetAnimateTimerInterval(10);
    ASSERT_TRUE(PumpUntil([&next] { return next.size() >= 6; }, 5s));
    icon.SetCycleIcons(false);

    EXPECT_EQ(std::vector<int>(next.begin(), next.begin() + 6), (std::vector<int>{1, 2, 3, 4, 0, 1}));
}

// The click timer on the real message loop: the shell's callback message is sent
// to the icon's window as the shell would.
class TrayClickTest : public TrayIconTest
{
protected:
    void SetUp() override
    {
        Icon.OnClick = [this] { ++Clicks; };
        Icon.OnDblClick = [this] { ++DoubleClicks; };
        Icon.OnMouseDown = [this](TMouseButton button, unsigned shift, int, int) {
            Downs.push_back({button, shift});
        };
    }

    TqxTrayIcon Icon{Recorder()};
    int Clicks = 0;
    int DoubleClicks = 0;
    std::vector<std::pair<TMouseButton, unsigned>> Downs;
    const std::chrono::milliseconds DoubleClickTime{GetDoubleClickTime()};
};

TEST_F(TrayClickTest, SingleClickIsRaisedOnlyAfterTheDoubleClickTime)
{
    const auto pressed = std::chrono::steady_clock::now();
    SendCallback(Icon, WM_LBUTTONDOWN);
    SendCallback(Icon, WM_LBUTTONUP);
    EXPECT_EQ(Clicks, 0);

    ASSERT_TRUE(PumpUntil([this] { return Clicks > 0; }, 10s));
    // Timers may fire a tick early; the click must not come before the double-click time.
    EXPECT_GE(std::chrono::steady_clock::now() - pressed, DoubleClickTime - 20ms);
    PumpFor(DoubleClickTime);
    EXPECT_EQ(Clicks, 1);
    EXPECT_EQ(DoubleClicks, 0);
    ASSERT_EQ(Downs.size(), 1u);
    EXPECT_EQ(Downs[0].first, TMouseButton::mbLeft);
    EXPECT_TRUE(Downs[0].second & ssLeft);
}

TEST_F(TrayClickTest, DoubleClickRaisesNoClick)
{
    SendCallback(Icon, WM_LBUTTONDOWN);
    SendCallback(Icon, WM_LBUTTONUP);
    SendCallback(Icon, WM_LBUTTONDBLCLK);
    SendCallback(Icon, WM_LBUTTONUP);
    PumpFor(DoubleClickTime * 2);
    EXPECT_EQ(DoubleClicks, 1);
    EXPECT_EQ(Clicks, 0);
}

TEST_F(TrayClickTest, PressHeldLongerThanTheDoubleClickTimeClicksAtRelease)
{
    SendCallback(Icon, WM_LBUTTONDOWN);
    PumpFor(DoubleClickTime * 2);
    EXPECT_EQ(Clicks, 0);
    SendCallback(Icon, WM_LBUTTONUP);
    EXPECT_EQ(Clicks, 1);
}

TEST_F(TrayClickTest, DisabledIconIgnoresTheShell)
{
    Icon.SetEnabled(false);
    SendCallback(Icon, WM_LBUTTONDOWN);
    SendCallback(Icon, WM_LBUTTONUP);
    SendCallback(Icon, WM_LBUTTONDBLCLK);
    PumpFor(DoubleClickTime * 2);
    EXPECT_EQ(Clicks + DoubleClicks, 0);
    EXPECT_TRUE(Downs.empty());
}

TEST_F(TrayClickTest, VersionFourCallbackWithTheIconIdInTheHighWordIsUnderstood)
{
    SendMessageW(Icon.Handle(), TqxTrayIcon::CallbackMessage, 0, MAKELPARAM(WM_LBUTTONDBLCLK, 0));
    SendMessageW(Icon.Handle(), TqxTrayIcon::CallbackMessage, 0, MAKELPARAM(WM_MBUTTONDOWN, 7));
    EXPECT_EQ(DoubleClicks, 1);
    ASSERT_EQ(Downs.size(), 1u);
    EXPECT_EQ(Downs[0].first, TMouseButton::mbMiddle);
    EXPECT_TRUE(Downs[0].second & ssMiddle);
}

// A keyboard user's actions as the shell reports them under version 4: the
// action in the low word of lParam, the icon's anchor point in wParam.
TEST_F(TrayClickTest, EnterOrSpaceDoesWhatTheDoubleClickDoesOncePerKeyPress)
{
    const auto send = [this](UINT action) {
        SendMessageW(Icon.Handle(), TqxTrayIcon::CallbackMessage, MAKEWPARAM(600, 740), MAKELPARAM(action, 0));
    };
    send(NIN_KEYSELECT);
    EXPECT_EQ(DoubleClicks, 1);
    // Enter may reach us as two in a row: one key press.
    send(NIN_KEYSELECT);
    EXPECT_EQ(DoubleClicks, 1);
    PumpFor(DoubleClickTime + 100ms);
    send(NIN_KEYSELECT);
    EXPECT_EQ(DoubleClicks, 2);
    // The mouse's own selection is already told by the button messages.
    PumpFor(DoubleClickTime + 100ms);
    send(NIN_SELECT);
    PumpFor(DoubleClickTime * 2);
    EXPECT_EQ(DoubleClicks, 2);
    EXPECT_EQ(Clicks, 0);
}

TEST_F(TrayIconTest, DoubleClickRunsItsHandlerOrElseTheDefaultItemNeverBoth)
{
    struct TCase
    {
        const char* What;
        bool WithHandler;
        int HandlerRuns, DefaultItemRuns;
    };
    const TCase cases[] = {
        {"with a double-click handler", true, 1, 0},
        {"without one", false, 0, 1},
    };
    for (const TCase& row : cases)
    {
        SCOPED_TRACE(row.What);
        TqxTrayIcon icon(Recorder());
        int handlerRuns = 0;
        int defaultItemRuns = 0;
        TqxPopupMenu menu;
        menu.Items = {{L"Other", 1, true, false, {}}, {L"Open", 0, true, true, [&] { ++defaultItemRuns; }}};
        icon.SetPopupMenu(&menu);
        if (row.WithHandler)
            icon.OnDblClick = [&] { ++handlerRuns; };
        for (UINT action : {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP})
            SendCallback(icon, action);
        PumpFor(DoubleClickWait() * 2);
        SendCallback(icon, NIN_KEYSELECT);
        EXPECT_EQ(handlerRuns, 2 * row.HandlerRuns);
        EXPECT_EQ(defaultItemRuns, 2 * row.DefaultItemRuns);
    }
}

// The popup menu runs its own modal loop on the test thread; a helper thread
// watches the menus that open and closes each with Escape.
class TrayMenuOpeningTest : public TrayIconTest
{
protected:
    void SetUp() override
    {
        Menu.Items = {{L"Open", 0, true, true, {}}, {L"Quit", 3, true, false, {}}};
        Icon.SetPopupMenu(&Menu);
    }

    // Runs Act on this thread and pumps a while after, as the helper counts the
    // menus that open; OnOpen runs on the helper for each, before it closes it.
    void CountMenusWhile(const std::function<void()>& Act, const std::function<void(HWND)>& OnOpen = {})
    {
        std::jthread user([this, OnOpen](std::stop_token stop) {
            while (!stop.stop_requested())
            {
                HWND open = tray_test::WaitForOpenMenu(200ms);
                if (open == nullptr)
                    continue;
                RECT area{};
                GetWindowRect(open, &area);
                MenuAreas.push_back(area);
                if (OnOpen)
                    OnOpen(open);
                PostMessageW(open, WM_KEYDOWN, VK_ESCAPE, 0);
                while (IsWindow(open) && IsWindowVisible(open))
                    Sleep(10);
            }
        });
        Act();
        PumpFor(1500ms);
        user.request_stop();
    }

    TqxTrayIcon Icon{Recorder()};
    TqxPopupMenu Menu;
    std::vector<RECT> MenuAreas;
};

TEST_F(TrayMenuOpeningTest, ShiftF10OrTheMenuKeyOpensTheMenuAtTheAnchor)
{
    CountMenusWhile([this] {
        SendMessageW(Icon.Handle(), TqxTrayIcon::CallbackMessage, MAKEWPARAM(300, 200),
                     MAKELPARAM(WM_CONTEXTMENU, 0));
    });
    ASSERT_EQ(MenuAreas.size(), 1u);
    EXPECT_EQ(MenuAreas[0].left, 300);
    EXPECT_EQ(MenuAreas[0].top, 200);
}

TEST_F(TrayMenuOpeningTest, ARightClickOpensOneMenuThoughItsContextMenuFollows)
{
    // The shell reports a right click as press, release and WM_CONTEXTMENU. The
    // press opens the menu; the other two come while it is open, or after it
    // closed when the user chose fast.
    const HWND window = Icon.Handle();
    const auto sendRest = [window](bool Posted) {
        for (UINT action : {WM_RBUTTONUP, WM_CONTEXTMENU})
        {
            // Posted from the helper, whose sent message would wait for the menu to close.
            if (Posted)
                PostMessageW(window, TqxTrayIcon::CallbackMessage, MAKEWPARAM(300, 200), MAKELPARAM(action, 0));
            else
                SendMessageW(window, TqxTrayIcon::CallbackMessage, MAKEWPARAM(300, 200), MAKELPARAM(action, 0));
        }
    };
    for (bool whileOpen : {true, false})
    {
        SCOPED_TRACE(whileOpen ? "while the menu is open" : "after it closed");
        MenuAreas.clear();
        CountMenusWhile(
            [&] {
                SendCallback(Icon, WM_RBUTTONDOWN);
                if (!whileOpen)
                    sendRest(false);
            },
            [&](HWND) {
                if (whileOpen)
                    sendRest(true);
                Sleep(300);
            });
        EXPECT_EQ(MenuAreas.size(), 1u);
    }
}

// The popup menu runs its own modal loop on the test thread; a helper thread
// reads the open menu and picks an item with the keyboard, as a user would.
TEST_F(TrayIconTest, RightPressOpensTheMenuWithTheVisibleItemsAndRunsTheChosenOne)
{
    TqxTrayIcon icon(Recorder());
    std::vector<std::wstring> chosen;
    TqxPopupMenu menu;
    menu.Items = {
        {L"Hidden", 0, false, false, [&chosen] { chosen.push_back(L"Hidden"); }},
        {L"First", 1, true, false, [&chosen] { chosen.push_back(L"First"); }},
        {L"-", 99, true, false, {}},
        {L"Last", 3, true, false, [&chosen] { chosen.push_back(L"Last"); }},
    };
    icon.SetPopupMenu(&menu);

    int shownItems = -1;
    std::jthread user([&shownItems] {
        HWND open = tray_test::WaitForOpenMenu();
        if (open == nullptr)
            return;
        auto shown = reinterpret_cast<HMENU>(SendMessageW(open, MN_GETHMENU, 0, 0));
        shownItems = GetMenuItemCount(shown);
        // Down moves past the separator: First, Last.
        for (WPARAM key : {VK_DOWN, VK_DOWN, VK_RETURN})
            PostMessageW(open, WM_KEYDOWN, key, 0);
    });
    SendCallback(icon, WM_RBUTTONDOWN);
    user.join();

    EXPECT_EQ(shownItems, 3);
    EXPECT_EQ(chosen, (std::vector<std::wstring>{L"Last"}));
}

// The real notification area of the Wine desktop that wine-session.sh starts.
TEST(TrayIconOnTheDesktop, ShellTakesTheIconAndLetsItGo)
{
    TUniqueImageList pictures = CreateTrayImageList(TrayIconSize());
    TqxTrayIcon icon;
    icon.SetIconList(pictures.get());
    icon.SetHint(L"uxlink test");
    EXPECT_TRUE(icon.Refresh() == false) << "an icon not yet added cannot be modified";
    icon.SetIconVisible(true);
    EXPECT_TRUE(icon.Refresh()) << "the shell did not take the icon; is the Wine desktop running?";
    EXPECT_TRUE(icon.ShowBalloonHint(L"Title", L"Line 1\r\nLine 2", TQXBalloonHintIcon::bsbitInfo, 3));
    icon.SetIconVisible(false);
    EXPECT_FALSE(icon.Refresh()) << "the icon is still in the tray";
}

} // namespace
