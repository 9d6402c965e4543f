#include "tray/UN_MAINFORM.h"

#include "startup/GF_SupportFunctions.h"
#include "startup/UN_GlobalVars.h"
#include "startup/WinError.h"

namespace
{

constexpr wchar_t MainFormClass[] = L"TFmain";

void RegisterMainFormClass(WNDPROC windowProc)
{
    static const ATOM atom = [windowProc] {
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof(windowClass);
        windowClass.lpfnWndProc = windowProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = MainFormClass;
        return RegisterClassExW(&windowClass);
    }();
    if (atom == 0)
        ThrowLastError("RegisterClassExW");
}

} // namespace

TFmain::TFmain()
{
    RegisterMainFormClass(&TFmain::WndProc);
    // A tool window gets no task-bar button; the form is never shown.
    HWND window = CreateWindowExW(WS_EX_TOOLWINDOW, MainFormClass, _AppName.c_str(), WS_POPUP, 0, 0, 0, 0,
                                  nullptr, nullptr, GetModuleHandleW(nullptr), this);
    if (window == nullptr)
        ThrowLastError("CreateWindowExW");
    FWindow.reset(window);
    FormCreate();
}

TFmain::~TFmain()
{
    // Left running on purpose: stopping it here would join its worker, which may
    // be waiting for this thread to run a tray command, and the request that closed
    // the form still has its answer to write. Its threads end with the process.
    static_cast<void>(lServer.release());
}

LRESULT CALLBACK TFmain::WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE)
        SetWindowLongPtrW(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
    auto* self = reinterpret_cast<TFmain*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    return self != nullptr ? self->HandleMessage(window, message, wParam, lParam)
                           : DefWindowProcW(window, message, wParam, lParam);
}

LRESULT TFmain::HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message)
    {
    case WM_CLOSE:
        FormClose();
        PostQuitMessage(0);
        return 0;
    case WM_NCDESTROY:
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void TFmain::FormCreate()
{
    lServer = std::make_unique<TTPPipeServer>(std::to_wstring(GetOwnProcessId()));
}

void TFmain::FormClose()
{
}
