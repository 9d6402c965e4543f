// One small owner per kind of Win32 handle. Nothing else in the program calls
// CloseHandle, DestroyWindow, DestroyMenu, DestroyIcon, ImageList_Destroy,
// GlobalUnlock, CoUninitialize, CoTaskMemFree or ReleaseStgMedium itself.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <ole2.h>

#include <cstddef>
#include <memory>
#include <type_traits>
#include <utility>

// A kernel handle. Both NULL and INVALID_HANDLE_VALUE mean "no handle", since
// CreateFileW and CreateNamedPipeW report failure with the latter and most other
// calls with the former.
class TUniqueHandle
{
public:
    TUniqueHandle() noexcept = default;
    explicit TUniqueHandle(HANDLE handle) noexcept : FHandle(handle == INVALID_HANDLE_VALUE ? nullptr : handle) {}
    TUniqueHandle(TUniqueHandle&& other) noexcept : FHandle(other.Release()) {}
    TUniqueHandle& operator=(TUniqueHandle&& other) noexcept
    {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }
    TUniqueHandle(const TUniqueHandle&) = delete;
    TUniqueHandle& operator=(const TUniqueHandle&) = delete;
    ~TUniqueHandle() { Reset(); }

    [[nodiscard]] HANDLE Get() const noexcept { return FHandle; }
    [[nodiscard]] bool IsValid() const noexcept { return FHandle != nullptr; }
    explicit operator bool() const noexcept { return IsValid(); }

    void Reset(HANDLE handle = nullptr) noexcept
    {
        if (handle == INVALID_HANDLE_VALUE)
            handle = nullptr;
        if (FHandle != nullptr && FHandle != handle)
        {
            // Reset(CreateFileW(...)) in a retry loop reads the new call's error
            // afterwards (ERROR_PIPE_BUSY); closing the old handle must not replace it.
            const DWORD lastError = GetLastError();
            CloseHandle(FHandle);
            SetLastError(lastError);
        }
        FHandle = handle;
    }

    [[nodiscard]] HANDLE Release() noexcept { return std::exchange(FHandle, nullptr); }

private:
    HANDLE FHandle = nullptr;
};

struct TWindowDeleter { void operator()(HWND window) const noexcept { DestroyWindow(window); } };
using TUniqueWindow = std::unique_ptr<std::remove_pointer_t<HWND>, TWindowDeleter>;

struct TMenuDeleter { void operator()(HMENU menu) const noexcept { DestroyMenu(menu); } };
using TUniqueMenu = std::unique_ptr<std::remove_pointer_t<HMENU>, TMenuDeleter>;

struct TIconDeleter { void operator()(HICON icon) const noexcept { DestroyIcon(icon); } };
using TUniqueIcon = std::unique_ptr<std::remove_pointer_t<HICON>, TIconDeleter>;

struct TImageListDeleter { void operator()(HIMAGELIST list) const noexcept { ImageList_Destroy(list); } };
using TUniqueImageList = std::unique_ptr<std::remove_pointer_t<HIMAGELIST>, TImageListDeleter>;

// Memory that the system allocated with LocalAlloc for the caller (security
// descriptors and SID strings from the SDDL conversions).
struct TLocalFreeDeleter { void operator()(void* memory) const noexcept { LocalFree(memory); } };
template <typename T>
using TUniqueLocal = std::unique_ptr<T, TLocalFreeDeleter>;

// A find handle. FindFirstFileW reports failure with INVALID_HANDLE_VALUE, not
// NULL, so that value is the empty one: an owner of a failed search closes nothing.
class TFindHandle
{
public:
    TFindHandle() noexcept = default;
    TFindHandle(std::nullptr_t) noexcept {}
    TFindHandle(HANDLE handle) noexcept : FHandle(handle) {}
    operator HANDLE() const noexcept { return FHandle; }
    explicit operator bool() const noexcept { return FHandle != INVALID_HANDLE_VALUE; }
    friend bool operator==(TFindHandle, TFindHandle) noexcept = default;
    friend bool operator==(TFindHandle find, std::nullptr_t) noexcept { return !find; }

private:
    HANDLE FHandle = INVALID_HANDLE_VALUE;
};

struct TFindDeleter
{
    using pointer = TFindHandle;
    void operator()(TFindHandle find) const noexcept { FindClose(find); }
};
using TUniqueFind = std::unique_ptr<void, TFindDeleter>;

// Keeps a global memory block locked for one scope.
template <typename T>
class TGlobalLock
{
public:
    explicit TGlobalLock(HGLOBAL memory) noexcept : FMemory(memory), FData(static_cast<T*>(GlobalLock(memory))) {}
    TGlobalLock(const TGlobalLock&) = delete;
    TGlobalLock& operator=(const TGlobalLock&) = delete;
    ~TGlobalLock()
    {
        if (FData != nullptr)
            GlobalUnlock(FMemory);
    }
    [[nodiscard]] T* Get() const noexcept { return FData; }

private:
    HGLOBAL FMemory;
    T* FData;
};

// One COM initialisation of the calling thread. CoUninitialize must balance only a
// successful CoInitializeEx (S_FALSE counts); after RPC_E_CHANGED_MODE it would tear
// down the apartment that somebody else set up on this thread.
class TComThreadInit
{
public:
    explicit TComThreadInit(DWORD concurrency) noexcept
        : FInitialized(SUCCEEDED(CoInitializeEx(nullptr, concurrency))) {}
    TComThreadInit(const TComThreadInit&) = delete;
    TComThreadInit& operator=(const TComThreadInit&) = delete;
    ~TComThreadInit()
    {
        if (FInitialized)
            CoUninitialize();
    }

private:
    bool FInitialized;
};

// Memory that COM hands over to the caller: item ID lists, STRRET texts.
struct TCoTaskMemDeleter { void operator()(void* memory) const noexcept { CoTaskMemFree(memory); } };
template <typename T>
using TUniqueCoTaskMem = std::unique_ptr<T, TCoTaskMemDeleter>;

// A storage medium filled by IDataObject::GetData; empty (TYMED_NULL) until filled.
class TStgMedium
{
public:
    TStgMedium() noexcept = default;
    TStgMedium(const TStgMedium&) = delete;
    TStgMedium& operator=(const TStgMedium&) = delete;
    ~TStgMedium() { ReleaseStgMedium(&FMedium); }

    [[nodiscard]] STGMEDIUM* Put() noexcept { return &FMedium; }
    [[nodiscard]] const STGMEDIUM& Get() const noexcept { return FMedium; }

private:
    STGMEDIUM FMedium{};
};
