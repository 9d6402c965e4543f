// The texts the bridge shows on its own before the service has sent any (the
// tray menu's first captions, the start-up greeting), the choice of the user's
// language for the greeting, and the swap of the tray pictures on a rebranded
// installation.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <array>
#include <string>
#include <string_view>

// The tray menu's captions before the service sends its own: 0 Open, 1 Quit,
// 2 Logout, 3 Disable unattended access.
extern const std::array<std::wstring_view, 4> MenuCaptions;

// The language index 0-15 of a language abbreviation such as "ITA" or "PTB";
// blanks around it and lower case do not matter; 0 (English) when none matches.
int LanguageIndexOf(std::wstring_view Abbreviation);

// The language index of the user's language abbreviation (LOCALE_SABBREVLANGNAME).
int GetUILanguageIndex();

// The greeting of a language index; English for an index outside 0-15.
std::wstring StartingTextFor(int LanguageIndex);

// The greeting in the user's language.
std::wstring GetStartingText();

// The program's icon resource Name at Size pixels, made from the nearest larger
// picture in the resource, so that a picture is never scaled up; null (with
// GetLastError) when the resource does not exist.
HICON LoadProgramIcon(const wchar_t* Name, int Size);

// Replaces images 0, 1, 2 and 4 of List with the program's main icon, at the
// list's own size; image 3 keeps its picture.
void RebrandTrayImages(HIMAGELIST List);
