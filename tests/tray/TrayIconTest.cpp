// TqxTrayIcon on the test's own thread. The shell is replaced by a recorder where
// the test checks what is handed to it (Wine's tray does not let a program read
// an icon's tip, balloon or picture back); the last group uses the real tray of
// the Wine desktop.
#include "TrayTestSupport.h"

#include "support/BridgeTestSupport.h"
#include "support/OwnLog.h"

#include "tray/UN_MAINFORM.h"
#include "tray/UN_TRemoteTrayIcon.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <iterator>
#include <mutex>
#include <ostream>
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

// What the shell reports, step by step: a callback (the action in the low word of
// lParam, the icon id in its high word, the icon's anchor point in wParam), or a
// pause while the test thread pumps, which the events mark with "|".
struct TShellStep
{
    UINT Action = 0; // 0: a pause
    WORD IconId = 0;
    // Posted by the user's helper once the menu is open, as the rest of a right
    // click comes while the menu that its press opened is still open.
    bool WhileMenuOpen = false;
    double DoubleClickTimes = 0; // a pause's length
    int PlusMs = 0;
};

TShellStep Shell(UINT Action, WORD IconId = 0)
{
    return {Action, IconId};
}

TShellStep WhileMenuOpen(UINT Action)
{
    return {Action, 0, true};
}

TShellStep Pause(double DoubleClickTimes, int PlusMs = 0)
{
    return {0, 0, false, DoubleClickTimes, PlusMs};
}

struct TClickCase
{
    const char* Name;
    std::vector<TShellStep> Steps;
    // The icon's events in order: "left down", "click", "double click", "move",
    // "menu at the cursor", "menu at the anchor"...; "|" where a pause ended.
    std::vector<std::string> Events;
    bool Enabled = true;
};

void PrintTo(const TClickCase& Case, std::ostream* Out)
{
    *Out << Case.Name;
}

const TClickCase ClickCases[] = {
    // Decided by the click timer, one double-click time after the press.
    {"SingleClickComesOnlyAfterTheDoubleClickTime",
     {Shell(WM_LBUTTONDOWN), Shell(WM_LBUTTONUP), Pause(0.75)},
     {"left down", "left up", "|", "click"}},
    {"DoubleClickGivesNoClick",
     {Shell(WM_LBUTTONDOWN), Shell(WM_LBUTTONUP), Shell(WM_LBUTTONDBLCLK), Shell(WM_LBUTTONUP)},
     {"left down", "left up", "double click", "left up"}},
    // The timer has gone by the release, so the click is decided there, first.
    {"PressHeldLongerThanTheDoubleClickTimeClicksAtRelease",
     {Shell(WM_LBUTTONDOWN), Pause(2), Shell(WM_LBUTTONUP)},
     {"left down", "|", "click", "left up"}},
    {"DisabledIconIgnoresTheShell",
     {Shell(WM_LBUTTONDOWN), Shell(WM_LBUTTONUP), Shell(WM_LBUTTONDBLCLK), Shell(WM_RBUTTONDOWN),
      Shell(WM_CONTEXTMENU), Shell(NIN_KEYSELECT), Shell(WM_MOUSEMOVE)},
     {},
     false},
    {"MouseMoveIsPassedOn", {Shell(WM_MOUSEMOVE)}, {"move"}},
    // Under version 4 the high word carries the icon's id.
    {"IconIdInTheHighWordIsNoOtherAction",
     {Shell(WM_LBUTTONDBLCLK, 7), Shell(WM_MBUTTONDOWN, 7), Shell(WM_MBUTTONUP, 7)},
     {"double click", "middle down", "middle up"}},
    // Enter or Space on the focused icon; Enter may come as two in a row, one key press.
    {"KeySelectDoesWhatTheDoubleClickDoesOncePerKeyPress",
     {Shell(NIN_KEYSELECT), Shell(NIN_KEYSELECT), Pause(1, 100), Shell(NIN_KEYSELECT)},
     {"double click", "|", "double click"}},
    // The mouse's own selection is already told by the button messages.
    {"MouseSelectIsNoAction", {Shell(NIN_KEYSELECT), Pause(1, 100), Shell(NIN_SELECT)}, {"double click", "|"}},
    // Shift+F10 or the Menu key: the menu opens where the shell says the icon is.
    {"ContextMenuKeyOpensTheMenuAtTheAnchor", {Shell(WM_CONTEXTMENU)}, {"menu at the anchor"}},
    // A right click comes as press, release and WM_CONTEXTMENU: one menu, from the
    // press, whether the rest comes after the menu closed (the user chose fast)...
    {"RightClickOpensOneMenuAtTheCursor",
     {Shell(WM_RBUTTONDOWN), Shell(WM_RBUTTONUP), Shell(WM_CONTEXTMENU)},
     {"right down", "menu at the cursor", "right up"}},
    // ...or while it is open. The helper's mouse move after the rest tells that
    // the open menu's loop has taken it.
    {"RightClickWhoseRestComesWhileTheMenuIsOpenOpensOneMenu",
     {Shell(WM_RBUTTONDOWN), WhileMenuOpen(WM_RBUTTONUP), WhileMenuOpen(WM_CONTEXTMENU)},
     {"right down", "menu at the cursor", "right up", "move"}},
};

// The click timer and the menu on the real message loop of the test thread: each
// step is sent to the icon's window as the shell would. A helper thread acts as
// the user at the open menu: it notes where the menu opened and closes it.
class TrayClickTest : public TrayIconTest, public ::testing::WithParamInterface<TClickCase>
{
protected:
    static constexpr POINT Anchor{300, 200};
    static constexpr POINT Cursor{120, 90};

    void SetUp() override
    {
        SetCursorPos(Cursor.x, Cursor.y);
        Menu.Items = {{L"Open", 0, true, true, {}}, {L"Quit", 3, true, false, {}}};
        Icon.SetPopupMenu(&Menu);
        Icon.OnClick = [this] { Note("click"); };
        Icon.OnDblClick = [this] { Note("double click"); };
        Icon.OnMouseDown = [this](TMouseButton button, unsigned shift, int, int) { NoteButton(button, shift, "down"); };
        Icon.OnMouseUp = [this](TMouseButton button, unsigned shift, int, int) { NoteButton(button, shift, "up"); };
        Icon.OnMouseMove = [this](unsigned, int, int) { Note("move"); };
    }

    void Note(std::string Event)
    {
        std::lock_guard lock(EventsLock);
        Events.push_back(std::move(Event));
    }

    // The shift flags carry the button's own flag, and no other button's.
    void NoteButton(TMouseButton Button, unsigned Shift, const char* Edge)
    {
        static constexpr const char* Names[] = {"left", "right", "middle"};
        static constexpr unsigned Flags[] = {ssLeft, ssRight, ssMiddle};
        const auto button = static_cast<std::size_t>(Button);
        std::string event = std::string(Names[button]) + " " + Edge;
        if ((Shift & (ssLeft | ssRight | ssMiddle)) != Flags[button])
            event += " with shift flags " + std::to_string(Shift);
        Note(event);
    }

    std::vector<std::string> TakeEvents()
    {
        std::lock_guard lock(EventsLock);
        return Events;
    }

    bool HasEvent(const std::string& Event)
    {
        std::lock_guard lock(EventsLock);
        return std::find(Events.begin(), Events.end(), Event) != Events.end();
    }

    void PostStep(const TShellStep& Step)
    {
        PostMessageW(Icon.Handle(), TqxTrayIcon::CallbackMessage, MAKEWPARAM(Anchor.x, Anchor.y),
                     MAKELPARAM(Step.Action, Step.IconId));
    }

    // The user at the menus that open while the test runs; WhileOpen is posted to
    // the first of them.
    void ActAsUser(std::stop_token Stop, std::vector<TShellStep> WhileOpen)
    {
        while (!Stop.stop_requested())
        {
            HWND open = tray_test::WaitForOpenMenu(200ms);
            if (open == nullptr)
                continue;
            RECT area{};
            GetWindowRect(open, &area);
            POINT cursor{};
            GetCursorPos(&cursor);
            if (area.left == Anchor.x && area.top == Anchor.y)
                Note("menu at the anchor");
            else if (area.left == cursor.x && area.top == cursor.y)
                Note("menu at the cursor");
            else
                Note("menu at " + std::to_string(area.left) + "," + std::to_string(area.top));
            if (!WhileOpen.empty())
            {
                for (const TShellStep& step : WhileOpen)
                    PostStep(step);
                PostStep(Shell(WM_MOUSEMOVE));
                WhileOpen.clear();
                test_support::Eventually([this] { return HasEvent("move"); });
            }
            PostMessageW(open, WM_KEYDOWN, VK_ESCAPE, 0);
            test_support::Eventually([open] { return !IsWindow(open) || !IsWindowVisible(open); });
        }
    }

    TqxTrayIcon Icon{Recorder()};
    TqxPopupMenu Menu;
    std::mutex EventsLock;
    std::vector<std::string> Events;
};

TEST_P(TrayClickTest, ShellStepsGiveTheirEvents)
{
    const TClickCase& row = GetParam();
    Icon.SetEnabled(row.Enabled);
    std::vector<TShellStep> whileOpen;
    std::copy_if(row.Steps.begin(), row.Steps.end(), std::back_inserter(whileOpen),
                 [](const TShellStep& step) { return step.WhileMenuOpen; });
    std::jthread user([this, whileOpen](std::stop_token stop) { ActAsUser(stop, whileOpen); });

    for (const TShellStep& step : row.Steps)
    {
        if (step.Action == 0)
        {
            PumpFor(std::chrono::duration_cast<std::chrono::milliseconds>(DoubleClickWait() * step.DoubleClickTimes) +
                    std::chrono::milliseconds(step.PlusMs));
            Note("|");
        }
        else if (!step.WhileMenuOpen)
        {
            SendMessageW(Icon.Handle(), TqxTrayIcon::CallbackMessage, MAKEWPARAM(Anchor.x, Anchor.y),
                         MAKELPARAM(step.Action, step.IconId));
        }
    }
    // Nothing to wait for: the time in which a click that the timer decides, or
    // anything more than the row expects, would come.
    PumpFor(DoubleClickWait() * 2);
    user.request_stop();
    user.join();

    EXPECT_EQ(TakeEvents(), row.Events);
}

INSTANTIATE_TEST_SUITE_P(Steps, TrayClickTest, ::testing::ValuesIn(ClickCases),
                         [](const ::testing::TestParamInfo<TClickCase>& row) { return std::string(row.param.Name); });

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
