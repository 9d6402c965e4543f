// The program's main file: the command-line switch reader and the start-up
// sequence that runs the bridge on the main thread until its main form closes.
#pragma once

#include <string>
#include <string_view>

// The value of switch Name on CommandLine (SwitchChar, Name, Separator, value),
// or Default when it is not there. Of two occurrences the first wins.
std::wstring GetSwitchValue(std::wstring_view CommandLine, std::wstring_view Name, std::wstring_view Default,
                            wchar_t SwitchChar = L'-', wchar_t Separator = L'=', wchar_t QuoteChar = L'"');

// The same on the process's own command line (GetCommandLineW).
std::wstring GetSwitchValue(std::wstring_view Name, std::wstring_view Default,
                            wchar_t SwitchChar = L'-', wchar_t Separator = L'=', wchar_t QuoteChar = L'"');

// Fills the settings from the process's command line, in the start-up order.
void ReadSettingsFromCommandLine();

// The whole start-up sequence; returns the process's exit code.
int RunBridge();
