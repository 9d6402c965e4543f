#include "TrayTestSupport.h"

#include "base/WinHandle.h"
#include "support/BridgeTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <utility>

namespace tray_test
{

namespace
{

struct TBitmapDeleter { void operator()(HBITMAP bitmap) const noexcept { DeleteObject(bitmap); } };
using TUniqueBitmap = std::unique_ptr<std::remove_pointer_t<HBITMAP>, TBitmapDeleter>;

struct TScreenDc
{
    HDC Dc = GetDC(nullptr);
    ~TScreenDc() { ReleaseDC(nullptr, Dc); }
};

struct TMemoryDcDeleter { void operator()(HDC dc) const noexcept { DeleteDC(dc); } };
using TUniqueMemoryDc = std::unique_ptr<std::remove_pointer_t<HDC>, TMemoryDcDeleter>;

// The pixels of Bitmap as 32-bit BGRA, row by row from the top; empty when unreadable.
std::vector<std::uint32_t> DibPixels(HDC Dc, HBITMAP Bitmap, int Width, int Height)
{
    BITMAPINFO header{};
    header.bmiHeader.biSize = sizeof(header.bmiHeader);
    header.bmiHeader.biWidth = Width;
    header.bmiHeader.biHeight = -Height;
    header.bmiHeader.biPlanes = 1;
    header.bmiHeader.biBitCount = 32;
    header.bmiHeader.biCompression = BI_RGB;
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(Width) * Height);
    if (GetDIBits(Dc, Bitmap, 0, static_cast<UINT>(Height), pixels.data(), &header, DIB_RGB_COLORS) == 0)
        return {};
    return pixels;
}

} // namespace

HWND WaitForOpenMenu(std::chrono::milliseconds Timeout)
{
    HWND menu = nullptr;
    const bool open = test_support::Eventually(
        [&menu] {
            menu = FindWindowW(L"#32768", nullptr);
            return menu != nullptr && IsWindowVisible(menu);
        },
        Timeout);
    return open ? menu : nullptr;
}

std::vector<std::uint32_t> PixelsOf(HICON Icon)
{
    ICONINFO info{};
    if (Icon == nullptr || !GetIconInfo(Icon, &info))
        return {};
    TUniqueBitmap color(info.hbmColor);
    TUniqueBitmap mask(info.hbmMask);
    BITMAP bitmap{};
    if (!color || GetObjectW(color.get(), sizeof(bitmap), &bitmap) == 0)
        return {};
    TScreenDc screen;
    return DibPixels(screen.Dc, color.get(), bitmap.bmWidth, bitmap.bmHeight);
}

std::vector<std::uint32_t> ScreenPixels(const RECT& Area)
{
    const int width = Area.right - Area.left;
    const int height = Area.bottom - Area.top;
    TScreenDc screen;
    TUniqueMemoryDc memory(CreateCompatibleDC(screen.Dc));
    TUniqueBitmap bitmap(CreateCompatibleBitmap(screen.Dc, width, height));
    if (!memory || !bitmap)
        return {};
    HGDIOBJ old = SelectObject(memory.get(), bitmap.get());
    BitBlt(memory.get(), 0, 0, width, height, screen.Dc, Area.left, Area.top, SRCCOPY);
    SelectObject(memory.get(), old);
    return DibPixels(memory.get(), bitmap.get(), width, height);
}

std::vector<std::uint32_t> PixelsOf(HIMAGELIST List, int Index)
{
    TUniqueIcon icon(ImageList_GetIcon(List, Index, ILD_NORMAL));
    return PixelsOf(icon.get());
}

void PrintTo(const TItemState& Item, std::ostream* Out)
{
    *Out << Item.Tag << (Item.Visible ? " shown " : " hidden ") << testing::PrintToString(Item.Caption);
}

std::vector<TItemState> MenuStateOf(const TqxPopupMenu& Menu)
{
    std::vector<TItemState> items;
    for (const TqxMenuItem& item : Menu.Items)
        items.push_back({item.Tag, item.Caption, item.Visible});
    return items;
}

int CountOf(const std::string& Text, const std::string& Needle)
{
    int count = 0;
    for (std::size_t at = Text.find(Needle); at != std::string::npos; at = Text.find(Needle, at + 1))
        ++count;
    return count;
}

} // namespace tray_test
