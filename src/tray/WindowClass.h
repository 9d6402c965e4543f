// The bridge's hidden windows: each is a top-level tool window, never shown, whose
// messages go to the object it was created for.
#pragma once

#include "base/TextConversion.h"
#include "base/WinError.h"
#include "base/WinHandle.h"
#include "startup/UN_GlobalVars.h"

#include <windows.h>

#include <exception>
#include <string>
#include <string_view>

// Registers ClassName for this module with WindowProc; a class that a window
// created earlier already registered is left as it is.
void RegisterWindowClass(const wchar_t* ClassName, WNDPROC WindowProc);

// The window procedure of a hidden window created for an object of type T: every
// message from WM_NCCREATE on goes to Owner->HandleMessage, up to and including
// WM_NCDESTROY, after which the window no longer knows its owner.
template <class T>
LRESULT CALLBACK RouteToOwner(HWND Window, UINT Message, WPARAM WParam, LPARAM LParam)
{
    if (Message == WM_NCCREATE)
        SetWindowLongPtrW(Window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(LParam)->lpCreateParams));
    auto* owner = reinterpret_cast<T*>(GetWindowLongPtrW(Window, GWLP_USERDATA));
    if (Message == WM_NCDESTROY)
        SetWindowLongPtrW(Window, GWLP_USERDATA, 0);
    return owner != nullptr ? owner->HandleMessage(Window, Message, WParam, LParam)
                            : DefWindowProcW(Window, Message, WParam, LParam);
}

// Runs Handle for one message of a window. The handlers run inside the system's
// dispatch of the message, which nothing may escape: a failure is logged with
// Tag and the message counts as handled.
template <class F>
LRESULT HandleGuarded(std::wstring_view Tag, F&& Handle)
{
    try
    {
        return Handle();
    }
    catch (const std::exception& failure)
    {
        Log(std::wstring(Tag) + L"  EX  " + WhatOf(failure));
        return 0;
    }
}

// A tool window gets no task-bar button. Top-level rather than HWND_MESSAGE, so
// that it receives broadcasts such as "TaskbarCreated".
template <class T>
TUniqueWindow CreateHiddenWindow(const wchar_t* ClassName, const wchar_t* Caption, T* Owner)
{
    RegisterWindowClass(ClassName, &RouteToOwner<T>);
    TUniqueWindow window(CreateWindowExW(WS_EX_TOOLWINDOW, ClassName, Caption, WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                         GetModuleHandleW(nullptr), Owner));
    if (!window)
        ThrowLastError("CreateWindowExW");
    return window;
}
