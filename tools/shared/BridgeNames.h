// Where a running bridge is found from outside: its request pipe and its log.
#pragma once

#include <windows.h>

#include <string>

// "\\.\pipe\uxsvc_" and the bridge's pid.
std::wstring BridgePipeName(DWORD Pid);

// The bridge's log folder, created as the installer creates it (the bridge never
// does); ends with a backslash.
std::wstring EnsureBridgeLogFolder();

// Today's log file, which every bridge on the machine appends to.
std::wstring TodaysBridgeLogFile();

// That file as it stands, byte for byte, read with full sharing so that no
// bridge is kept from writing; empty when there is none.
std::string ReadTodaysBridgeLog();
