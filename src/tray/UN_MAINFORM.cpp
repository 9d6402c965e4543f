#include "tray/UN_MAINFORM.h"

#include "base/TextConversion.h"
#include "base/WinError.h"
#include "master/UN_TPFunction.h"
#include "startup/GF_SupportFunctions.h"
#include "startup/UN_GlobalVars.h"
#include "tray/UN_GlobalConstants.h"
#include "tray/WindowClass.h"

#include <shared_mutex>
#include <string>

TFmain* Fmain = nullptr;

namespace
{

// Held shared while another thread uses Fmain, exclusively while Fmain is set or
// cleared.
TSlimLock MainFormLifetime;

constexpr wchar_t MainFormClass[] = L"TFmain";
// Wakes the main thread to run the calls other threads handed over.
constexpr UINT WM_RUN_HANDED_OVER_CALLS = WM_APP + 1;
constexpr int SeparatorTag = 99;

constexpr const wchar_t* TrayPictures[] = {L"TRAYICON0", L"TRAYICON1", L"TRAYICON2", L"TRAYICON3", L"TRAYICON4"};

DWORD OwnSessionId()
{
    DWORD sessionId = 0;
    Check(ProcessIdToSessionId(GetCurrentProcessId(), &sessionId), "ProcessIdToSessionId");
    return sessionId;
}

std::wstring ProductTitle()
{
    return _AppName + L" " + _AppVersion;
}

// Read at each click, as the setting is text; 0 when it is not a number.
int MasterPid()
{
    return IntegerFromText(_MasterPidText);
}

int ImageListSize(HIMAGELIST List)
{
    int width = 0;
    int height = 0;
    ImageList_GetIconSize(List, &width, &height);
    return width;
}

} // namespace

int TrayIconSize()
{
    // The tray may sit on a monitor with another scale than the primary one.
    HWND tray = FindWindowW(L"Shell_TrayWnd", nullptr);
    const UINT dpi = tray != nullptr ? GetDpiForWindow(tray) : GetDpiForSystem();
    return GetSystemMetricsForDpi(SM_CXSMICON, dpi != 0 ? dpi : USER_DEFAULT_SCREEN_DPI);
}

TUniqueImageList CreateTrayImageList(int Size)
{
    TUniqueImageList list(ImageList_Create(Size, Size, ILC_COLOR32, static_cast<int>(std::size(TrayPictures)), 0));
    if (!list)
        ThrowLastError("ImageList_Create");
    for (const wchar_t* name : TrayPictures)
    {
        TUniqueIcon picture(LoadProgramIcon(name, Size));
        if (!picture)
            ThrowLastError("LoadIconWithScaleDown");
        if (ImageList_AddIcon(list.get(), picture.get()) == -1)
            ThrowLastError("ImageList_AddIcon");
    }
    return list;
}

TFmain::TFmain(TShellNotifyIcon ShellNotifyIcon)
    : imgListTrayIcons(CreateTrayImageList(TrayIconSize())),
      FTrayPictureSize(ImageListSize(imgListTrayIcons.get())), FMainThreadId(GetCurrentThreadId())
{
    // Never shown; its caption is the application's title.
    FWindow = CreateHiddenWindow(MainFormClass, _AppName.c_str(), this);
    {
        std::unique_lock lifetime(MainFormLifetime);
        Fmain = this;
    }
    try
    {
        FormCreate(std::move(ShellNotifyIcon));
    }
    catch (...)
    {
        std::unique_lock lifetime(MainFormLifetime);
        Fmain = nullptr;
        throw;
    }
}

TFmain::~TFmain()
{
    // No caller may stay blocked on a form that is going away; with the hand-over
    // refused, every user of Fmain ends soon and lets go of it.
    RefuseHandedOverCalls();
    std::unique_lock lifetime(MainFormLifetime);
    Fmain = nullptr;
    // Left running on purpose: stopping it here would join its worker, which may
    // be waiting for this thread to run a tray command, and the request that closed
    // the form still has its answer to write. Its threads end with the process.
    static_cast<void>(lServer.release());
}

bool WithMainForm(const std::function<void(TFmain&)>& Use)
{
    std::shared_lock lifetime(MainFormLifetime);
    if (Fmain == nullptr)
        return false;
    Use(*Fmain);
    return true;
}

void TFmain::FormCreate(TShellNotifyIcon ShellNotifyIcon)
{
    if (_Rebranded)
        RebrandTrayImages(imgListTrayIcons.get());

    Log(L"[TFmain.FormCreate()] PID " + std::to_wstring(GetOwnProcessId()));
    Log(L"[TFmain.FormCreate()] Session ID " + std::to_wstring(OwnSessionId()));

    lServer = std::make_unique<TTPPipeServer>(std::to_wstring(GetOwnProcessId()), ClientSilenceLimit,
                                              DetectorWaitLimit);

    Log(L"[TFmain.FormCreate()] TqxTrayIcon.create ");
    TrayIcon = std::make_unique<TqxTrayIcon>(std::move(ShellNotifyIcon));
    TIF_CreateTrayIcon();
    TrayIcon->SetIconList(imgListTrayIcons.get());
    TrayIcon->SetHint(ProductTitle());
    TrayIcon->SetEnabled(true);
    TrayIcon->SetIconVisible(true);
    TrayIcon->SetShowHint(true);
    TrayIcon->OnDblClick = &TMenuActions::TrayIconDblClick;
    TrayIcon->OnScaleChanged = [this] { RefreshTrayPictures(); };

    if (!_HelloMsg.empty())
    {
        // Only whether a greeting was asked for matters; its text is ours.
        _HelloMsg = GetStartingText() + L"..";
        Log(L"[TFmain.FormCreate()] TqxTrayIcon.ShowBalloonHint ");
        // Not in the shell's quiet time (a new user's first hour, presentation mode);
        // at logon the shell may take the icon only later, and the greeting with it.
        TrayIcon->ShowBalloonHintOnceInTray(ProductTitle(), _HelloMsg, TQXBalloonHintIcon::bsbitNone, -1, true);
    }
    Log(L"[TFmain.FormCreate()] END ");
}

void TFmain::TIF_CreateTrayIcon()
{
    try
    {
        TrayMenu.AutoPopup = true;
        TrayMenu.Items = {
            // The default item (drawn bold): the double click and Enter do what it does.
            {std::wstring(MenuCaptions[0]), 0, false, true, &TMenuActions::onOpenClick},
            {std::wstring(MenuCaptions[3]), 1, false, false, &TMenuActions::onDisableUnatAccess},
            {std::wstring(MenuCaptions[2]), 2, false, false, &TMenuActions::onLogOutClick},
            {L"-", SeparatorTag, true, false, {}},
            {std::wstring(MenuCaptions[1]), 3, false, false, &TMenuActions::onCloseClick},
        };
        TrayIcon->SetPopupMenu(&TrayMenu);
    }
    catch (const std::exception& failure)
    {
        Log(L"[TIF_CreateTrayIcon] EX: " + WhatOf(failure));
    }
}

void TFmain::FormClose()
{
    if (TrayIcon && TrayIcon->IconVisible())
        TrayIcon->SetIconVisible(false);
    RefuseHandedOverCalls();
}

void TFmain::RefreshTrayPictures()
{
    const int size = TrayIconSize();
    if (size == FTrayPictureSize)
        return;
    TUniqueImageList pictures = CreateTrayImageList(size);
    if (_Rebranded)
        RebrandTrayImages(pictures.get());
    // The icon keeps showing the picture it showed, now at the new size; the old
    // list goes only once the icon no longer uses it.
    const int index = TrayIcon->IconIndex();
    TrayIcon->SetIconList(pictures.get());
    TrayIcon->SetIconIndex(index);
    imgListTrayIcons = std::move(pictures);
    FTrayPictureSize = size;
}

void TFmain::Close()
{
    SendMessageW(FWindow.get(), WM_CLOSE, 0, 0);
}

void TFmain::ShowBallonHint(const std::wstring& Title, const std::wstring& Text, TQXBalloonHintIcon IconType,
                            int IconIndex)
{
    RunOnMainThread([&] { TrayIcon->ShowBalloonHint(Title, Text, IconType, IconIndex); });
}

void TFmain::TranslateAndSetStatusTrayMenu(const std::vector<std::wstring>& MenuTrad,
                                           const std::vector<int>& MenuStatus)
{
    RunOnMainThread([&] {
        for (std::size_t i = 0; i < MenuTrad.size(); ++i)
        {
            for (TqxMenuItem& item : TrayMenu.Items)
            {
                if (item.Tag == static_cast<int>(i))
                {
                    item.Caption = MenuTrad[i];
                    item.Visible = i < MenuStatus.size() && MenuStatus[i] == 1;
                    break;
                }
                // Every separator the search passes is shown again.
                if (item.Tag == SeparatorTag)
                    item.Visible = true;
            }
        }
    });
}

void TFmain::RunOnMainThread(std::function<void()> Call)
{
    if (GetCurrentThreadId() == FMainThreadId)
    {
        Call();
        return;
    }
    THandOver handOver{std::move(Call), nullptr, false};
    {
        std::lock_guard lock(FHandOverLock);
        if (FClosed)
            throw EMainFormClosed();
        FHandOvers.push_back(&handOver);
    }
    // Posted, not sent: a sent message would also run while the main thread waits
    // inside a SendMessage of its own (Shell_NotifyIconW does one), in the middle
    // of other tray work such as FormCreate. A posted one runs only when the main
    // thread takes it from its queue: its message loop, or an open menu's.
    if (!PostMessageW(FWindow.get(), WM_RUN_HANDED_OVER_CALLS, 0, 0))
    {
        const DWORD error = GetLastError();
        std::lock_guard lock(FHandOverLock);
        if (!handOver.Done)
        {
            std::erase(FHandOvers, &handOver);
            ThrowWin32Error(error, "PostMessageW");
        }
    }
    std::unique_lock lock(FHandOverLock);
    FHandOverDone.Wait(lock, [&handOver] { return handOver.Done; });
    if (handOver.Failure)
        std::rethrow_exception(handOver.Failure);
}

void TFmain::RunHandedOverCalls()
{
    for (;;)
    {
        THandOver* next = nullptr;
        {
            std::lock_guard lock(FHandOverLock);
            if (FHandOvers.empty())
                return;
            next = FHandOvers.front();
            FHandOvers.pop_front();
        }
        try
        {
            next->Call();
        }
        catch (...)
        {
            next->Failure = std::current_exception();
        }
        {
            std::lock_guard lock(FHandOverLock);
            next->Done = true;
        }
        FHandOverDone.NotifyAll();
    }
}

void TFmain::RefuseHandedOverCalls()
{
    {
        std::lock_guard lock(FHandOverLock);
        FClosed = true;
        for (THandOver* waiting : FHandOvers)
        {
            waiting->Failure = std::make_exception_ptr(EMainFormClosed());
            waiting->Done = true;
        }
        FHandOvers.clear();
    }
    FHandOverDone.NotifyAll();
}

LRESULT TFmain::HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return HandleGuarded(L"[TFmain.WndProc]", [&] { return HandleFormMessage(window, message, wParam, lParam); });
}

LRESULT TFmain::HandleFormMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message)
    {
    case WM_RUN_HANDED_OVER_CALLS:
        RunHandedOverCalls();
        return 0;
    case WM_CLOSE:
        FormClose();
        PostQuitMessage(0);
        return 0;
    case WM_DPICHANGED:
    case WM_SETTINGCHANGE:
        try
        {
            RefreshTrayPictures();
        }
        catch (const std::exception& failure)
        {
            Log(L"[TFmain.RefreshTrayPictures]  EX  " + WhatOf(failure));
        }
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void TMenuActions::TrayIconDblClick()
{
    TPF_SendWakeUpNeo(MasterPid());
}

void TMenuActions::onOpenClick()
{
    TPF_SendWakeUpNeo(MasterPid());
}

void TMenuActions::onDisableUnatAccess()
{
    TPF_SendDisableUnattendedAccess(MasterPid());
}

void TMenuActions::onLogOutClick()
{
    TPF_SendLogout(MasterPid());
}

void TMenuActions::onCloseClick()
{
    TPF_SendQuit(MasterPid());
}
