#include "TestWindows.h"

#include "support/MessagePump.h"

#include <windows.h>
#include <commctrl.h>

#include <set>
#include <stdexcept>
#include <utility>

namespace test_windows
{
namespace
{

constexpr int Left = 100;
constexpr int Top = 100;
constexpr int Size = 300;

// Classes of the shell's own windows are registered here under their names;
// "SysListView32" is the real list view of comctl32.
void EnsureClass(const wchar_t* ClassName)
{
    static std::set<std::wstring> registered;
    if (std::wstring(ClassName) == L"SysListView32")
    {
        INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_LISTVIEW_CLASSES};
        InitCommonControlsEx(&controls);
        return;
    }
    if (!registered.insert(ClassName).second)
        return;
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = ClassName;
    if (RegisterClassW(&windowClass) == 0)
        throw std::runtime_error("RegisterClassW failed");
}

HWND CreateChainWindow(const TWindowKind& Kind, HWND Parent)
{
    EnsureClass(Kind.ClassName);
    HWND window = Parent == nullptr
                      ? CreateWindowExW(WS_EX_TOPMOST, Kind.ClassName, Kind.Text, WS_POPUP | WS_VISIBLE, Left, Top,
                                        Size, Size, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr)
                      : CreateWindowExW(0, Kind.ClassName, Kind.Text, WS_CHILD | WS_VISIBLE, 0, 0, Size, Size,
                                        Parent, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (window == nullptr)
        throw std::runtime_error("CreateWindowExW failed");
    return window;
}

} // namespace

TWindowChain::TWindowChain(const std::vector<TWindowKind>& Chain)
{
    HWND parent = nullptr;
    for (const TWindowKind& kind : Chain)
    {
        parent = CreateChainWindow(kind, parent);
        if (FTop == nullptr)
            FTop = parent;
    }
    FLeaf = parent;
    test_support::DispatchWaitingMessages();
}

void TWindowChain::PointAt() const
{
    SetForegroundWindow(FTop);
    SetCursorPos(Center().x, Center().y);
    test_support::DispatchWaitingMessages();
}

TWindowChain::~TWindowChain()
{
    // A disabled window never becomes the foreground window in place of one that
    // a later test destroys.
    if (FTop != nullptr)
        EnableWindow(FTop, FALSE);
}

void TWindowChain::Destroy()
{
    DestroyWindow(std::exchange(FTop, nullptr));
    FLeaf = nullptr;
    test_support::DispatchWaitingMessages();
}

} // namespace test_windows
