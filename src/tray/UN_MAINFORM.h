// The bridge's hidden main form. It is never shown; closing it (WM_CLOSE) ends
// the message loop and so the process. Lives on the main thread.
#pragma once

#include "startup/WinHandle.h"

#include <windows.h>

class TFmain
{
public:
    TFmain();
    TFmain(const TFmain&) = delete;
    TFmain& operator=(const TFmain&) = delete;
    ~TFmain() = default;

    [[nodiscard]] HWND Handle() const noexcept { return FWindow.get(); }

private:
    static LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void FormCreate();
    void FormClose();

    TUniqueWindow FWindow;
};
