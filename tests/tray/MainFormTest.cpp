// TFmain in the test process: the test's thread is the main thread and pumps its
// messages while other threads hand work over, as the request server's worker
// does in the bridge. The shell is replaced by a recorder; the menu is read back
// from the form, since Wine does not let another process read a popup menu.
#include "TrayTestSupport.h"

#include "startup/UN_GlobalVars.h"
#include "support/BridgeTestSupport.h"
#include "support/MasterStandIn.h"
#include "support/OwnLog.h"
#include "tray/UN_GlobalConstants.h"
#include "tray/UN_MAINFORM.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

using namespace std::chrono_literals;
using tray_test::MenuStateOf;
using test_support::PumpUntil;
using tray_test::TItemState;

namespace
{

class MainFormTest : public ::testing::Test
{
protected:
    std::vector<DWORD> ShellMessages;
    TFmain Form{[this](DWORD message, const NOTIFYICONDATAW&) {
        ShellMessages.push_back(message);
        return TRUE;
    }};
};

TEST_F(MainFormTest, StartsWithTheIconInTheTrayAndOnlyTheSeparatorShown)
{
    EXPECT_EQ(Fmain, &Form);
    const auto added = std::find(ShellMessages.begin(), ShellMessages.end(), static_cast<DWORD>(NIM_ADD));
    ASSERT_NE(added, ShellMessages.end());
    ASSERT_NE(added + 1, ShellMessages.end());
    EXPECT_EQ(added[1], static_cast<DWORD>(NIM_SETVERSION));
    EXPECT_TRUE(Form.TrayIcon->IconVisible());
    EXPECT_EQ(Form.TrayIcon->IconIndex(), 0);
    EXPECT_EQ(Form.TrayIcon->PopupMenu(), &Form.TrayMenu);
    EXPECT_EQ(MenuStateOf(Form.TrayMenu), (std::vector<TItemState>{{0, L"Open", false},
                                               {1, L"Disable unattended access", false},
                                               {2, L"Logout", false},
                                               {99, L"-", true},
                                               {3, L"Quit", false}}));
}

TEST_F(MainFormTest, RightPressBeforeAnyLabelsShowsOnlyTheSeparator)
{
    int shownItems = -1;
    UINT firstItemType = 0;
    std::jthread user([&] {
        HWND open = tray_test::WaitForOpenMenu();
        if (open == nullptr)
            return;
        auto shown = reinterpret_cast<HMENU>(SendMessageW(open, MN_GETHMENU, 0, 0));
        shownItems = GetMenuItemCount(shown);
        MENUITEMINFOW info{};
        info.cbSize = sizeof(info);
        info.fMask = MIIM_FTYPE;
        GetMenuItemInfoW(shown, 0, TRUE, &info);
        firstItemType = info.fType;
        PostMessageW(open, WM_KEYDOWN, VK_ESCAPE, 0);
    });
    SendMessageW(Form.TrayIcon->Handle(), TqxTrayIcon::CallbackMessage, 0, WM_RBUTTONDOWN);
    user.join();
    EXPECT_EQ(shownItems, 1);
    EXPECT_TRUE(firstItemType & MFT_SEPARATOR);
}

TEST_F(MainFormTest, TranslateFromAnotherThreadSetsCaptionsAndVisibility)
{
    ASSERT_TRUE(test_support::RunOnWorkerWhilePumping([this] {
        Form.TranslateAndSetStatusTrayMenu({L"Apri", L"Disabilita", L"Esci", L"Chiudi"}, {1, 0, 1, 1});
    }));
    EXPECT_EQ(MenuStateOf(Form.TrayMenu), (std::vector<TItemState>{{0, L"Apri", true},
                                               {1, L"Disabilita", false},
                                               {2, L"Esci", true},
                                               {99, L"-", true},
                                               {3, L"Chiudi", true}}));
}

TEST_F(MainFormTest, TranslateEdgeCases)
{
    struct TCase
    {
        const char* What;
        std::vector<std::wstring> Trad;
        std::vector<int> Status;
        std::vector<TItemState> Expected;
    };
    const TCase cases[] = {
        {"status 2 hides like 0",
         {L"a", L"b"},
         {2, 1},
         {{0, L"a", false}, {1, L"b", true}, {2, L"Logout", false}, {99, L"-", true}, {3, L"Quit", false}}},
        {"a missing status hides its item",
         {L"a", L"b", L"c"},
         {1},
         {{0, L"a", true}, {1, L"b", false}, {2, L"c", false}, {99, L"-", true}, {3, L"Quit", false}}},
        {"entries beyond the menu change nothing",
         {L"a", L"b", L"c", L"d", L"e", L"f"},
         {1, 1, 1, 1, 1, 1},
         {{0, L"a", true}, {1, L"b", true}, {2, L"c", true}, {99, L"-", true}, {3, L"d", true}}},
        {"empty lists change nothing", {}, {}, {}},
    };
    for (const TCase& row : cases)
    {
        SCOPED_TRACE(row.What);
        const std::vector<TItemState> before = MenuStateOf(Form.TrayMenu);
        Form.TranslateAndSetStatusTrayMenu(row.Trad, row.Status);
        EXPECT_EQ(MenuStateOf(Form.TrayMenu), row.Expected.empty() ? before : row.Expected);
    }
}

TEST_F(MainFormTest, HandedOverCallsRunOnTheMainThreadInOrderAndFailuresReturn)
{
    const DWORD mainThread = GetCurrentThreadId();
    std::vector<int> order;
    std::vector<DWORD> threads;
    bool failureCameBack = false;
    ASSERT_TRUE(test_support::RunOnWorkerWhilePumping([&] {
        for (int i = 0; i < 20; ++i)
            Form.RunOnMainThread([&, i] {
                order.push_back(i);
                threads.push_back(GetCurrentThreadId());
            });
        try
        {
            Form.RunOnMainThread([] { throw std::invalid_argument("broken call"); });
        }
        catch (const std::invalid_argument& failure)
        {
            failureCameBack = std::string(failure.what()) == "broken call";
        }
    }));
    ASSERT_EQ(order.size(), 20u);
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(order[i], i);
    EXPECT_TRUE(std::all_of(threads.begin(), threads.end(), [&](DWORD id) { return id == mainThread; }));
    EXPECT_TRUE(failureCameBack);
}

TEST_F(MainFormTest, BalloonFromAnotherThreadIsShownBeforeTheCallReturns)
{
    ShellMessages.clear();
    ASSERT_TRUE(test_support::RunOnWorkerWhilePumping([this] {
        Form.ShowBallonHint(L"Title", L"Text", TQXBalloonHintIcon::bsbitNone, 3);
        // Read on this thread right after the return: the tray work is done.
        EXPECT_EQ(Form.TrayIcon->IconIndex(), 3);
    }));
    EXPECT_EQ(ShellMessages, (std::vector<DWORD>{NIM_MODIFY, NIM_MODIFY}));
}

TEST_F(MainFormTest, ClosingRemovesTheIconAndRefusesLaterCallsWithoutBlocking)
{
    ShellMessages.clear();
    Form.Close();
    EXPECT_FALSE(Form.TrayIcon->IconVisible());
    EXPECT_EQ(ShellMessages, (std::vector<DWORD>{NIM_DELETE}));

    bool refused = false;
    std::jthread late([&] {
        try
        {
            Form.ShowBallonHint(L"t", L"x", TQXBalloonHintIcon::bsbitNone, 0);
        }
        catch (const EMainFormClosed&)
        {
            refused = true;
        }
    });
    late.join();
    EXPECT_TRUE(refused);

    // The quit message the close posted ends the test thread's loop; take it out.
    MSG quit;
    EXPECT_TRUE(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
}

TEST(MainFormWindow, AHandlerThatFailsIsLoggedAndNeverReachesTheSystemsDispatch)
{
    bool refuse = true;
    TFmain form([&refuse](DWORD message, const NOTIFYICONDATAW&) -> BOOL {
        if (message == NIM_DELETE && std::exchange(refuse, false))
            throw std::runtime_error("the shell went away");
        return TRUE;
    });
    const std::size_t before = test_support::OwnLogLineCount();
    // WM_CLOSE removes the icon, which fails here inside the window procedure.
    EXPECT_NO_THROW(form.Close());
    EXPECT_EQ(test_support::CountOwnLogLines(L"[TFmain.WndProc]  EX  the shell went away", before), 1);
    EXPECT_FALSE(refuse) << "the close never reached the shell";
}

TEST(MainFormLifetime, ACallWaitingWhenTheFormGoesAwayIsRefused)
{
    std::atomic<bool> refused = false;
    std::jthread waiting;
    {
        auto form = std::make_unique<TFmain>([](DWORD, const NOTIFYICONDATAW&) { return TRUE; });
        waiting = std::jthread([&, raw = form.get()] {
            try
            {
                raw->RunOnMainThread([] {});
            }
            catch (const EMainFormClosed&)
            {
                refused = true;
            }
        });
        // The wake-up is posted after the call is queued; this thread never runs it.
        MSG wakeUp;
        ASSERT_TRUE(test_support::Eventually(
            [&] { return PeekMessageW(&wakeUp, form->Handle(), WM_APP + 1, WM_APP + 1, PM_NOREMOVE) != FALSE; }));
    }
    waiting.join();
    EXPECT_TRUE(refused);
}

// The menu as the user works it: a right press on the icon opens it, a helper
// thread picks an item with the keyboard, and master_standin, serving the master
// pipe, records the command that the item's handler sent.
class MainFormMenuTest : public MainFormTest
{
protected:
    void SetUp() override
    {
        Master = std::make_unique<test_support::TStandIn>(L"");
        SavedMasterPid = _MasterPidText;
        _MasterPidText = Master->ServedPid();
        Form.TranslateAndSetStatusTrayMenu({L"Open", L"Disable", L"Logout", L"Quit"}, {1, 1, 1, 1});
    }

    void TearDown() override
    {
        _MasterPidText = SavedMasterPid;
        Master.reset();
    }

    // Opens the menu and presses Down Steps times, then Enter.
    void ChooseFromMenu(int Steps)
    {
        std::jthread user([Steps] {
            HWND open = tray_test::WaitForOpenMenu();
            for (int i = 0; i < Steps; ++i)
                PostMessageW(open, WM_KEYDOWN, VK_DOWN, 0);
            PostMessageW(open, WM_KEYDOWN, VK_RETURN, 0);
        });
        SendMessageW(Form.TrayIcon->Handle(), TqxTrayIcon::CallbackMessage, 0, WM_RBUTTONDOWN);
    }

    std::wstring SavedMasterPid;
    std::unique_ptr<test_support::TStandIn> Master;
};

TEST_F(MainFormMenuTest, EachItemSendsItsCommand)
{
    struct TCase
    {
        int Steps; // Down presses from the top; the separator is skipped
        const char* Command;
    };
    const TCase cases[] = {{1, "WAKEUPNEO"}, {2, "REQDISERVICE"}, {3, "REQLOGOUT"}, {4, "REQQUIT"}};
    for (const TCase& row : cases)
    {
        SCOPED_TRACE(row.Command);
        ChooseFromMenu(row.Steps);
        const std::string quoted = std::string("\"") + row.Command + "\"";
        EXPECT_TRUE(PumpUntil([&] { return Master->RecordText().find(quoted) != std::string::npos; }, 15s));
    }
}

// The double click and Enter do what "Open" does, so the menu draws it bold.
TEST_F(MainFormMenuTest, OpenIsTheMenusDefaultItem)
{
    std::wstring defaultItem = L"(none)";
    std::jthread user([&defaultItem] {
        HWND open = tray_test::WaitForOpenMenu();
        if (open == nullptr)
            return;
        auto shown = reinterpret_cast<HMENU>(SendMessageW(open, MN_GETHMENU, 0, 0));
        const UINT position = GetMenuDefaultItem(shown, TRUE, 0);
        wchar_t caption[64] = L"";
        if (position != static_cast<UINT>(-1))
        {
            GetMenuStringW(shown, position, caption, static_cast<int>(std::size(caption)), MF_BYPOSITION);
            defaultItem = caption;
        }
        PostMessageW(open, WM_KEYDOWN, VK_ESCAPE, 0);
    });
    SendMessageW(Form.TrayIcon->Handle(), TqxTrayIcon::CallbackMessage, 0, WM_RBUTTONDOWN);
    user.join();
    EXPECT_EQ(defaultItem, L"Open");
}

TEST_F(MainFormMenuTest, DoubleClickAndEnterEachSendOneWakeUp)
{
    const auto wakeUps = [this] { return tray_test::CountOf(Master->RecordText(), "\"WAKEUPNEO\""); };
    const HWND icon = Form.TrayIcon->Handle();
    for (UINT action : {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP})
        SendMessageW(icon, TqxTrayIcon::CallbackMessage, 0, action);
    // The bridge opens the master pipe without waiting for a free instance, and the
    // stand-in has one waiting at a time: a user's Enter follows the double click's
    // send, so the test lets that send arrive first.
    EXPECT_TRUE(PumpUntil([&] { return wakeUps() >= 1; }, 15s));
    SendMessageW(icon, TqxTrayIcon::CallbackMessage, MAKEWPARAM(600, 740), MAKELPARAM(NIN_KEYSELECT, 0));
    EXPECT_TRUE(PumpUntil([&] { return wakeUps() >= 2; }, 15s));
    test_support::PumpFor(2s);
    EXPECT_EQ(wakeUps(), 2);
}

// Start-up settings that FormCreate reads, set for one test and put back after.
class MainFormSettingsTest : public ::testing::Test
{
protected:
    void TearDown() override
    {
        _AppName = SavedName;
        _AppVersion = SavedVersion;
        _HelloMsg = SavedHello;
        _Rebranded = SavedRebranded;
    }

    const std::wstring SavedName = _AppName;
    const std::wstring SavedVersion = _AppVersion;
    const std::wstring SavedHello = _HelloMsg;
    const bool SavedRebranded = _Rebranded;
};

TEST_F(MainFormSettingsTest, GreetingIsOursInTheUsersLanguageWithTwoDots)
{
    _AppName = L"Quorvix Remote";
    _AppVersion = L"1.2";
    _HelloMsg = L"whatever the service wrote";
    NOTIFYICONDATAW balloon{};
    TFmain form([&balloon](DWORD, const NOTIFYICONDATAW& data) {
        if ((data.uFlags & NIF_INFO) != 0 && data.szInfo[0] != L'\0')
            balloon = data;
        return TRUE;
    });
    EXPECT_EQ(std::wstring(balloon.szInfo), L"Starting application..");
    EXPECT_EQ(std::wstring(balloon.szInfoTitle), L"Quorvix Remote 1.2");
    EXPECT_EQ(std::wstring(balloon.szTip), L"Quorvix Remote 1.2");
    EXPECT_EQ(form.TrayIcon->IconIndex(), 0);
}

// At logon the service may start the bridge before the shell takes icons; the
// icon goes in later, by the retry, and the greeting must follow it.
TEST_F(MainFormSettingsTest, GreetingRefusedWithTheFirstAddIsShownOnceWhenTheShellTakesTheIcon)
{
    _HelloMsg = L"x";
    struct TShellCall
    {
        DWORD Message;
        UINT Flags;
        std::wstring Balloon;
        DWORD InfoFlags;
    };
    std::vector<TShellCall> calls;
    BOOL shellAnswer = FALSE;
    TFmain form([&](DWORD message, const NOTIFYICONDATAW& data) {
        calls.push_back({message, data.uFlags, data.szInfo, data.dwInfoFlags});
        return shellAnswer;
    });
    const auto isGreeting = [](const TShellCall& call) {
        return call.Message == NIM_MODIFY && (call.Flags & NIF_INFO) != 0 && call.Balloon == L"Starting application..";
    };
    EXPECT_EQ(std::count_if(calls.begin(), calls.end(), isGreeting), 0);

    shellAnswer = TRUE;
    const auto greetings = [&] { return std::count_if(calls.begin(), calls.end(), isGreeting); };
    ASSERT_TRUE(PumpUntil([&] { return greetings() > 0; }, 10s)) << "no greeting after the late add";
    // Explorer restarting asks for the icon again; the greeting is not repeated.
    SendMessageW(form.TrayIcon->Handle(), RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
    EXPECT_EQ(greetings(), 1);

    // The version is set only once the shell took the add; the greeting follows.
    const auto taken = std::find_if(calls.begin(), calls.end(),
                                    [](const TShellCall& call) { return call.Message == NIM_SETVERSION; });
    const auto greeting = std::find_if(calls.begin(), calls.end(), isGreeting);
    ASSERT_NE(taken, calls.end());
    EXPECT_GT(std::count_if(calls.begin(), taken, [](const TShellCall& call) { return call.Message == NIM_ADD; }), 1)
        << "the shell took the first add, not a later one";
    EXPECT_LT(taken - calls.begin(), greeting - calls.begin());
    EXPECT_EQ(greeting->InfoFlags, static_cast<DWORD>(NIIF_NONE | NIIF_RESPECT_QUIET_TIME));
}

// "MAINICON" is not the product mark, so each picture tells which one the flag chose.
TEST_F(MainFormSettingsTest, RebrandedFlagChoosesTheMainIconForEveryPictureButThree)
{
    const int size = TrayIconSize();
    const TUniqueImageList original = CreateTrayImageList(size);
    TUniqueIcon mainIcon(
        static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), L"MAINICON", IMAGE_ICON, size, size, LR_DEFAULTCOLOR)));
    ASSERT_TRUE(mainIcon);
    const auto main = tray_test::PixelsOf(mainIcon.get());
    ASSERT_NE(main, tray_test::PixelsOf(original.get(), 0));

    for (bool rebranded : {false, true})
    {
        SCOPED_TRACE(rebranded ? "rebranded" : "not rebranded");
        _Rebranded = rebranded;
        std::vector<std::uint32_t> added;
        TFmain form([&added](DWORD message, const NOTIFYICONDATAW& data) {
            if (message == NIM_ADD)
                added = tray_test::PixelsOf(data.hIcon);
            return TRUE;
        });
        for (int index = 0; index < 5; ++index)
            EXPECT_EQ(tray_test::PixelsOf(form.imgListTrayIcons.get(), index),
                      rebranded && index != 3 ? main : tray_test::PixelsOf(original.get(), index))
                << "picture " << index;
        // What the tray shows at start: picture 0.
        EXPECT_EQ(added, rebranded ? main : tray_test::PixelsOf(original.get(), 0));
    }
}

} // namespace
