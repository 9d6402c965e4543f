#include "FakeShell.h"
#include "TestWindows.h"

#include "shell/UN_DetectFile.h"
#include "support/MessagePump.h"

#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>

namespace
{

using namespace std::chrono_literals;
using test_windows::TWindowChain;
using test_windows::FolderWindow;
using test_windows::TWindowKind;
using test_support::PumpUntil;

// Waits until the detection thread has let go of the detector: the owner drops its
// own reference at once, as a request that stops waiting does, so the detector
// must live on for the thread alone.
bool WaitForDetectionEnd(const std::weak_ptr<TDetectM>& Detector, std::chrono::milliseconds Timeout = 10s)
{
    return PumpUntil([&] { return Detector.expired(); }, Timeout);
}

// What one detection reported through OnData: its paths and its classification.
struct TDetection
{
    std::optional<std::vector<std::wstring>> Paths;
    int Classification = 0;
};

struct TReport
{
    std::mutex Lock;
    TDetection Detection;
};

// Runs one detection; the detector is handed over and dropped at once.
TDetection Detect(std::shared_ptr<TDetectM> Detector = TDetectM::Create(), std::chrono::milliseconds Timeout = 10s)
{
    auto report = std::make_shared<TReport>();
    Detector->SetOnData([report](TDetectM& Sender) {
        std::lock_guard lock(report->Lock);
        report->Detection = {Sender.Path(), Sender.IsDesktop()};
    });
    Detector->MouseTrapCB();
    std::weak_ptr<TDetectM> watched = Detector;
    Detector.reset();
    EXPECT_TRUE(WaitForDetectionEnd(watched, Timeout)) << "the detection thread did not end";
    std::lock_guard lock(report->Lock);
    return report->Detection;
}

const std::vector<TWindowKind> DesktopIconView = {
    {L"Progman", L"Program Manager"}, {L"SHELLDLL_DefView", L""}, {L"SysListView32", L"FolderView"}};

// Intermediate windows between a view and its top-level window.
std::vector<TWindowKind> WithPlainWindows(const wchar_t* TopClass, int Count, const wchar_t* ViewClass)
{
    std::vector<TWindowKind> chain = {{TopClass, L""}};
    chain.insert(chain.end(), Count, TWindowKind{L"TestPlain", L""});
    chain.push_back({ViewClass, L""});
    chain.push_back({L"SysListView32", L"FolderView"});
    return chain;
}

struct TClassifyCase
{
    const char* Name;
    std::vector<TWindowKind> Chain;
    int Expected;
};

TEST(ClassifyCursorWindow, TellsTheDesktopIconViewFromEveryOtherWindow)
{
    const TClassifyCase cases[] = {
        {"desktop icon view under Progman", DesktopIconView, TDetectM::FQueryIsDesktop},
        {"desktop icon view under WorkerW",
         {{L"WorkerW", L""}, {L"SHELLDLL_DefView", L""}, {L"SysListView32", L"FolderView"}},
         TDetectM::FQueryIsDesktop},
        // NSEViewClass counts only below Progman.
        {"NSEViewClass under WorkerW",
         {{L"WorkerW", L""}, {L"NSEViewClass", L""}, {L"SysListView32", L"FolderView"}},
         TDetectM::FQueryIsExplorer},
        {"NSEViewClass under Progman",
         {{L"Progman", L""}, {L"NSEViewClass", L""}, {L"SysListView32", L"FolderView"}},
         TDetectM::FQueryIsDesktop},
        {"Explorer folder window's list view",
         {{L"CabinetWClass", L""}, {L"SHELLDLL_DefView", L""}, {L"SysListView32", L"FolderView"}},
         TDetectM::FQueryIsExplorer},
        // The texts and classes are compared exactly.
        {"other window text",
         {{L"Progman", L""}, {L"SHELLDLL_DefView", L""}, {L"SysListView32", L"folderview"}},
         TDetectM::FQueryIsExplorer},
        {"other view class", {{L"Progman", L""}, {L"SHELLDLL_DefView", L""}, {L"TestPlain", L"FolderView"}},
         TDetectM::FQueryIsExplorer},
        {"parent is no shell view", {{L"Progman", L""}, {L"TestPlain", L""}, {L"SysListView32", L"FolderView"}},
         TDetectM::FQueryIsExplorer},
        // The climb from the view's parent takes at most ten steps.
        {"Progman ten steps up", WithPlainWindows(L"Progman", 9, L"SHELLDLL_DefView"), TDetectM::FQueryIsDesktop},
        {"Progman eleven steps up", WithPlainWindows(L"Progman", 10, L"SHELLDLL_DefView"),
         TDetectM::FQueryIsExplorer},
        {"ordinary window", {TWindowKind{L"TestPlain", L"Notepad"}}, TDetectM::FQueryIsExplorer},
    };
    for (const TClassifyCase& row : cases)
    {
        SCOPED_TRACE(row.Name);
        TWindowChain windows(row.Chain);
        windows.PointAt();
        POINT pos{};
        ASSERT_TRUE(GetCursorPos(&pos));
        HWND underPointer = WindowFromPoint(pos);
        ASSERT_EQ(underPointer, windows.Leaf()) << "the pointer is not over the test's window";
        EXPECT_EQ(TDetectM::ClassifyWindow(underPointer), row.Expected);
    }
}

TEST(TakeStrRetText, ReadsEveryForm)
{
    // An item ID of 2 size bytes, then "C:\" in ANSI.
    alignas(USHORT) char item[16] = {};
    std::memcpy(item + 2, "C:\\", 4);
    reinterpret_cast<SHITEMID*>(item)->cb = 6;
    auto* child = reinterpret_cast<PCUITEMID_CHILD>(item);

    STRRET wide{};
    wide.uType = STRRET_WSTR;
    wide.pOleStr = static_cast<LPWSTR>(CoTaskMemAlloc(sizeof(L"C:\\users")));
    std::memcpy(wide.pOleStr, L"C:\\users", sizeof(L"C:\\users"));
    EXPECT_EQ(TakeStrRetText(wide, child), L"C:\\users");
    EXPECT_EQ(wide.pOleStr, nullptr) << "the text is taken over and freed";

    STRRET offset{};
    offset.uType = STRRET_OFFSET;
    offset.uOffset = 2;
    EXPECT_EQ(TakeStrRetText(offset, child), L"C:\\");
    // An offset outside the item reads nothing beyond it.
    offset.uOffset = 6;
    EXPECT_EQ(TakeStrRetText(offset, child), L"");

    STRRET ansi{};
    ansi.uType = STRRET_CSTR;
    std::strcpy(ansi.cStr, "D:\\data");
    EXPECT_EQ(TakeStrRetText(ansi, child), L"D:\\data");
    // A full buffer without a terminating zero stops at its end.
    std::memset(ansi.cStr, 'x', sizeof(ansi.cStr));
    EXPECT_EQ(TakeStrRetText(ansi, child).size(), sizeof(ansi.cStr));

    STRRET unknown{};
    unknown.uType = 7;
    EXPECT_EQ(TakeStrRetText(unknown, child), L"");
}

// Detections against the fake window collection, with real windows under the pointer.
class DetectionTest : public testing::Test
{
protected:
    void SetUp() override { fake_shell::Install(FShell); }
    void TearDown() override
    {
        fake_shell::Uninstall();
        EXPECT_EQ(fake_shell::LiveObjects(), 0) << "a shell interface or storage medium was not released";
    }

    std::shared_ptr<fake_shell::TShell> FShell = std::make_shared<fake_shell::TShell>();
};

struct TExplorerCase
{
    const char* Name;
    std::vector<fake_shell::TShellWindow> Entries;
    std::optional<std::vector<std::wstring>> Expected;
};

// Entries whose Window is null stand for the foreground folder window.
TEST_F(DetectionTest, TakesTheSelectionOrTheFolderOfTheForegroundExplorerWindow)
{
    using fake_shell::TFolderOffer;
    const std::vector<std::wstring> three = {L"C:\\a\\1.txt", L"C:\\a\\2.txt", L"C:\\a\\3.txt"};
    const TExplorerCase cases[] = {
        {"one selected file", {{nullptr, {L"C:\\a\\one.txt"}, L"C:\\a"}}, std::vector<std::wstring>{L"C:\\a\\one.txt"}},
        {"three selected files in order", {{nullptr, three, L"C:\\a"}}, three},
        {"a name longer than MAX_PATH is read whole",
         {{nullptr, {L"C:\\" + std::wstring(300, L'n')}, L"C:\\"}},
         std::vector<std::wstring>{L"C:\\" + std::wstring(300, L'n')}},
        {"nothing selected: the folder shown", {{nullptr, {}, L"C:\\users"}}, std::vector<std::wstring>{L"C:\\users"}},
        {"nothing selected: a drive root", {{nullptr, {}, L"C:\\"}}, std::vector<std::wstring>{L"C:\\"}},
        {"nothing selected: a virtual folder", {{nullptr, {}, fake_shell::ComputerFolder}},
         std::vector<std::wstring>{fake_shell::ComputerFolder}},
        {"folder from IPersistIDList", {{nullptr, {}, L"C:\\users", TFolderOffer::PersistIDList}},
         std::vector<std::wstring>{L"C:\\users"}},
        {"folder from IPersistIDList after IPersistFolder2 failed",
         {{nullptr, {}, L"C:\\users", TFolderOffer::FailingPersistFolder2ThenIDList}},
         std::vector<std::wstring>{L"C:\\users"}},
        {"view without a folder ID list", {{nullptr, {}, L"C:\\users", TFolderOffer::Neither}}, std::nullopt},
        // Tabs of one window: the selection from the first entry, the folder from the last.
        {"two entries, selection", {{nullptr, {L"C:\\first.txt"}, L"C:\\"}, {nullptr, {L"C:\\last.txt"}, L"C:\\users"}},
         std::vector<std::wstring>{L"C:\\first.txt"}},
        {"two entries, folder", {{nullptr, {}, L"C:\\"}, {nullptr, {}, L"C:\\users"}},
         std::vector<std::wstring>{L"C:\\users"}},
        {"foreground window is no shell window", {}, std::nullopt},
    };
    TWindowChain other(std::vector<TWindowKind>{{L"TestPlain", L"Background"}});
    for (const TExplorerCase& row : cases)
    {
        SCOPED_TRACE(row.Name);
        TWindowChain folderWindow(FolderWindow);
        FShell->Entries = row.Entries;
        // An unrelated shell window before and after the foreground one is passed over.
        const fake_shell::TShellWindow unrelated{other.Top(), {L"C:\\other.txt"}, L"C:\\windows"};
        FShell->Entries.insert(FShell->Entries.begin(), unrelated);
        FShell->Entries.push_back(unrelated);
        for (fake_shell::TShellWindow& entry : FShell->Entries)
            if (entry.Window == nullptr)
                entry.Window = folderWindow.Top();
        folderWindow.PointAt();
        ASSERT_EQ(GetForegroundWindow(), folderWindow.Top());

        TDetection detection = Detect();
        EXPECT_EQ(detection.Paths, row.Expected);
        if (detection.Paths)
        {
            EXPECT_EQ(detection.Classification, TDetectM::FQueryIsExplorer);
        }
    }
}

TEST_F(DetectionTest, SelectedItemsNeverAskForTheFolder)
{
    TWindowChain folderWindow(FolderWindow);
    FShell->Entries = {{folderWindow.Top(), {L"C:\\a\\1.txt", L"C:\\a\\2.txt"}, L"C:\\a"}};
    folderWindow.PointAt();
    EXPECT_TRUE(Detect().Paths.has_value());
    EXPECT_EQ(FShell->FolderListsAsked, 0);
}

TEST_F(DetectionTest, NoForegroundWindowReportsNothing)
{
    FShell->Entries = {{nullptr, {L"C:\\a\\1.txt"}, L"C:\\a"}};
    TWindowChain folderWindow(FolderWindow);
    folderWindow.PointAt();
    // With the foreground window gone, Wine has none at all.
    folderWindow.Destroy();
    ASSERT_EQ(GetForegroundWindow(), nullptr);
    EXPECT_EQ(Detect().Paths, std::nullopt);
    EXPECT_EQ(FShell->CollectionsCreated, 0) << "no lookup without a foreground window";
}

TEST_F(DetectionTest, TakesTheDesktopSelectionOrTheDesktopFolder)
{
    TWindowChain iconView(DesktopIconView);
    iconView.PointAt();
    const std::wstring desktop = TDetectM::Create()->DesktopPath();
    ASSERT_FALSE(desktop.empty());

    const std::vector<std::wstring> selected = {desktop + L"\\a.txt", desktop + L"\\b"};
    FShell->Desktop = {iconView.Top(), selected, L""};
    TDetection detection = Detect();
    EXPECT_EQ(detection.Paths, selected);
    EXPECT_EQ(detection.Classification, TDetectM::FQueryIsDesktop);

    FShell->Desktop.Selection.clear();
    EXPECT_EQ(Detect().Paths, std::vector<std::wstring>{desktop});

    // A collection that finds no desktop window: the desktop folder all the same.
    FShell->Desktop = {};
    EXPECT_EQ(Detect().Paths, std::vector<std::wstring>{desktop});

    // No desktop folder known: one empty entry is still reported, so the request
    // that waits for it ends at once.
    auto unknownDesktop = TDetectM::Create();
    unknownDesktop->SetDesktopPath(L"");
    EXPECT_EQ(Detect(std::move(unknownDesktop)).Paths, std::vector<std::wstring>{L""});
}

TEST_F(DetectionTest, OneDetectorRunsOneDetectionAtATime)
{
    TWindowChain folderWindow(FolderWindow);
    FShell->Entries = {{folderWindow.Top(), {L"C:\\a\\1.txt"}, L"C:\\a"}};
    folderWindow.PointAt();

    std::mutex lock;
    std::condition_variable changed;
    int reports = 0;
    bool released = false;
    auto detector = TDetectM::Create();
    detector->SetOnData([&](TDetectM&) {
        std::unique_lock guard(lock);
        ++reports;
        changed.wait_for(guard, 10s, [&] { return released; });
    });
    detector->MouseTrapCB();
    detector->MouseTrapCB();
    auto reportsAre = [&](int Count) {
        std::lock_guard guard(lock);
        return reports == Count;
    };
    ASSERT_TRUE(PumpUntil([&] { return reportsAre(1); }));
    // The second detection needs about 110 ms once it may start; it must not start
    // while the first one is still reporting.
    EXPECT_FALSE(PumpUntil([&] { return reportsAre(2); }, 500ms));
    {
        std::lock_guard guard(lock);
        released = true;
    }
    changed.notify_all();
    EXPECT_TRUE(PumpUntil([&] { return reportsAre(2); }));
    std::weak_ptr<TDetectM> watched = detector;
    detector.reset();
    EXPECT_TRUE(WaitForDetectionEnd(watched));
}

TEST_F(DetectionTest, AFailingReportDoesNotBlockTheNextDetection)
{
    TWindowChain folderWindow(FolderWindow);
    FShell->Entries = {{folderWindow.Top(), {L"C:\\a\\1.txt"}, L"C:\\a"}};
    folderWindow.PointAt();
    auto report = std::make_shared<TReport>();
    auto calls = std::make_shared<std::atomic<int>>(0);
    auto detector = TDetectM::Create();
    detector->SetOnData([report, calls](TDetectM& Sender) {
        if (++*calls == 1)
            throw std::runtime_error("handler failed");
        std::lock_guard lock(report->Lock);
        report->Detection.Paths = Sender.Path();
    });
    detector->MouseTrapCB();
    detector->MouseTrapCB();
    std::weak_ptr<TDetectM> watched = detector;
    detector.reset();
    ASSERT_TRUE(WaitForDetectionEnd(watched));
    EXPECT_EQ(*calls, 2);
    std::lock_guard lock(report->Lock);
    EXPECT_EQ(report->Detection.Paths, std::vector<std::wstring>{L"C:\\a\\1.txt"});
}

// Wine's own shell: CoCreateInstance(CLSID_ShellWindows) fails under Wine 8, after
// about 10 s, so no folder window can be found; the detection ends without a report.
TEST(DetectionWithWineShell, ReportsNothingWithoutExplorerWindows)
{
    TWindowChain folderWindow(FolderWindow);
    folderWindow.PointAt();
    EXPECT_EQ(Detect(TDetectM::Create(), 60s).Paths, std::nullopt);
}

} // namespace
