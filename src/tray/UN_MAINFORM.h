// The bridge's hidden main form. It is never shown; it owns the tray icon with
// its menu and pictures and the request server. Lives on the main thread; other
// threads reach the tray only through ShowBallonHint,
// TranslateAndSetStatusTrayMenu and RunOnMainThread, which hand the work over
// and wait for it. Closing it (WM_CLOSE) removes the icon and ends the message
// loop and so the process.
#pragma once

#include "base/SlimLock.h"
#include "base/WinHandle.h"
#include "server/UN_TPPipeServer.h"
#include "tray/UN_TRemoteTrayIcon.h"

#include <windows.h>
#include <commctrl.h>

#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

// A call handed to the main thread after the form was closed; it does not run.
class EMainFormClosed : public std::runtime_error
{
public:
    EMainFormClosed() : std::runtime_error("the main form is closed") {}
};

// The small-icon size for the DPI of the monitor that shows the tray (16 at 100 %).
int TrayIconSize();

// The five tray pictures of the program's resources at Size pixels.
TUniqueImageList CreateTrayImageList(int Size);

class TFmain
{
public:
    // ShellNotifyIcon lets a test watch what goes to the shell; empty for the real one.
    explicit TFmain(TShellNotifyIcon ShellNotifyIcon = {});
    TFmain(const TFmain&) = delete;
    TFmain& operator=(const TFmain&) = delete;
    ~TFmain();

    [[nodiscard]] HWND Handle() const noexcept { return FWindow.get(); }

    // Any thread.
    void ShowBallonHint(const std::wstring& Title, const std::wstring& Text, TQXBalloonHintIcon IconType,
                        int IconIndex);
    // Any thread. Entry i of both lists goes to the menu item tagged i; a missing
    // status hides the item.
    void TranslateAndSetStatusTrayMenu(const std::vector<std::wstring>& MenuTrad, const std::vector<int>& MenuStatus);

    // Any thread: runs Call on the main thread and returns when it has run, in
    // the order the calls were handed over; a failure in it is raised here again.
    // After the form closed, raises EMainFormClosed without running Call.
    void RunOnMainThread(std::function<void()> Call);

    // Main thread: closes the form, which removes the icon and ends the message loop.
    void Close();

    // The form's parts, touched on the main thread only.
    TUniqueImageList imgListTrayIcons;
    TqxPopupMenu TrayMenu;
    std::unique_ptr<TqxTrayIcon> TrayIcon;

private:
    struct THandOver
    {
        std::function<void()> Call;
        std::exception_ptr Failure;
        bool Done = false;
    };

    friend LRESULT CALLBACK RouteToOwner<TFmain>(HWND, UINT, WPARAM, LPARAM);
    LRESULT HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleFormMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void FormCreate(TShellNotifyIcon ShellNotifyIcon);
    void FormClose();
    // Makes the tray pictures again when the tray's icon size has changed.
    void RefreshTrayPictures();
    void TIF_CreateTrayIcon();
    void RunHandedOverCalls();
    void RefuseHandedOverCalls();

    int FTrayPictureSize;
    DWORD FMainThreadId;
    TSlimLock FHandOverLock;
    TSlimCondition FHandOverDone;
    std::deque<THandOver*> FHandOvers;
    bool FClosed = false;
    TUniqueWindow FWindow;
    // The request server, made by FormCreate and never destroyed (see ~TFmain).
    std::unique_ptr<TTPPipeServer> lServer;
};

// The one main form; null before it exists and after it is gone. Other threads
// use it only through WithMainForm.
extern TFmain* Fmain;

// Any thread: calls Use with the main form while it cannot go away; false, without
// calling, when there is none. Use must not wait for the main thread other than
// through the form's hand-over (which a closing form refuses), or the form's
// destruction would wait for it forever.
bool WithMainForm(const std::function<void(TFmain&)>& Use);

// The handlers of the tray menu and of the icon's double click; each starts one
// master-pipe send and returns at once.
struct TMenuActions
{
    static void TrayIconDblClick();
    static void onOpenClick();
    static void onDisableUnatAccess();
    static void onLogOutClick();
    static void onCloseClick();
};
