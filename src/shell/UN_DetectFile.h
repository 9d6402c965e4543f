// TDetectM: finds the paths a file dropped at the mouse pointer should go to. Over
// the desktop's icon view it takes the desktop's selection (or the desktop folder),
// anywhere else the selection (or the shown folder) of the foreground Explorer
// window. Each MouseTrapCB runs one detection on a thread of its own, which keeps
// the detector alive until it ends and reports through OnData on that thread.
#pragma once

#include <windows.h>
#include <exdisp.h>
#include <shobjidl.h>
#include <wrl/client.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// Where the lookups get the shell's window collection from. The default creates
// CLSID_ShellWindows; a factory throws EWin32Error when there is no collection.
using TShellWindowsFactory = std::function<Microsoft::WRL::ComPtr<IShellWindows>()>;

// Replaces the factory for every detector; an empty one restores the default.
void SetShellWindowsFactory(TShellWindowsFactory Factory);

// The text of a STRRET that GetDisplayNameOf returned for Item; frees the text
// when the STRRET owns it. Empty for an unknown type.
std::wstring TakeStrRetText(STRRET& Name, PCUITEMID_CHILD Item);

class TDetectM : public std::enable_shared_from_this<TDetectM>
{
public:
    using TDataEvent = std::function<void(TDetectM& Sender)>;

    // Classification codes; 0 means the classification failed.
    static constexpr int FQueryIsDesktop = 1;
    static constexpr int FQueryIsExplorer = 2;

    // Detectors are always shared: the detection thread holds one reference.
    static std::shared_ptr<TDetectM> Create();

    TDetectM(const TDetectM&) = delete;
    TDetectM& operator=(const TDetectM&) = delete;

    // DesktopPath and OnData are set before MouseTrapCB; Path is read in OnData
    // or after the detection has ended.
    [[nodiscard]] const std::wstring& DesktopPath() const noexcept { return FDesktopPath; }
    void SetDesktopPath(std::wstring Value) { FDesktopPath = std::move(Value); }
    [[nodiscard]] const TDataEvent& OnData() const noexcept { return FOnData; }
    void SetOnData(TDataEvent Value) { FOnData = std::move(Value); }
    [[nodiscard]] const std::vector<std::wstring>& Path() const noexcept { return FPath; }
    // The last classification: FQueryIsDesktop, FQueryIsExplorer or 0.
    [[nodiscard]] int IsDesktop() const noexcept { return FIsDesktop.load(); }

    // Starts one detection on a new thread and returns at once.
    void MouseTrapCB();

    // FQueryIsDesktop when Window is the desktop's icon view, else FQueryIsExplorer.
    static int ClassifyWindow(HWND Window);

private:
    TDetectM();

    void Detect();
    void AcquireBusyFlag();
    int ClassifyCursorWindow() const noexcept;
    void TestDesktop();
    void TestExplorer();
    void CollectSelection(const std::function<std::wstring(int Index)>& Lookup);

    std::wstring GetDesktopSelectedFile(int Index) const;
    std::wstring GetExplorerSelectedFile(HWND Wnd, int Index) const;
    std::wstring GetExplorerTopPath(HWND Wnd) const;

    std::atomic<int> FIsDesktop{0};
    std::wstring FDesktopPath;
    std::atomic<int> FSemaphore{0};
    TDataEvent FOnData;
    std::vector<std::wstring> FPath;
};

// The detector of the running "REQMOTCB" request, if any.
extern std::shared_ptr<TDetectM> ActiveDetector;
