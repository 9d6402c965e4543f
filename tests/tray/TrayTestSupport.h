// What the tray tests share: pumping the test thread's messages (the tray's
// windows and timers live on it) and reading the pixels of an icon, so that a
// test can tell which picture went to the shell.
#pragma once

#include "tray/UN_TRemoteTrayIcon.h"

#include <windows.h>
#include <commctrl.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace tray_test
{

// Dispatches the thread's messages until Done or the time is up; returns Done().
bool PumpUntil(const std::function<bool()>& Done, std::chrono::milliseconds Timeout);

// Whether the pumps above took a WM_QUIT off the queue since the last call.
bool TakeQuitSeen();

// Dispatches the thread's messages for Duration.
void PumpFor(std::chrono::milliseconds Duration);

// The popup menu window that opens on the desktop within Timeout, or null.
HWND WaitForOpenMenu(std::chrono::milliseconds Timeout = std::chrono::seconds(5));

// Runs Work on another thread, as the request server's worker would, while this
// (main) thread pumps; false when Work did not end in time.
bool RunOnWorkerWhilePumping(const std::function<void()>& Work,
                             std::chrono::milliseconds Timeout = std::chrono::seconds(10));

// One tray menu item as the user would see it.
struct TItemState
{
    int Tag;
    std::wstring Caption;
    bool Visible;
    bool operator==(const TItemState&) const = default;
};
void PrintTo(const TItemState& Item, std::ostream* Out);

std::vector<TItemState> MenuStateOf(const TqxPopupMenu& Menu);

// The icon's colour pixels as 32-bit BGRA, row by row; empty when unreadable.
std::vector<std::uint32_t> PixelsOf(HICON Icon);

// The pixels of image Index of List.
std::vector<std::uint32_t> PixelsOf(HIMAGELIST List, int Index);

} // namespace tray_test
