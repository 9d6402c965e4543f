#include "tray/UN_TRemoteTrayIcon.h"

#include "base/TextConversion.h"
#include "base/WinError.h"
#include "startup/UN_GlobalVars.h"
#include "tray/UN_GlobalConstants.h"
#include "tray/WindowClass.h"

#include <windowsx.h>

#include <algorithm>
#include <utility>

namespace
{

constexpr wchar_t TrayWindowClass[] = L"TqxTrayIconWindow";
constexpr UINT_PTR ClickTimerId = 1;
constexpr UINT_PTR AnimateTimerId = 2;
constexpr UINT_PTR AddRetryTimerId = 3;
// At logon the service starts the bridge before Explorer can take icons: a refused
// add is tried again this often, for this long (and on every "TaskbarCreated").
constexpr UINT AddRetryIntervalMs = 1000;
constexpr ULONGLONG AddRetryPeriodMs = 120000;
// Under NOTIFYICON_VERSION_4 the shell shows the standard tip only with NIF_SHOWTIP.
constexpr UINT NormalFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_SHOWTIP;

BOOL CallShell(DWORD message, const NOTIFYICONDATAW& data)
{
    // The shell only reads the record; the API just is not declared const.
    NOTIFYICONDATAW copy = data;
    return Shell_NotifyIconW(message, &copy);
}

// The program's own icon at the small-icon size, or the system's application icon
// in a program without one (a test).
TUniqueIcon LoadApplicationIcon()
{
    HICON icon = LoadProgramIcon(L"MAINICON", GetSystemMetrics(SM_CXSMICON));
    if (icon == nullptr)
        icon = CopyIcon(LoadIconW(nullptr, IDI_APPLICATION));
    return TUniqueIcon(icon);
}

DWORD InfoFlagsOf(TQXBalloonHintIcon IconType, bool RespectQuietTime)
{
    return static_cast<DWORD>(IconType) | (RespectQuietTime ? NIIF_RESPECT_QUIET_TIME : 0);
}

unsigned CurrentShiftState()
{
    unsigned shift = 0;
    if (GetAsyncKeyState(VK_SHIFT) < 0)
        shift |= ssShift;
    if (GetAsyncKeyState(VK_MENU) < 0)
        shift |= ssAlt;
    if (GetAsyncKeyState(VK_CONTROL) < 0)
        shift |= ssCtrl;
    return shift;
}

// Sets a flag for one scope, also when the scope is left by an exception.
class TSetWhileInScope
{
public:
    explicit TSetWhileInScope(bool& Flag) noexcept : FFlag(Flag) { FFlag = true; }
    TSetWhileInScope(const TSetWhileInScope&) = delete;
    TSetWhileInScope& operator=(const TSetWhileInScope&) = delete;
    ~TSetWhileInScope() { FFlag = false; }

private:
    bool& FFlag;
};

// The anchor point that the shell puts into wParam of a version-4 callback.
POINT AnchorOf(WPARAM wParam)
{
    return {GET_X_LPARAM(wParam), GET_Y_LPARAM(wParam)};
}

POINT CursorPosition()
{
    POINT point{};
    GetCursorPos(&point);
    return point;
}

UINT MenuCommandOf(std::size_t itemIndex)
{
    // Command 0 means "nothing chosen" to TrackPopupMenuEx, so commands start at 1.
    return static_cast<UINT>(itemIndex + 1);
}

} // namespace

void TqxPopupMenu::Popup(HWND Window, POINT Point)
{
    TUniqueMenu menu(CreatePopupMenu());
    if (!menu)
        ThrowLastError("CreatePopupMenu");
    for (std::size_t i = 0; i < Items.size(); ++i)
    {
        const TqxMenuItem& item = Items[i];
        if (!item.Visible)
            continue;
        const bool separator = item.Caption == L"-";
        Check(AppendMenuW(menu.get(), separator ? MF_SEPARATOR : MF_STRING, MenuCommandOf(i),
                          separator ? nullptr : item.Caption.c_str()),
              "AppendMenuW");
        if (item.Default)
            SetMenuDefaultItem(menu.get(), MenuCommandOf(i), FALSE);
    }
    // TPM_RETURNCMD hands the choice back here instead of as WM_COMMAND, so the
    // handler runs after the menu is gone.
    const UINT command = static_cast<UINT>(TrackPopupMenuEx(menu.get(), TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY,
                                                            Point.x, Point.y, Window, nullptr));
    if (command == 0 || command > Items.size())
        return;
    if (const TNotifyEvent& handler = Items[command - 1].OnClick)
        handler();
}

void TqxPopupMenu::ClickDefaultItem()
{
    auto item = std::find_if(Items.begin(), Items.end(), [](const TqxMenuItem& candidate) { return candidate.Default; });
    if (item != Items.end() && item->OnClick)
        item->OnClick();
}

TqxTrayIcon::TqxTrayIcon(TShellNotifyIcon ShellNotifyIcon)
    : FShellNotifyIcon(ShellNotifyIcon ? std::move(ShellNotifyIcon) : TShellNotifyIcon(&CallShell))
{
    // Registering again returns the same number; Explorer broadcasts it when it
    // (re)starts, and only top-level windows receive it.
    FTaskbarCreatedMessage = RegisterWindowMessageW(L"TaskbarCreated");
    if (FTaskbarCreatedMessage == 0)
        ThrowLastError("RegisterWindowMessageW");

    FWindow = CreateHiddenWindow(TrayWindowClass, L"", this);

    IconData.cbSize = sizeof(IconData);
    IconData.hWnd = FWindow.get();
    // The bridge runs on Windows 6 and later, so the id stays 0 and the callback's
    // low word is the mouse message itself.
    IconData.uID = 0;
    IconData.uFlags = NormalFlags;
    IconData.uCallbackMessage = CallbackMessage;
    IconData.uVersion = NOTIFYICON_VERSION_4;

    FIcon = LoadApplicationIcon();
}

TqxTrayIcon::~TqxTrayIcon()
{
    RemoveFromTray();
    StopClickTimer();
    KillTimer(FWindow.get(), AnimateTimerId);
}

void TqxTrayIcon::SetHint(std::wstring Value)
{
    FHint = std::move(Value);
    Refresh();
}

void TqxTrayIcon::SetShowHint(bool Value)
{
    FShowHint = Value;
    Refresh();
}

void TqxTrayIcon::SetIcon(HICON Value)
{
    TUniqueIcon copy(CopyIcon(Value));
    if (!copy)
        ThrowLastError("CopyIcon");
    FIcon = std::move(copy);
    Refresh();
}

void TqxTrayIcon::SetIconVisible(bool Value)
{
    if (Value)
        AddToTray();
    else
        RemoveFromTray();
}

void TqxTrayIcon::SetIconIndex(int Value)
{
    if (FIconList != nullptr)
        FIconIndex = std::min(Value, ImageList_GetImageCount(FIconList) - 1);
    else
        FIconIndex = 0;
    Refresh();
}

void TqxTrayIcon::SetIconList(HIMAGELIST Value)
{
    FIconList = Value;
    SetIconIndex(0);
}

void TqxTrayIcon::SetCycleIcons(bool Value)
{
    FCycleIcons = Value;
    if (Value)
        SetIconIndex(0);
    UpdateAnimateTimer();
}

void TqxTrayIcon::SetAnimateTimerInterval(UINT Milliseconds)
{
    FAnimateTimerInterval = Milliseconds;
    UpdateAnimateTimer();
}

bool TqxTrayIcon::Refresh()
{
    return UpdateTray();
}

bool TqxTrayIcon::ShowBalloonHint(const std::wstring& Title, const std::wstring& Text, TQXBalloonHintIcon IconType,
                                  int IconIndex, bool RespectQuietTime)
{
    HideBalloonHint();
    ChooseBalloonPicture(IconIndex);
    return SendBalloon({Title, Text, InfoFlagsOf(IconType, RespectQuietTime)});
}

void TqxTrayIcon::ShowBalloonHintOnceInTray(const std::wstring& Title, const std::wstring& Text,
                                            TQXBalloonHintIcon IconType, int IconIndex, bool RespectQuietTime)
{
    if (FInTray)
    {
        ShowBalloonHint(Title, Text, IconType, IconIndex, RespectQuietTime);
        return;
    }
    // The shell shows no balloon for an icon it has not taken; the add carries
    // the picture, the balloon follows it.
    ChooseBalloonPicture(IconIndex);
    FBalloonOnceInTray = TBalloon{Title, Text, InfoFlagsOf(IconType, RespectQuietTime)};
}

void TqxTrayIcon::ChooseBalloonPicture(int IconIndex)
{
    if (IconIndex < 0 || FIconList == nullptr)
    {
        FIconIndex = 0;
    }
    else
    {
        FIconIndex = std::min(IconIndex, ImageList_GetImageCount(FIconList) - 1);
        if (TUniqueIcon image{ImageList_GetIcon(FIconList, FIconIndex, ILD_NORMAL)})
            FIcon = std::move(image);
    }
}

bool TqxTrayIcon::SendBalloon(const TBalloon& Balloon)
{
    IconData.uFlags |= NIF_INFO;
    CopyTruncated(IconData.szInfo, Balloon.Text);
    CopyTruncated(IconData.szInfoTitle, Balloon.Title);
    IconData.dwInfoFlags = Balloon.InfoFlags;
    const bool shown = UpdateTray();
    IconData.uFlags = NormalFlags;
    return shown;
}

bool TqxTrayIcon::HideBalloonHint()
{
    // An empty balloon text removes a balloon that is still shown.
    IconData.uFlags |= NIF_INFO;
    IconData.szInfo[0] = L'\0';
    return UpdateTray();
}

LRESULT TqxTrayIcon::HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return HandleGuarded(L"[TqxTrayIcon.TrayWindowProc]",
                         [&] { return HandleTrayMessage(window, message, wParam, lParam); });
}

LRESULT TqxTrayIcon::HandleTrayMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == FTaskbarCreatedMessage)
    {
        if (OnScaleChanged)
            OnScaleChanged();
        // Explorer restarted and forgot our icon: add it again, with its version.
        // The broadcast also comes while the icon is still there (Windows sends it
        // when the scale changes), where a plain add would fail; so any old entry
        // is removed first, which fails quietly when there is none.
        if (FIconVisible)
        {
            ApplyIconData(NIM_DELETE, false);
            AddToTray();
        }
        return 0;
    }
    switch (message)
    {
    case CallbackMessage:
        HandleCallback(wParam, lParam);
        return 0;
    case WM_TIMER:
        if (wParam == ClickTimerId)
            ClickTimerElapsed();
        else if (wParam == AnimateTimerId)
            AnimateTimerElapsed();
        else if (wParam == AddRetryTimerId)
            AddRetryTimerElapsed();
        return 0;
    case WM_DPICHANGED:
    case WM_SETTINGCHANGE:
        if (OnScaleChanged)
            OnScaleChanged();
        break;
    case WM_CLOSE:
        // The owner destroys the window, never a stray WM_CLOSE.
        return 0;
    case WM_QUERYENDSESSION:
        return TRUE;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void TqxTrayIcon::HandleCallback(WPARAM wParam, LPARAM lParam)
{
    if (!FEnabled)
        return;
    // Under NOTIFYICON_VERSION_4 the high word carries the icon id; the low word
    // is the mouse message in both versions, or the keyboard user's action, whose
    // anchor point is in wParam.
    switch (LOWORD(lParam))
    {
    case WM_MOUSEMOVE:
        NotifyMouseMove(CurrentShiftState());
        break;
    case WM_LBUTTONDOWN:
        StartClickTimer();
        NotifyMouseDown(TMouseButton::mbLeft, CurrentShiftState() | ssLeft);
        FClickStart = true;
        if (FPopupByLeftButton)
            OpenTrayMenu(CursorPosition());
        break;
    case WM_LBUTTONUP:
        if (FClickStart)
        {
            FClickReady = true;
            // Held longer than the double-click time: the timer has gone, so the
            // click is decided now.
            if (!FClickTimerRunning)
            {
                FClickReady = false;
                NotifyClick();
            }
        }
        FClickStart = false;
        NotifyMouseUp(TMouseButton::mbLeft, CurrentShiftState() | ssLeft);
        break;
    case WM_LBUTTONDBLCLK:
        FClickReady = false;
        IsDblClick = true;
        RunDoubleClickAction();
        break;
    case NIN_KEYSELECT:
        KeySelect();
        break;
    case WM_RBUTTONDOWN:
        NotifyMouseDown(TMouseButton::mbRight, CurrentShiftState() | ssRight);
        // The shell follows a right click with WM_CONTEXTMENU; the menu this press
        // opens answers that one too.
        FContextMenuAnswered = true;
        OpenTrayMenu(CursorPosition());
        break;
    case WM_CONTEXTMENU:
        // Shift+F10 or the Menu key on the focused icon, or the end of a right click.
        if (FContextMenuAnswered)
            FContextMenuAnswered = false;
        else
            OpenTrayMenu(AnchorOf(wParam));
        break;
    case WM_RBUTTONUP:
        NotifyMouseUp(TMouseButton::mbRight, CurrentShiftState() | ssRight);
        break;
    case WM_MBUTTONDOWN:
        NotifyMouseDown(TMouseButton::mbMiddle, CurrentShiftState() | ssMiddle);
        break;
    case WM_MBUTTONUP:
        NotifyMouseUp(TMouseButton::mbMiddle, CurrentShiftState() | ssMiddle);
        break;
    case NIN_BALLOONUSERCLICK:
        if (OnBalloonHintClick)
            OnBalloonHintClick();
        break;
    }
}

void TqxTrayIcon::RunDoubleClickAction()
{
    // One action, not two: the double-click handler, or else the menu's default
    // item (which in the bridge does the same).
    if (OnDblClick)
        NotifyDblClick();
    else if (FPopupMenu != nullptr && FPopupMenu->AutoPopup && !FPopupByLeftButton)
        FPopupMenu->ClickDefaultItem();
}

void TqxTrayIcon::KeySelect()
{
    // Enter on the focused icon may come as two NIN_KEYSELECT in a row; the second
    // within the double-click time is the same key press.
    const ULONGLONG now = GetTickCount64();
    if (FKeySelectPending && now - FLastKeySelect < GetDoubleClickTime())
    {
        FKeySelectPending = false;
        return;
    }
    FKeySelectPending = true;
    FLastKeySelect = now;
    RunDoubleClickAction();
}

bool TqxTrayIcon::AddToTray()
{
    FIconVisible = true;
    const bool added = ApplyIconData(NIM_ADD, true);
    FInTray = added;
    if (added && FAddRetryRunning)
    {
        StopAddRetry();
        Log(L"[TqxTrayIcon.AddToTray] the shell took the icon after " +
            std::to_wstring((GetTickCount64() - FAddRefusedAt) / 1000) + L" s");
    }
    if (added && FBalloonOnceInTray)
        SendBalloon(*std::exchange(FBalloonOnceInTray, std::nullopt));
    else if (!added && !FAddRetryRunning)
    {
        Log(L"[TqxTrayIcon.AddToTray]  EX  the shell did not take the icon");
        FAddRefusedAt = GetTickCount64();
        FAddRetryRunning = SetTimer(FWindow.get(), AddRetryTimerId, AddRetryIntervalMs, nullptr) != 0;
    }
    return added;
}

void TqxTrayIcon::AddRetryTimerElapsed()
{
    if (GetTickCount64() - FAddRefusedAt >= AddRetryPeriodMs)
        StopAddRetry();
    else
        AddToTray();
}

void TqxTrayIcon::StopAddRetry()
{
    KillTimer(FWindow.get(), AddRetryTimerId);
    FAddRetryRunning = false;
}

bool TqxTrayIcon::RemoveFromTray()
{
    FIconVisible = false;
    FInTray = false;
    FBalloonOnceInTray.reset();
    StopAddRetry();
    return ApplyIconData(NIM_DELETE, false);
}

bool TqxTrayIcon::UpdateTray()
{
    return ApplyIconData(NIM_MODIFY, false);
}

TUniqueIcon TqxTrayIcon::CurrentPicture()
{
    if (FIconList != nullptr && FIconIndex != -1)
        FIconIndex = std::min(FIconIndex, ImageList_GetImageCount(FIconList) - 1);
    // -1 selects the own icon, and so does an empty list, which lowers the index to -1.
    if (FIconIndex == -1)
        return TUniqueIcon(CopyIcon(FIcon.get()));
    if (FIconList == nullptr)
        return {};
    return TUniqueIcon(ImageList_GetIcon(FIconList, FIconIndex, ILD_NORMAL));
}

bool TqxTrayIcon::ApplyIconData(DWORD Message, bool SetVersion)
{
    TUniqueIcon picture = CurrentPicture();
    // Removing needs no picture; without this the icon would stay in the tray
    // whenever no picture can be made.
    if (!picture && Message != NIM_DELETE)
        return false;
    IconData.hIcon = picture.get();
    IconData.hBalloonIcon = picture.get();
    if (!FHint.empty() && FShowHint)
        CopyTruncated(IconData.szTip, FHint);
    else
        std::fill(std::begin(IconData.szTip), std::end(IconData.szTip), L'\0');

    bool applied = FShellNotifyIcon(Message, IconData) != FALSE;
    // The version (4, in the same place as the balloon's time-out) is set once the
    // icon exists, so that the callback carries the version-4 layout.
    if (applied && SetVersion)
        applied = FShellNotifyIcon(NIM_SETVERSION, IconData) != FALSE;
    // The shell keeps its own copy of the picture.
    IconData.hIcon = nullptr;
    IconData.hBalloonIcon = nullptr;
    return applied;
}

void TqxTrayIcon::StartClickTimer()
{
    // A timer that already runs keeps running from its first start.
    if (FClickTimerRunning)
        return;
    if (SetTimer(FWindow.get(), ClickTimerId, GetDoubleClickTime(), nullptr) != 0)
        FClickTimerRunning = true;
}

void TqxTrayIcon::StopClickTimer()
{
    KillTimer(FWindow.get(), ClickTimerId);
    FClickTimerRunning = false;
}

void TqxTrayIcon::ClickTimerElapsed()
{
    StopClickTimer();
    if (!IsDblClick && FClickReady)
    {
        FClickReady = false;
        NotifyClick();
    }
    IsDblClick = false;
}

void TqxTrayIcon::UpdateAnimateTimer()
{
    // With an interval of 0 the timer never fires.
    if (FCycleIcons && FAnimateTimerInterval > 0)
        SetTimer(FWindow.get(), AnimateTimerId, FAnimateTimerInterval, nullptr);
    else
        KillTimer(FWindow.get(), AnimateTimerId);
}

void TqxTrayIcon::AnimateTimerElapsed()
{
    if (FIconList == nullptr)
        return;
    if (TUniqueIcon image{ImageList_GetIcon(FIconList, FIconIndex, ILD_NORMAL)})
        FIcon = std::move(image);
    const int next = FIconIndex + 1 < ImageList_GetImageCount(FIconList) ? FIconIndex + 1 : 0;
    NotifyCycle(next);
    UpdateTray();
    SetIconIndex(next);
}

void TqxTrayIcon::OpenTrayMenu(POINT At)
{
    // The shell's messages are dispatched inside the open menu's loop too; one
    // menu at a time.
    if (FPopupMenu == nullptr || !FPopupMenu->AutoPopup || FMenuOpen)
        return;
    // Our window must be foreground before the menu opens, or the menu does not
    // close when the user clicks elsewhere.
    SetForegroundWindow(FWindow.get());
    {
        TSetWhileInScope open(FMenuOpen);
        FPopupMenu->Popup(FWindow.get(), At);
    }
    // Lets the next task switch work after a menu of a background window.
    PostMessageW(FWindow.get(), WM_NULL, 0, 0);
}

void TqxTrayIcon::NotifyClick()
{
    if (OnClick)
        OnClick();
}

void TqxTrayIcon::NotifyDblClick()
{
    if (OnDblClick)
        OnDblClick();
}

void TqxTrayIcon::NotifyCycle(int NextIndex)
{
    if (OnCycle)
        OnCycle(NextIndex);
}

void TqxTrayIcon::NotifyMouseDown(TMouseButton Button, unsigned Shift)
{
    if (OnMouseDown)
    {
        const POINT point = CursorPosition();
        OnMouseDown(Button, Shift, point.x, point.y);
    }
}

void TqxTrayIcon::NotifyMouseUp(TMouseButton Button, unsigned Shift)
{
    if (OnMouseUp)
    {
        const POINT point = CursorPosition();
        OnMouseUp(Button, Shift, point.x, point.y);
    }
}

void TqxTrayIcon::NotifyMouseMove(unsigned Shift)
{
    if (OnMouseMove)
    {
        const POINT point = CursorPosition();
        OnMouseMove(Shift, point.x, point.y);
    }
}
