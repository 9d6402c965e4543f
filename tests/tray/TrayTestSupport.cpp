#include "TrayTestSupport.h"

#include "startup/WinHandle.h"

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

} // namespace

HWND WaitForOpenMenu(std::chrono::milliseconds Timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + Timeout;
    while (std::chrono::steady_clock::now() < deadline)
    {
        HWND menu = FindWindowW(L"#32768", nullptr);
        if (menu != nullptr && IsWindowVisible(menu))
            return menu;
        Sleep(10);
    }
    return nullptr;
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
    BITMAPINFO header{};
    header.bmiHeader.biSize = sizeof(header.bmiHeader);
    header.bmiHeader.biWidth = bitmap.bmWidth;
    header.bmiHeader.biHeight = -bitmap.bmHeight;
    header.bmiHeader.biPlanes = 1;
    header.bmiHeader.biBitCount = 32;
    header.bmiHeader.biCompression = BI_RGB;
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(bitmap.bmWidth) * bitmap.bmHeight);
    TScreenDc screen;
    if (GetDIBits(screen.Dc, color.get(), 0, static_cast<UINT>(bitmap.bmHeight), pixels.data(), &header,
                  DIB_RGB_COLORS) == 0)
        return {};
    return pixels;
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

} // namespace tray_test
