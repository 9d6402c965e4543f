#include "FakeShell.h"

#include "shell/UN_DetectFile.h"
#include "support/TestClipboard.h"

#include <windows.h>
#include <exdisp.h>
#include <servprov.h>
#include <shlguid.h>
#include <shlobj.h>
#include <wrl/client.h>

#include <thread>

namespace fake_shell
{
namespace
{

using Microsoft::WRL::ComPtr;

std::atomic<int> LiveCount{0};

// Reference counting and the live count; each fake names the interfaces it offers.
template <typename... TInterfaces>
class TFakeObject : public TInterfaces...
{
public:
    TFakeObject() { ++LiveCount; }
    TFakeObject(const TFakeObject&) = delete;
    TFakeObject& operator=(const TFakeObject&) = delete;
    virtual ~TFakeObject() { --LiveCount; }

    ULONG STDMETHODCALLTYPE AddRef() override { return ++FReferences; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        ULONG left = --FReferences;
        if (left == 0)
            delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID Iid, void** Object) override
    {
        if (Object == nullptr)
            return E_POINTER;
        *Object = Find(Iid);
        if (*Object == nullptr)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }

protected:
    virtual void* Find(REFIID Iid) = 0;

private:
    std::atomic<ULONG> FReferences{0};
};

// A new fake starts without references; its first owner adds the first one.
// (mingw-w64's ComPtr::Attach adds a reference too, unlike Microsoft's, so it is not used.)
template <typename T, typename... TArgs>
ComPtr<T> Make(TArgs&&... Args)
{
    return ComPtr<T>(new T(std::forward<TArgs>(Args)...));
}

template <typename TInterface>
HRESULT Hand(ComPtr<TInterface> Object, TInterface** Out)
{
    *Out = Object.Detach();
    return S_OK;
}

// Owns a storage medium's memory; ReleaseStgMedium releases this instead of freeing it,
// so a medium that is never released shows as a live object.
class TMediumOwner : public TFakeObject<IUnknown>
{
public:
    explicit TMediumOwner(HGLOBAL Memory) : FMemory(Memory) {}
    ~TMediumOwner() override { GlobalFree(FMemory); }

protected:
    void* Find(REFIID Iid) override { return Iid == IID_IUnknown ? static_cast<IUnknown*>(this) : nullptr; }

private:
    HGLOBAL FMemory;
};

class TDataObject : public TFakeObject<IDataObject>
{
public:
    explicit TDataObject(std::vector<std::wstring> Paths) : FPaths(std::move(Paths)) {}

    HRESULT STDMETHODCALLTYPE GetData(FORMATETC* Format, STGMEDIUM* Medium) override
    {
        if (Format->cfFormat != CF_HDROP || (Format->tymed & TYMED_HGLOBAL) == 0)
            return DV_E_FORMATETC;
        Medium->tymed = TYMED_HGLOBAL;
        Medium->hGlobal = test_support::MakeDropFiles(FPaths).release();
        Medium->pUnkForRelease = Make<TMediumOwner>(Medium->hGlobal).Detach();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE QueryGetData(FORMATETC *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetDataHere(FORMATETC *, STGMEDIUM *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetCanonicalFormatEtc(FORMATETC *, FORMATETC *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetData(FORMATETC *, STGMEDIUM *, WINBOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnumFormatEtc(DWORD, IEnumFORMATETC **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DAdvise(FORMATETC *, DWORD, IAdviseSink *, DWORD *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DUnadvise(DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnumDAdvise(IEnumSTATDATA **) override { return E_NOTIMPL; }

protected:
    void* Find(REFIID Iid) override
    {
        return Iid == IID_IUnknown || Iid == IID_IDataObject ? static_cast<IDataObject*>(this) : nullptr;
    }

private:
    std::vector<std::wstring> FPaths;
};

class TShellView : public TFakeObject<IShellView, IPersistFolder2, IPersistIDList>
{
public:
    TShellView(std::shared_ptr<TShell> Model, TShellWindow Window)
        : FShell(std::move(Model)), FWindow(std::move(Window)) {}

    HRESULT STDMETHODCALLTYPE GetItemObject(UINT Item, REFIID Iid, void** Object) override
    {
        *Object = nullptr;
        // Like Explorer: no selection, no data object.
        if (Item != SVGIO_SELECTION || Iid != IID_IDataObject || FWindow.Selection.empty())
            return E_FAIL;
        *Object = Make<TDataObject>(FWindow.Selection).Detach();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetCurFolder(PIDLIST_ABSOLUTE* List) override
    {
        if (FWindow.FolderOffer == TFolderOffer::FailingPersistFolder2ThenIDList)
        {
            *List = nullptr;
            return E_FAIL;
        }
        return FolderList(List);
    }
    HRESULT STDMETHODCALLTYPE GetIDList(PIDLIST_ABSOLUTE* List) override { return FolderList(List); }
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Initialize(PCIDLIST_ABSOLUTE) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetIDList(PCIDLIST_ABSOLUTE) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetWindow(HWND *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(WINBOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(MSG *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnableModeless(WINBOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE UIActivate(UINT) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Refresh() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CreateViewWindow(IShellView *, LPCFOLDERSETTINGS, IShellBrowser *, RECT *, HWND *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DestroyViewWindow() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetCurrentInfo(LPFOLDERSETTINGS) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE AddPropertySheetPages(DWORD, LPFNSVADDPROPSHEETPAGE, LPARAM) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SaveViewState() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SelectItem(PCUITEMID_CHILD, SVSIF) override { return E_NOTIMPL; }

protected:
    void* Find(REFIID Iid) override
    {
        TFolderOffer offer = FWindow.FolderOffer;
        if (Iid == IID_IUnknown || Iid == IID_IOleWindow || Iid == IID_IShellView)
            return static_cast<IShellView*>(this);
        if (Iid == IID_IPersistFolder2 &&
            (offer == TFolderOffer::PersistFolder2 || offer == TFolderOffer::FailingPersistFolder2ThenIDList))
            return static_cast<IPersistFolder2*>(this);
        if (Iid == IID_IPersistIDList &&
            (offer == TFolderOffer::PersistIDList || offer == TFolderOffer::FailingPersistFolder2ThenIDList))
            return static_cast<IPersistIDList*>(this);
        return nullptr;
    }

private:
    HRESULT FolderList(PIDLIST_ABSOLUTE* List)
    {
        ++FShell->FolderListsAsked;
        *List = nullptr;
        return SHParseDisplayName(FWindow.Folder.c_str(), nullptr, List, 0, nullptr);
    }

    std::shared_ptr<TShell> FShell;
    TShellWindow FWindow;
};

class TShellBrowser : public TFakeObject<IShellBrowser>
{
public:
    TShellBrowser(std::shared_ptr<TShell> Model, TShellWindow Window)
        : FShell(std::move(Model)), FWindow(std::move(Window)) {}

    HRESULT STDMETHODCALLTYPE QueryActiveShellView(IShellView** View) override
    {
        std::this_thread::sleep_for(FWindow.Delay);
        return Hand<IShellView>(Make<TShellView>(FShell, FWindow), View);
    }
    HRESULT STDMETHODCALLTYPE GetWindow(HWND *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(WINBOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE InsertMenusSB(HMENU, LPOLEMENUGROUPWIDTHS) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetMenuSB(HMENU, HOLEMENU, HWND) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RemoveMenusSB(HMENU) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetStatusTextSB(LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnableModelessSB(WINBOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE TranslateAcceleratorSB(MSG *, WORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE BrowseObject(PCUIDLIST_RELATIVE, UINT) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetViewStateStream(DWORD, IStream **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetControlWindow(UINT, HWND *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SendControlMsg(UINT, UINT, WPARAM, LPARAM, LRESULT *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnViewWindowActive(IShellView *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetToolbarItems(LPTBBUTTONSB, UINT, UINT) override { return E_NOTIMPL; }

protected:
    void* Find(REFIID Iid) override
    {
        return Iid == IID_IUnknown || Iid == IID_IOleWindow || Iid == IID_IShellBrowser
                   ? static_cast<IShellBrowser*>(this)
                   : nullptr;
    }

private:
    std::shared_ptr<TShell> FShell;
    TShellWindow FWindow;
};

// A collection entry: the browser of one shell window.
class TBrowser : public TFakeObject<IWebBrowser2, IServiceProvider>
{
public:
    TBrowser(std::shared_ptr<TShell> Model, TShellWindow Window)
        : FShell(std::move(Model)), FWindow(std::move(Window)) {}

    HRESULT STDMETHODCALLTYPE get_HWND(SHANDLE_PTR* Window) override
    {
        *Window = reinterpret_cast<SHANDLE_PTR>(FWindow.Window);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE QueryService(REFGUID Service, REFIID Iid, void** Object) override
    {
        *Object = nullptr;
        if ((Service != SID_SShellBrowser && Service != SID_STopLevelBrowser) || Iid != IID_IShellBrowser)
            return E_NOINTERFACE;
        *Object = Make<TShellBrowser>(FShell, FWindow).Detach();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR *, UINT, LCID, DISPID *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS *, VARIANT *, EXCEPINFO *, UINT *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GoBack() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GoForward() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GoHome() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GoSearch() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Navigate(BSTR, VARIANT *, VARIANT *, VARIANT *, VARIANT *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Refresh() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Refresh2(VARIANT *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Stop() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Application(IDispatch **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Parent(IDispatch **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Container(IDispatch **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Document(IDispatch **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_TopLevelContainer(VARIANT_BOOL *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Type(BSTR *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Left(LONG *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_Left(LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Top(LONG *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_Top(LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Width(LONG *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_Width(LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Height(LONG *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_Height(LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_LocationName(BSTR *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_LocationURL(BSTR *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Busy(VARIANT_BOOL *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Quit() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ClientToWindow(int *, int *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE PutProperty(BSTR, VARIANT) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetProperty(BSTR, VARIANT *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Name(BSTR *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_FullName(BSTR *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Path(BSTR *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Visible(VARIANT_BOOL *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_Visible(VARIANT_BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_StatusBar(VARIANT_BOOL *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_StatusBar(VARIANT_BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_StatusText(BSTR *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_StatusText(BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_ToolBar(int *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_ToolBar(int) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_MenuBar(VARIANT_BOOL *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_MenuBar(VARIANT_BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_FullScreen(VARIANT_BOOL *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_FullScreen(VARIANT_BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Navigate2(VARIANT *, VARIANT *, VARIANT *, VARIANT *, VARIANT *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryStatusWB(OLECMDID, OLECMDF *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ExecWB(OLECMDID, OLECMDEXECOPT, VARIANT *, VARIANT *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ShowBrowserBar(VARIANT *, VARIANT *, VARIANT *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_ReadyState(READYSTATE *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Offline(VARIANT_BOOL *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_Offline(VARIANT_BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Silent(VARIANT_BOOL *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_Silent(VARIANT_BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_RegisterAsBrowser(VARIANT_BOOL *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_RegisterAsBrowser(VARIANT_BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_RegisterAsDropTarget(VARIANT_BOOL *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_RegisterAsDropTarget(VARIANT_BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_TheaterMode(VARIANT_BOOL *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_TheaterMode(VARIANT_BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_AddressBar(VARIANT_BOOL *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_AddressBar(VARIANT_BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Resizable(VARIANT_BOOL *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_Resizable(VARIANT_BOOL) override { return E_NOTIMPL; }

protected:
    void* Find(REFIID Iid) override
    {
        if (Iid == IID_IUnknown || Iid == IID_IDispatch || Iid == IID_IWebBrowser || Iid == IID_IWebBrowserApp ||
            Iid == IID_IWebBrowser2)
            return static_cast<IWebBrowser2*>(this);
        if (Iid == IID_IServiceProvider)
            return static_cast<IServiceProvider*>(this);
        return nullptr;
    }

private:
    std::shared_ptr<TShell> FShell;
    TShellWindow FWindow;
};

class TShellWindows : public TFakeObject<IShellWindows>
{
public:
    explicit TShellWindows(std::shared_ptr<TShell> Model) : FShell(std::move(Model)) {}

    HRESULT STDMETHODCALLTYPE get_Count(LONG* Count) override
    {
        *Count = static_cast<LONG>(FShell->Entries.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Item(VARIANT Index, IDispatch** Entry) override
    {
        *Entry = nullptr;
        if (V_VT(&Index) != VT_I4 || V_I4(&Index) < 0 ||
            static_cast<std::size_t>(V_I4(&Index)) >= FShell->Entries.size())
            return S_FALSE;
        return Hand<IDispatch>(Make<TBrowser>(FShell, FShell->Entries[V_I4(&Index)]), Entry);
    }
    HRESULT STDMETHODCALLTYPE FindWindowSW(VARIANT*, VARIANT*, int Class, LONG* Window, int Options,
                                           IDispatch** Entry) override
    {
        *Window = 0;
        *Entry = nullptr;
        if (Class != SWC_DESKTOP || FShell->Desktop.Window == nullptr)
            return S_FALSE;
        *Window = static_cast<LONG>(reinterpret_cast<LONG_PTR>(FShell->Desktop.Window));
        if (Options & SWFO_NEEDDISPATCH)
            *Entry = Make<TBrowser>(FShell, FShell->Desktop).Detach();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR *, UINT, LCID, DISPID *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS *, VARIANT *, EXCEPINFO *, UINT *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE _NewEnum(IUnknown **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Register(IDispatch *, LONG, int, LONG *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RegisterPending(LONG, VARIANT *, VARIANT *, int, LONG *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Revoke(LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnNavigate(LONG, VARIANT *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnActivated(LONG, VARIANT_BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnCreated(LONG, IUnknown *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ProcessAttachDetach(VARIANT_BOOL) override { return E_NOTIMPL; }

protected:
    void* Find(REFIID Iid) override
    {
        return Iid == IID_IUnknown || Iid == IID_IDispatch || Iid == IID_IShellWindows
                   ? static_cast<IShellWindows*>(this)
                   : nullptr;
    }

private:
    std::shared_ptr<TShell> FShell;
};

} // namespace

int LiveObjects()
{
    return LiveCount.load();
}

void Install(const std::shared_ptr<TShell>& Model)
{
    SetShellWindowsFactory([Model] {
        ++Model->CollectionsCreated;
        return Make<TShellWindows>(Model);
    });
}

void Uninstall()
{
    SetShellWindowsFactory(nullptr);
}

} // namespace fake_shell
