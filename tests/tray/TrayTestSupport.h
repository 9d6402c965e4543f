// What the tray tests share: the open menu, the menu's items and the pixels of an
// icon or of the screen, so that a test can tell which picture went to the shell
// and whether the tray shows it. The tray's
// windows and timers live on the test thread, which pumps with support/MessagePump.
#pragma once

#include "support/MessagePump.h"
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

// The popup menu window that opens on the desktop within Timeout, or null.
HWND WaitForOpenMenu(std::chrono::milliseconds Timeout = std::chrono::seconds(5));

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

// What the screen shows in Area, as 32-bit BGRA, row by row; empty when unreadable.
std::vector<std::uint32_t> ScreenPixels(const RECT& Area);

// The pixels of image Index of List.
std::vector<std::uint32_t> PixelsOf(HIMAGELIST List, int Index);

// How often Needle stands in Text: the commands a master stand-in received, say.
int CountOf(const std::string& Text, const std::string& Needle);

} // namespace tray_test
