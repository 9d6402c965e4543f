// The three tray requests through the real dispatcher, run on another thread as
// the server's worker runs them, against a main form on the test's thread. The
// shell is a recorder, so the balloon's text and picture can be read back; the
// menu is read back from the form.
#include "TrayTestSupport.h"

#include "messages/UPipeMessage.h"
#include "server/UCalcRequestDispatcher.h"
#include "tray/UN_MAINFORM.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using tray_test::PixelsOf;
using tray_test::MenuStateOf;
using test_support::PumpUntil;
using tray_test::TItemState;

namespace
{

class TrayRequestsTest : public ::testing::Test
{
protected:
    // The answer to a request; what it leaves for after the answer runs too.
    std::wstring Request(const std::wstring& Command, const std::vector<std::wstring>& Keys,
                         const std::vector<std::wstring>& Values)
    {
        std::wstring answer = Answer(Command, Keys, Values);
        EXPECT_TRUE(test_support::RunOnWorkerWhilePumping([this] { Dispatcher.RunAfterAnswer(); }));
        return answer;
    }

    std::wstring Answer(const std::wstring& Command, const std::vector<std::wstring>& Keys,
                        const std::vector<std::wstring>& Values)
    {
        const std::wstring request = TTPPipeMessage::MakeMessage(Command, Keys, Values);
        std::wstring answer;
        EXPECT_TRUE(test_support::RunOnWorkerWhilePumping([&] { answer = Dispatcher.ProcessRequest(request); }));
        return answer;
    }

    const std::wstring Ok = TTPPipeMessage::MakeMessage(L"Result", {L"Result"}, {L"OK"});
    std::vector<DWORD> ShellMessages;
    NOTIFYICONDATAW LastData{};
    std::vector<std::uint32_t> LastPicture;
    TFmain Form{[this](DWORD message, const NOTIFYICONDATAW& data) {
        ShellMessages.push_back(message);
        LastData = data;
        LastPicture = PixelsOf(data.hIcon);
        return TRUE;
    }};
    TCalcRequestDispatcher Dispatcher;
};

TEST_F(TrayRequestsTest, MenuTextsWithFourLabels)
{
    EXPECT_EQ(Request(L"RESTICHICON",
                      {L"label0", L"status0", L"label1", L"status1", L"label2", L"status2", L"label3", L"status3"},
                      {L"Apri", L"1", L"Disabilita", L"0", L"Esci", L"1", L"Chiudi", L"1"}),
              Ok);
    EXPECT_EQ(MenuStateOf(Form.TrayMenu), (std::vector<TItemState>{{0, L"Apri", true},
                                               {1, L"Disabilita", false},
                                               {2, L"Esci", true},
                                               {99, L"-", true},
                                               {3, L"Chiudi", true}}));
}

TEST_F(TrayRequestsTest, MenuTextsArePackedWhenALabelIsMissing)
{
    // Without label1 the lists hold the pairs of tags 0, 2 and 3, which go to the
    // items tagged 0, 1 and 2; the search never passes the separator.
    EXPECT_EQ(Request(L"RESTICHICON", {L"label0", L"status0", L"status1", L"label2", L"status2", L"label3", L"status3"},
                      {L"A", L"1", L"1", L"C", L"0", L"D", L"junk"}),
              Ok);
    EXPECT_EQ(MenuStateOf(Form.TrayMenu), (std::vector<TItemState>{{0, L"A", true},
                                               {1, L"C", false},
                                               {2, L"D", false},
                                               {99, L"-", true},
                                               {3, L"Quit", false}}));
}

TEST_F(TrayRequestsTest, BalloonTextTurnsStarsIntoLineBreaks)
{
    EXPECT_EQ(Request(L"REQTISHOW", {L"title", L"text", L"icon"}, {L"Title", L"*one**two*", L"3"}), Ok);
    EXPECT_EQ(std::wstring(LastData.szInfo), L"\r\none\r\n\r\ntwo\r\n");
    EXPECT_EQ(std::wstring(LastData.szInfoTitle), L"Title");
    // "icon" has no effect: the balloon always carries no icon.
    EXPECT_EQ(LastData.dwInfoFlags, static_cast<DWORD>(NIIF_NONE));
}

TEST_F(TrayRequestsTest, BalloonIconIndexChoosesThePictureAndItsAbsenceIsMinusOne)
{
    TUniqueImageList pictures = CreateTrayImageList(TrayIconSize());
    const auto transparent = PixelsOf(pictures.get(), 4);

    Request(L"REQTISHOW", {L"title", L"text", L"iconindex"}, {L"t", L"x", L"4"});
    EXPECT_EQ(Form.TrayIcon->IconIndex(), 4);
    EXPECT_EQ(LastPicture, transparent);

    // -1 leaves the own picture as it is, where 0 would have copied picture 0 into
    // it; showing the own picture tells the two apart.
    for (const wchar_t* index : {L"", L"abc", L"2x"})
    {
        SCOPED_TRACE(testing::PrintToString(std::wstring(index)));
        Request(L"REQTISHOW", {L"title", L"text", L"iconindex"}, {L"t", L"x", index});
        EXPECT_EQ(Form.TrayIcon->IconIndex(), 0);
        Form.TrayIcon->SetIconIndex(-1);
        EXPECT_EQ(LastPicture, transparent);
    }
}

TEST_F(TrayRequestsTest, CloseAnswersOkRemovesTheIconAndEndsTheLoop)
{
    ShellMessages.clear();
    test_support::TakeQuitSeen();
    EXPECT_EQ(Answer(L"REQCPIPE", {}, {}), Ok);
    EXPECT_FALSE(Form.TrayIcon->IconVisible());
    EXPECT_EQ(ShellMessages, (std::vector<DWORD>{NIM_DELETE}));
    // The loop, and so the process, ends only once the answer has been written.
    EXPECT_FALSE(test_support::TakeQuitSeen());
    EXPECT_TRUE(test_support::RunOnWorkerWhilePumping([this] { Dispatcher.RunAfterAnswer(); }));
    EXPECT_TRUE(test_support::TakeQuitSeen()) << "the message loop would go on";

    // Later tray requests are still answered, and change nothing.
    EXPECT_EQ(Request(L"REQTISHOW", {L"title", L"text"}, {L"t", L"x"}), Ok);
    EXPECT_EQ(ShellMessages, (std::vector<DWORD>{NIM_DELETE}));
}

TEST(TrayRequestsWithoutForm, AreAnsweredOk)
{
    ASSERT_EQ(Fmain, nullptr);
    TCalcRequestDispatcher dispatcher;
    const std::wstring ok = TTPPipeMessage::MakeMessage(L"Result", {L"Result"}, {L"OK"});
    for (const wchar_t* command : {L"RESTICHICON", L"REQTISHOW", L"REQCPIPE"})
    {
        SCOPED_TRACE(testing::PrintToString(std::wstring(command)));
        EXPECT_EQ(dispatcher.ProcessRequest(TTPPipeMessage::MakeMessage(command, {L"label0"}, {L"x"})), ok);
        dispatcher.RunAfterAnswer();
    }
}

} // namespace
