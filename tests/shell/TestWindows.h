// Real windows with the class names and texts of the shell's desktop and folder
// windows, created by the test itself in Wine's virtual desktop, and the pointer
// placed over them.
#pragma once

#include <windows.h>

#include <chrono>
#include <string>
#include <vector>

namespace test_windows
{

// One window of a chain, from the top-level window down to the window under the pointer.
struct TWindowKind
{
    const wchar_t* ClassName;
    const wchar_t* Text;
};

// An Explorer folder window whose view is no desktop icon view.
inline const std::vector<TWindowKind> FolderWindow = {{L"CabinetWClass", L"Documents"}, {L"TestFolderView", L""}};

// A top-level window with its chain of children, each filling its parent, placed
// topmost over a fixed square of the screen, above every chain made before it.
// The windows stay until the test program ends, disabled once their owner is gone:
// under Wine with Xvfb, hiding, moving or destroying a shown window waits 2 s for
// the X server each time.
class TWindowChain
{
public:
    explicit TWindowChain(const std::vector<TWindowKind>& Chain);
    TWindowChain(const TWindowChain&) = delete;
    TWindowChain& operator=(const TWindowChain&) = delete;
    ~TWindowChain();

    // The innermost window, the one under Center().
    [[nodiscard]] HWND Leaf() const noexcept { return FLeaf; }
    [[nodiscard]] HWND Top() const noexcept { return FTop; }
    [[nodiscard]] static POINT Center() noexcept { return {250, 250}; }

    // Moves the pointer over the leaf and makes the chain the foreground window.
    void PointAt() const;

    // Destroys the windows now.
    void Destroy();

private:
    HWND FTop = nullptr;
    HWND FLeaf = nullptr;
};

} // namespace test_windows
