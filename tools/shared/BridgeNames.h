// Where a running bridge is found from outside: its request pipe and its log folder.
#pragma once

#include <windows.h>

#include <string>

// "\\.\pipe\uxsvc_" and the bridge's pid.
std::wstring BridgePipeName(DWORD Pid);

// The bridge's log folder, created as the installer creates it (the bridge never
// does); ends with a backslash.
std::wstring EnsureBridgeLogFolder();
