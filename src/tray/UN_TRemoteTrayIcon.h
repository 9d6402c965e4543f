// The bridge's icon in the notification area, and the popup menu it shows.
//
// TqxTrayIcon owns a hidden top-level tool window that receives the shell's
// callback message (0x800) and the "TaskbarCreated" broadcast, three timers on that
// window (click, icon cycling, retrying a refused add), its own picture and the
// NOTIFYICONDATAW it hands to the shell. It turns the shell's notifications into
// events: click (told apart from a double click by the click timer), double click,
// mouse down/up/move with shift flags, balloon click; a keyboard user's Enter or
// Space (NIN_KEYSELECT) does what the double click does, and Shift+F10 or the Menu
// key (WM_CONTEXTMENU) opens the menu at the icon. Everything here lives on the
// main (GUI) thread; other threads go through the main form.
//
// What a visible application window would need does not apply to the bridge, whose
// form is never shown, and is left out: hiding the main form into the tray on
// minimize (MinimizeToTray, MinimizedOnStart, ShowMainForm, HideMainForm,
// ApplyStartSettings), and the focus and restore handling of the owner window.
// The one hook that matters, adding the icon again on "TaskbarCreated", is handled
// by the hidden window itself, which as a top-level window receives the broadcast.
#pragma once

#include "base/WinHandle.h"
#include "tray/WindowClass.h"

#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

enum class TQXBalloonHintIcon : std::uint8_t
{
    bsbitNone = 0,
    bsbitInfo = 1,
    bsbitWarning = 2,
    bsbitError = 3
};

enum class TMouseButton
{
    mbLeft = 0,
    mbRight = 1,
    mbMiddle = 2
};

// Shift flags of the mouse events.
enum TShiftFlag : unsigned
{
    ssShift = 1,
    ssAlt = 2,
    ssCtrl = 4,
    ssLeft = 8,
    ssRight = 16,
    ssMiddle = 32
};

using TNotifyEvent = std::function<void()>;
using TMouseEvent = std::function<void(TMouseButton Button, unsigned Shift, int X, int Y)>;
using TMouseMoveEvent = std::function<void(unsigned Shift, int X, int Y)>;
using TQXCycleEvent = std::function<void(int NextIndex)>;

struct TqxMenuItem
{
    std::wstring Caption; // "-" makes a separator line
    int Tag = 0;
    bool Visible = true;
    bool Default = false;
    TNotifyEvent OnClick;
};

// The tray's popup menu. A Windows menu cannot hold a hidden item, so the items
// are kept here and the Windows menu is built from the visible ones each time
// the menu pops up.
class TqxPopupMenu
{
public:
    bool AutoPopup = true;
    std::vector<TqxMenuItem> Items;

    // Shows the menu at Point on behalf of Window (which must be foreground) and
    // runs the handler of the chosen item; returns when the menu has closed.
    void Popup(HWND Window, POINT Point);

    // Runs the handler of the first item marked default, if any.
    void ClickDefaultItem();
};

// Hands the icon data to the shell; Shell_NotifyIconW unless a test watches it.
using TShellNotifyIcon = std::function<BOOL(DWORD Message, const NOTIFYICONDATAW& Data)>;

class TqxTrayIcon
{
public:
    static constexpr UINT CallbackMessage = 0x800;

    explicit TqxTrayIcon(TShellNotifyIcon ShellNotifyIcon = {});
    TqxTrayIcon(const TqxTrayIcon&) = delete;
    TqxTrayIcon& operator=(const TqxTrayIcon&) = delete;
    // Removes the icon from the tray before the hidden window goes away.
    ~TqxTrayIcon();

    [[nodiscard]] bool Enabled() const noexcept { return FEnabled; }
    void SetEnabled(bool Value) noexcept { FEnabled = Value; }

    [[nodiscard]] const std::wstring& Hint() const noexcept { return FHint; }
    void SetHint(std::wstring Value);

    [[nodiscard]] bool ShowHint() const noexcept { return FShowHint; }
    void SetShowHint(bool Value);

    // Copies Value; the caller keeps its own icon.
    void SetIcon(HICON Value);

    [[nodiscard]] bool IconVisible() const noexcept { return FIconVisible; }
    void SetIconVisible(bool Value);

    [[nodiscard]] int IconIndex() const noexcept { return FIconIndex; }
    // With an image list the index is lowered to the last image (-1 passes and
    // selects the own icon); without one it is 0.
    void SetIconIndex(int Value);

    // Not owned: the list must outlive the icon or be set back to nullptr first.
    [[nodiscard]] HIMAGELIST IconList() const noexcept { return FIconList; }
    void SetIconList(HIMAGELIST Value);

    [[nodiscard]] bool CycleIcons() const noexcept { return FCycleIcons; }
    void SetCycleIcons(bool Value);
    void SetAnimateTimerInterval(UINT Milliseconds);

    // Not owned: the menu must outlive the icon or be set back to nullptr first.
    [[nodiscard]] TqxPopupMenu* PopupMenu() const noexcept { return FPopupMenu; }
    void SetPopupMenu(TqxPopupMenu* Value) noexcept { FPopupMenu = Value; }
    void SetPopupByLeftButton(bool Value) noexcept { FPopupByLeftButton = Value; }

    TNotifyEvent OnClick;
    TNotifyEvent OnDblClick;
    TNotifyEvent OnBalloonHintClick;
    TMouseEvent OnMouseDown;
    TMouseEvent OnMouseUp;
    TMouseMoveEvent OnMouseMove;
    TQXCycleEvent OnCycle;
    // The tray's scale may have changed ("TaskbarCreated", WM_DPICHANGED,
    // WM_SETTINGCHANGE): the owner makes its pictures again. Raised before the
    // icon is added again on "TaskbarCreated", so that it goes in at the new size.
    TNotifyEvent OnScaleChanged;

    // The hidden window that receives the shell's callback message.
    [[nodiscard]] HWND Handle() const noexcept { return FWindow.get(); }

    // Sends the current picture and tip to the shell; false when nothing could be
    // sent or the shell refused it.
    bool Refresh();
    // With RespectQuietTime the shell holds the balloon back during its quiet time.
    bool ShowBalloonHint(const std::wstring& Title, const std::wstring& Text, TQXBalloonHintIcon IconType,
                         int IconIndex, bool RespectQuietTime = false);
    // As ShowBalloonHint when the shell has the icon; otherwise the picture is
    // chosen now and the balloon is shown once, when a later add (the retry or
    // "TaskbarCreated") puts the icon into the tray.
    void ShowBalloonHintOnceInTray(const std::wstring& Title, const std::wstring& Text, TQXBalloonHintIcon IconType,
                                   int IconIndex, bool RespectQuietTime = false);
    bool HideBalloonHint();

private:
    friend LRESULT CALLBACK RouteToOwner<TqxTrayIcon>(HWND, UINT, WPARAM, LPARAM);
    LRESULT HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleTrayMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void HandleCallback(WPARAM wParam, LPARAM lParam);
    void RunDoubleClickAction();
    void KeySelect();

    // A refused add (no shell yet) is tried again on a timer until the shell takes
    // the icon or the retry period ends.
    bool AddToTray();
    void AddRetryTimerElapsed();
    void StopAddRetry();
    bool RemoveFromTray();
    bool UpdateTray();
    bool ApplyIconData(DWORD Message, bool SetVersion);

    struct TBalloon
    {
        std::wstring Title;
        std::wstring Text;
        DWORD InfoFlags;
    };
    void ChooseBalloonPicture(int IconIndex);
    bool SendBalloon(const TBalloon& Balloon);
    [[nodiscard]] TUniqueIcon CurrentPicture();

    void StartClickTimer();
    void StopClickTimer();
    void ClickTimerElapsed();
    void AnimateTimerElapsed();
    void UpdateAnimateTimer();
    void OpenTrayMenu(POINT At);

    void NotifyClick();
    void NotifyDblClick();
    void NotifyCycle(int NextIndex);
    void NotifyMouseDown(TMouseButton Button, unsigned Shift);
    void NotifyMouseUp(TMouseButton Button, unsigned Shift);
    void NotifyMouseMove(unsigned Shift);

    TShellNotifyIcon FShellNotifyIcon;
    bool FEnabled = true;
    TUniqueIcon FIcon;
    bool FIconVisible = true;
    std::wstring FHint;
    bool FShowHint = true;
    TqxPopupMenu* FPopupMenu = nullptr;
    bool FPopupByLeftButton = false;
    bool FClickStart = false;
    bool FClickReady = false;
    bool FClickTimerRunning = false;
    bool IsDblClick = false;
    bool FMenuOpen = false;
    bool FContextMenuAnswered = false;
    bool FKeySelectPending = false;
    ULONGLONG FLastKeySelect = 0;
    bool FInTray = false;
    std::optional<TBalloon> FBalloonOnceInTray;
    bool FAddRetryRunning = false;
    ULONGLONG FAddRefusedAt = 0;
    int FIconIndex = 0;
    HIMAGELIST FIconList = nullptr;
    bool FCycleIcons = false;
    UINT FAnimateTimerInterval = 0;
    UINT FTaskbarCreatedMessage = 0;
    NOTIFYICONDATAW IconData{};
    TUniqueWindow FWindow;
};
