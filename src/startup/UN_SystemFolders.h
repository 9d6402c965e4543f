// Paths of the shell's special folders and of the user's temporary folder.
// Safe on any thread: nothing here keeps state.
#pragma once

#include <string>
#include <string_view>

// The folder with that CSIDL, ending with a backslash; empty when the system
// gives no path. The folder is never created.
std::wstring GetSpecialFolder(int Csidl);

std::wstring GetCommonAppDataFolder();
std::wstring GetLocalAppDataFolder();
std::wstring GetDesktopFolder();

// The user's temporary folder in long-name form, ending with a backslash; empty
// when the system gives none.
std::wstring GetTempFolder();

// Path made absolute and rewritten component by component into the names that
// the file system stores; a tail that does not exist is kept as given.
std::wstring ExpandLongPath(std::wstring_view Path);
