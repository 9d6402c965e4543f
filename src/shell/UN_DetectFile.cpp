#include "shell/UN_DetectFile.h"

#include "shell/DroppedFiles.h"

#include "base/SlimLock.h"
#include "base/TextConversion.h"
#include "base/WinError.h"
#include "base/WinHandle.h"

#include <windows.h>
#include <servprov.h>
#include <shellapi.h>
#include <shlguid.h>
#include <shlobj.h>

#include <chrono>
#include <cstring>
#include <mutex>
#include <string_view>
#include <thread>
#include <utility>

std::shared_ptr<TDetectM> ActiveDetector;

namespace
{

using Microsoft::WRL::ComPtr;
using namespace std::chrono_literals;

constexpr auto StartDelay = 10ms;
constexpr auto BusyPollInterval = 10ms;
// Gives the shell time to finish the selection change that the click started.
constexpr auto SettleDelay = 100ms;
constexpr int MaxClimbSteps = 10;
constexpr int ClassBufferSize = 260;

TSlimLock FactoryLock;
TShellWindowsFactory ShellWindowsFactory;

ComPtr<IShellWindows> CreateDefaultShellWindows()
{
    ComPtr<IShellWindows> windows;
    CheckHr(CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                             IID_PPV_ARGS(&windows)),
            "CoCreateInstance(CLSID_ShellWindows)");
    return windows;
}

ComPtr<IShellWindows> CreateShellWindows()
{
    TShellWindowsFactory factory;
    {
        std::lock_guard lock(FactoryLock);
        factory = ShellWindowsFactory;
    }
    ComPtr<IShellWindows> windows = factory ? factory() : CreateDefaultShellWindows();
    if (!windows)
        ThrowHr(E_POINTER, "CreateShellWindows");
    return windows;
}

// Some shell objects answer S_OK without an object; both count as failure. The
// object is taken by reference so that it is read only after the call has filled it.
template <typename T>
void CheckObject(HRESULT hr, const ComPtr<T>& Object, const char* api)
{
    CheckHr(SUCCEEDED(hr) && !Object ? E_POINTER : hr, api);
}

// Runs one shell lookup in an apartment and with a window collection of its own.
// A collection that cannot be created escapes, which ends the caller's index loop
// run; any later failure only makes the lookup's text empty.
template <typename TLookup>
std::wstring RunShellLookup(TLookup&& Lookup)
{
    TComThreadInit apartment(COINIT_MULTITHREADED);
    ComPtr<IShellWindows> windows = CreateShellWindows();
    try
    {
        return Lookup(windows.Get());
    }
    catch (const std::exception&)
    {
        return {};
    }
}

std::wstring WindowClassName(HWND Window)
{
    if (Window == nullptr)
        return {};
    wchar_t buffer[ClassBufferSize] = {};
    int length = GetClassNameW(Window, buffer, ClassBufferSize);
    return std::wstring(buffer, length > 0 ? length : 0);
}

std::wstring WindowText(HWND Window)
{
    wchar_t buffer[ClassBufferSize] = {};
    int length = GetWindowTextW(Window, buffer, ClassBufferSize);
    return std::wstring(buffer, length > 0 ? length : 0);
}

// The Index-th name of a CF_HDROP list held in Memory; empty past the end.
std::wstring DroppedFileNameIn(HGLOBAL Memory, int Index)
{
    TGlobalLock<DROPFILES> locked(Memory);
    if (locked.Get() == nullptr)
        return {};
    auto drop = static_cast<HDROP>(Memory);
    if (Index < 0 || static_cast<UINT>(Index) >= DroppedFileCount(drop))
        return {};
    return DroppedFileName(drop, static_cast<UINT>(Index));
}

// The Index-th selected item of the shell window behind Browser.
std::wstring ReadSelection(IWebBrowser2* Browser, int Index)
{
    ComPtr<IServiceProvider> provider;
    CheckObject(Browser->QueryInterface(IID_PPV_ARGS(&provider)), provider, "QueryInterface(IServiceProvider)");
    ComPtr<IShellBrowser> shellBrowser;
    CheckObject(provider->QueryService(SID_SShellBrowser, IID_PPV_ARGS(&shellBrowser)), shellBrowser,
                "QueryService(SID_SShellBrowser)");
    ComPtr<IShellView> view;
    CheckObject(shellBrowser->QueryActiveShellView(&view), view, "QueryActiveShellView");
    // Fails when nothing is selected.
    ComPtr<IDataObject> selection;
    CheckObject(view->GetItemObject(SVGIO_SELECTION, IID_PPV_ARGS(&selection)), selection, "GetItemObject");

    FORMATETC format{CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    TStgMedium medium;
    CheckHr(selection->GetData(&format, medium.Put()), "IDataObject.GetData(CF_HDROP)");
    if (medium.Get().tymed != TYMED_HGLOBAL)
        return {};
    return DroppedFileNameIn(medium.Get().hGlobal, Index);
}

enum class TSearchOrder { FirstEntry, LastEntry };

// The collection entry that shows Wnd. An entry that is no browser ends the search.
ComPtr<IWebBrowser2> FindShellWindow(IShellWindows* Windows, HWND Wnd, TSearchOrder Order)
{
    long count = 0;
    CheckHr(Windows->get_Count(&count), "IShellWindows.Count");
    for (long step = 0; step < count; ++step)
    {
        VARIANT index;
        VariantInit(&index);
        V_VT(&index) = VT_I4;
        V_I4(&index) = Order == TSearchOrder::FirstEntry ? step : count - 1 - step;
        ComPtr<IDispatch> entry;
        CheckObject(Windows->Item(index, &entry), entry, "IShellWindows.Item");
        ComPtr<IWebBrowser2> browser;
        CheckObject(entry.As(&browser), browser, "QueryInterface(IWebBrowser2)");
        SHANDLE_PTR window = 0;
        CheckHr(browser->get_HWND(&window), "IWebBrowser2.HWND");
        if (window == reinterpret_cast<SHANDLE_PTR>(Wnd))
            return browser;
    }
    return nullptr;
}

TUniqueCoTaskMem<ITEMIDLIST> GetViewFolderIDList(IShellView* View)
{
    // A failed call may still have set the list; it is freed all the same.
    PIDLIST_ABSOLUTE list = nullptr;
    ComPtr<IPersistFolder2> folder;
    if (SUCCEEDED(View->QueryInterface(IID_PPV_ARGS(&folder))))
    {
        HRESULT hr = folder->GetCurFolder(&list);
        TUniqueCoTaskMem<ITEMIDLIST> owned(std::exchange(list, nullptr));
        if (SUCCEEDED(hr))
            return owned;
    }
    ComPtr<IPersistIDList> persist;
    if (SUCCEEDED(View->QueryInterface(IID_PPV_ARGS(&persist))))
    {
        HRESULT hr = persist->GetIDList(&list);
        TUniqueCoTaskMem<ITEMIDLIST> owned(std::exchange(list, nullptr));
        if (SUCCEEDED(hr))
            return owned;
    }
    ThrowHr(E_NOTIMPL, "GetViewFolderIDList");
}

} // namespace

void SetShellWindowsFactory(TShellWindowsFactory Factory)
{
    std::lock_guard lock(FactoryLock);
    ShellWindowsFactory = std::move(Factory);
}

std::wstring TakeStrRetText(STRRET& Name, PCUITEMID_CHILD Item)
{
    switch (Name.uType)
    {
    case STRRET_WSTR:
    {
        TUniqueCoTaskMem<wchar_t> text(std::exchange(Name.pOleStr, nullptr));
        return text ? std::wstring(text.get()) : std::wstring();
    }
    case STRRET_OFFSET:
    {
        // The text lies inside the item; its size bounds the text.
        if (Item == nullptr || Name.uOffset >= Item->mkid.cb)
            return {};
        const char* text = reinterpret_cast<const char*>(Item) + Name.uOffset;
        return AnsiToWide(std::string_view(text, strnlen(text, Item->mkid.cb - Name.uOffset)));
    }
    case STRRET_CSTR:
        return AnsiToWide(std::string_view(Name.cStr, strnlen(Name.cStr, sizeof(Name.cStr))));
    default:
        return {};
    }
}

std::shared_ptr<TDetectM> TDetectM::Create()
{
    return std::shared_ptr<TDetectM>(new TDetectM());
}

TDetectM::TDetectM()
{
    wchar_t buffer[MAX_PATH + 1] = {};
    if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_DESKTOP, nullptr, SHGFP_TYPE_CURRENT, buffer)))
        FDesktopPath = buffer;
}

void TDetectM::MouseTrapCB()
{
    // Fire and forget: the thread owns a reference to the detector, so a request that
    // stops waiting may drop its own; nobody joins the thread.
    std::thread([self = shared_from_this()] { self->Detect(); }).detach();
}

int TDetectM::ClassifyWindow(HWND Window)
{
    try
    {
        std::wstring wText = WindowText(Window);
        std::wstring wClass = WindowClassName(Window);
        HWND parent = GetParent(Window);
        std::wstring pClass = WindowClassName(parent);
        std::wstring aClass;
        if (pClass == L"SHELLDLL_DefView" || pClass == L"NSEViewClass")
        {
            for (int step = 0; step < MaxClimbSteps; ++step)
            {
                parent = parent != nullptr ? GetParent(parent) : nullptr;
                aClass = WindowClassName(parent);
                if (aClass == L"Progman" || aClass == L"WorkerW")
                    break;
            }
        }
        bool isIconView = wText == L"FolderView" && wClass == L"SysListView32" &&
                          (aClass == L"Progman" || (aClass == L"WorkerW" && pClass == L"SHELLDLL_DefView"));
        return isIconView ? FQueryIsDesktop : FQueryIsExplorer;
    }
    catch (const std::exception&)
    {
        return 0;
    }
}

int TDetectM::ClassifyCursorWindow() const noexcept
{
    POINT pos{};
    if (!GetCursorPos(&pos))
        return 0;
    return ClassifyWindow(WindowFromPoint(pos));
}

void TDetectM::AcquireBusyFlag()
{
    std::this_thread::sleep_for(StartDelay);
    int idle = 0;
    while (!FSemaphore.compare_exchange_strong(idle, 1, std::memory_order_acquire))
    {
        idle = 0;
        std::this_thread::sleep_for(BusyPollInterval);
    }
}

void TDetectM::Detect()
{
    try
    {
        AcquireBusyFlag();
        struct TBusyFlagReset
        {
            std::atomic<int>& Flag;
            ~TBusyFlagReset() { Flag.store(0, std::memory_order_release); }
        } reset{FSemaphore};

        FIsDesktop = ClassifyCursorWindow();
        FPath.clear();
        std::this_thread::sleep_for(SettleDelay);
        try
        {
            if (FIsDesktop == FQueryIsDesktop)
                TestDesktop();
            else if (FIsDesktop == FQueryIsExplorer)
                TestExplorer();
        }
        catch (const std::exception&)
        {
            // No window collection: what was collected so far is reported.
        }
        if (FOnData && !FPath.empty())
            FOnData(*this);
    }
    catch (...)
    {
        // A failing OnData handler ends the detection quietly; the detector keeps no log.
    }
}

void TDetectM::CollectSelection(const std::function<std::wstring(int Index)>& Lookup)
{
    for (int index = 0;; ++index)
    {
        std::wstring path = Lookup(index);
        if (path.empty())
            return;
        FPath.push_back(std::move(path));
    }
}

void TDetectM::TestDesktop()
{
    CollectSelection([this](int Index) { return GetDesktopSelectedFile(Index); });
    // Even when the desktop folder is unknown: the empty entry is reported, and the
    // request ends at once on its failed check instead of waiting out its time.
    if (FPath.empty())
        FPath.push_back(FDesktopPath);
}

void TDetectM::TestExplorer()
{
    HWND wnd = GetForegroundWindow();
    if (wnd == nullptr)
        return;
    CollectSelection([this, wnd](int Index) { return GetExplorerSelectedFile(wnd, Index); });
    if (FPath.empty())
    {
        std::wstring folder = GetExplorerTopPath(wnd);
        if (!folder.empty())
            FPath.push_back(std::move(folder));
    }
}

std::wstring TDetectM::GetDesktopSelectedFile(int Index) const
{
    return RunShellLookup([Index](IShellWindows* Windows) -> std::wstring {
        VARIANT location;
        VARIANT root;
        VariantInit(&location);
        VariantInit(&root);
        long window = 0;
        ComPtr<IDispatch> entry;
        HRESULT hr = Windows->FindWindowSW(&location, &root, SWC_DESKTOP, &window, SWFO_NEEDDISPATCH, &entry);
        if (FAILED(hr) || window <= 0 || !entry)
            return {};
        ComPtr<IWebBrowser2> browser;
        if (FAILED(entry.As(&browser)) || !browser)
            return {};
        return ReadSelection(browser.Get(), Index);
    });
}

std::wstring TDetectM::GetExplorerSelectedFile(HWND Wnd, int Index) const
{
    return RunShellLookup([Wnd, Index](IShellWindows* Windows) -> std::wstring {
        ComPtr<IWebBrowser2> browser = FindShellWindow(Windows, Wnd, TSearchOrder::FirstEntry);
        return browser ? ReadSelection(browser.Get(), Index) : std::wstring();
    });
}

std::wstring TDetectM::GetExplorerTopPath(HWND Wnd) const
{
    return RunShellLookup([Wnd](IShellWindows* Windows) -> std::wstring {
        ComPtr<IWebBrowser2> browser = FindShellWindow(Windows, Wnd, TSearchOrder::LastEntry);
        if (!browser)
            return {};
        ComPtr<IServiceProvider> provider;
        CheckObject(browser.As(&provider), provider, "QueryInterface(IServiceProvider)");
        ComPtr<IShellBrowser> shellBrowser;
        CheckObject(provider->QueryService(SID_STopLevelBrowser, IID_PPV_ARGS(&shellBrowser)), shellBrowser,
                    "QueryService(SID_STopLevelBrowser)");
        ComPtr<IShellView> view;
        CheckObject(shellBrowser->QueryActiveShellView(&view), view, "QueryActiveShellView");

        TUniqueCoTaskMem<ITEMIDLIST> folder = GetViewFolderIDList(view.Get());
        ComPtr<IShellFolder> parent;
        PCUITEMID_CHILD last = nullptr;
        CheckObject(SHBindToParent(folder.get(), IID_PPV_ARGS(&parent), &last), parent, "SHBindToParent");
        STRRET name{};
        CheckHr(parent->GetDisplayNameOf(last, SHGDN_FORPARSING, &name), "IShellFolder.GetDisplayNameOf");
        return TakeStrRetText(name, last);
    });
}
