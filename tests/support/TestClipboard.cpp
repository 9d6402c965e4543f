#include "support/TestClipboard.h"

#include "base/WinError.h"

#include <shlobj.h>

#include <cstring>
#include <memory>

namespace test_support
{

namespace
{

TUniqueGlobal Allocate(std::size_t ABytes)
{
    TUniqueGlobal memory(GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, ABytes));
    if (!memory)
        ThrowLastError("GlobalAlloc");
    return memory;
}

} // namespace

TTestClipboard::TTestClipboard()
    : FOwner(CreateWindowExW(0, L"STATIC", L"clipboard owner", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                             GetModuleHandleW(nullptr), nullptr))
{
    if (!FOwner)
        ThrowLastError("CreateWindowExW");
}

TUniqueGlobal MakeDropFiles(const std::vector<std::wstring>& APaths)
{
    // DROPFILES, then each path with its zero, then two more zeros: Wine 8 reads
    // one name before it looks for the end, so an empty list needs both.
    std::size_t characters = 2;
    for (const std::wstring& path : APaths)
        characters += path.size() + 1;
    TUniqueGlobal memory = Allocate(sizeof(DROPFILES) + characters * sizeof(wchar_t));
    {
        TGlobalLock<DROPFILES> files(memory.get());
        files.Get()->pFiles = sizeof(DROPFILES);
        files.Get()->fWide = TRUE;
        auto* text = reinterpret_cast<wchar_t*>(reinterpret_cast<char*>(files.Get()) + sizeof(DROPFILES));
        for (const std::wstring& path : APaths)
        {
            std::memcpy(text, path.c_str(), (path.size() + 1) * sizeof(wchar_t));
            text += path.size() + 1;
        }
    }
    return memory;
}

void TTestClipboard::PutFiles(const std::vector<std::wstring>& APaths)
{
    Put(CF_HDROP, MakeDropFiles(APaths).release());
}

void TTestClipboard::PutText(const std::wstring& AText)
{
    TUniqueGlobal memory = Allocate((AText.size() + 1) * sizeof(wchar_t));
    {
        TGlobalLock<wchar_t> text(memory.get());
        std::memcpy(text.Get(), AText.c_str(), (AText.size() + 1) * sizeof(wchar_t));
    }
    Put(CF_UNICODETEXT, memory.release());
}

void TTestClipboard::Put(UINT AFormat, HGLOBAL AData)
{
    TUniqueGlobal data(AData);
    bool opened = false;
    for (int attempt = 0; attempt < 50 && !opened; ++attempt)
        if (!(opened = OpenClipboard(FOwner.get())))
            Sleep(20);
    if (!opened)
        ThrowLastError("OpenClipboard");
    EmptyClipboard();
    // The clipboard owns the data once it is set.
    if (SetClipboardData(AFormat, data.get()) != nullptr)
        static_cast<void>(data.release());
    CloseClipboard();
}

} // namespace test_support
