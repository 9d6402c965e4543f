// A stand-in for the shell's window collection and the views behind it. Wine 8
// implements neither IShellWindows.Count nor Item, so Explorer windows cannot be
// enumerated there; the detector's lookups are run against this fake instead,
// installed through SetShellWindowsFactory. Item ID lists and display names still
// come from Wine's real shell.
#pragma once

#include <windows.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace fake_shell
{

// The parsing name of the Computer folder, a virtual folder; Wine's shell writes
// the GUID in small letters.
inline const wchar_t* const ComputerFolder = L"::{20d04fe0-3aea-1069-a2d8-08002b30309d}";

// How the fake view hands out the ID list of the folder it shows.
enum class TFolderOffer
{
    PersistFolder2,
    PersistIDList,
    FailingPersistFolder2ThenIDList,
    Neither,
};

// One entry of the collection: a shell window, its selection and its folder.
struct TShellWindow
{
    HWND Window = nullptr;
    std::vector<std::wstring> Selection;
    // A parsing name given to SHParseDisplayName when the folder's ID list is asked for.
    std::wstring Folder;
    TFolderOffer FolderOffer = TFolderOffer::PersistFolder2;
    // How long each lookup spends at this window's view, to make a detection slow.
    std::chrono::milliseconds Delay{0};
};

struct TShell
{
    std::vector<TShellWindow> Entries;
    // What FindWindowSW(SWC_DESKTOP) finds; no desktop when Window is null.
    TShellWindow Desktop;
    std::atomic<int> CollectionsCreated{0};
    std::atomic<int> FolderListsAsked{0};
};

// Fake COM objects (collections, entries, browsers, views, data objects and the
// owners of storage media) alive right now; 0 once everything handed out is released.
int LiveObjects();

// Installs a factory that gives a new fake collection over Model for every lookup.
void Install(const std::shared_ptr<TShell>& Model);

// Restores the shell's own collection.
void Uninstall();

} // namespace fake_shell
