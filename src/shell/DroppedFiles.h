// The names in a CF_HDROP list, as the clipboard and the shell's selections carry them.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <string>

UINT DroppedFileCount(HDROP Drop);

// The whole name, however long: a path cut at MAX_PATH would name another file.
// Empty past the end of the list.
std::wstring DroppedFileName(HDROP Drop, UINT Index);
