// The window classes of the bridge's hidden windows.
#pragma once

#include <windows.h>

// Registers ClassName for this module with WindowProc; a class that a window
// created earlier already registered is left as it is.
void RegisterWindowClass(const wchar_t* ClassName, WNDPROC WindowProc);
