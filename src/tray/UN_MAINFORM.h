// The bridge's hidden main form. It is never shown; closing it (WM_CLOSE) ends
// the message loop and so the process. Lives on the main thread.
#pragma once

#include "server/UN_TPPipeServer.h"
#include "startup/WinHandle.h"

#include <windows.h>

#include <memory>

class TFmain
{
public:
    TFmain();
    TFmain(const TFmain&) = delete;
    TFmain& operator=(const TFmain&) = delete;
    ~TFmain();

    [[nodiscard]] HWND Handle() const noexcept { return FWindow.get(); }

private:
    static LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void FormCreate();
    void FormClose();

    TUniqueWindow FWindow;
    // The request server, made by FormCreate and never destroyed (see ~TFmain).
    std::unique_ptr<TTPPipeServer> lServer;
};
