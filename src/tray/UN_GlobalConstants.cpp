#include "tray/UN_GlobalConstants.h"

#include "base/WinError.h"
#include "base/WinHandle.h"
#include "startup/GF_SupportFunctions.h"

namespace
{

struct TLanguageCode
{
    std::wstring_view Code;
    int Index;
};

// In the order they are tried; no two codes can match the same abbreviation.
constexpr TLanguageCode LanguageCodes[] = {
    {L"IT", 1},   {L"FR", 2},   {L"DE", 3},   {L"PLK", 4},  {L"NL", 5},  {L"PTB", 6},
    {L"PTG", 7},  {L"RUS", 8},  {L"UKR", 8},  {L"KOR", 9},  {L"CHT", 10}, {L"CHS", 11},
    {L"HEB", 12}, {L"PER", 13}, {L"FAS", 13}, {L"ES", 14},  {L"TR", 15},
};

constexpr std::wstring_view StartingTexts[] = {
    L"Starting application",
    L"Avvio applicazione",
    L"D\u00e9marrage de l'application",
    L"Anwendung starten",
    L"Uruchamianie aplikacji",
    L"Applicatie starten",
    L"Iniciando aplicativo",
    L"Iniciando aplicativo",
    L"Starting application",
    L"Starting application",
    L"Starting application",
    L"\u958b\u59cb\u7533\u8acb",
    L"Starting application",
    L"Starting application",
    L"Aplicaci\u00f3n de inicio",
    L"Uygulamay\u0131 ba\u015flatma",
};

std::wstring UserLanguageAbbreviation()
{
    wchar_t buffer[20] = {};
    if (GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SABBREVLANGNAME, buffer, 20) == 0)
        return {};
    return buffer;
}

} // namespace

const std::array<std::wstring_view, 4> MenuCaptions = {L"Open", L"Quit", L"Logout", L"Disable unattended access"};

int LanguageIndexOf(std::wstring_view Abbreviation)
{
    std::wstring text = TrimControlAndBlanks(Abbreviation);
    if (!text.empty())
        CharUpperBuffW(text.data(), static_cast<DWORD>(text.size()));
    int index = 0;
    for (const TLanguageCode& language : LanguageCodes)
        if (text.starts_with(language.Code))
            index = language.Index;
    return index;
}

int GetUILanguageIndex()
{
    return LanguageIndexOf(UserLanguageAbbreviation());
}

std::wstring StartingTextFor(int LanguageIndex)
{
    if (LanguageIndex < 0 || LanguageIndex >= static_cast<int>(std::size(StartingTexts)))
        LanguageIndex = 0;
    return std::wstring(StartingTexts[LanguageIndex]);
}

std::wstring GetStartingText()
{
    return StartingTextFor(GetUILanguageIndex());
}

HICON LoadProgramIcon(const wchar_t* Name, int Size)
{
    // Comctl32 version 6 (the manifest's) has LoadIconWithScaleDown; the import
    // library does not, and a test program without the manifest gets version 5.
    using TLoadIconWithScaleDown = HRESULT(WINAPI*)(HINSTANCE, PCWSTR, int, int, HICON*);
    static const auto loadScaledDown = reinterpret_cast<TLoadIconWithScaleDown>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"comctl32.dll"), "LoadIconWithScaleDown")));
    if (loadScaledDown != nullptr)
    {
        HICON icon = nullptr;
        const HRESULT result = loadScaledDown(GetModuleHandleW(nullptr), Name, Size, Size, &icon);
        if (SUCCEEDED(result))
            return icon;
        SetLastError(HRESULT_CODE(result));
        return nullptr;
    }
    return static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), Name, IMAGE_ICON, Size, Size, LR_DEFAULTCOLOR));
}

void RebrandTrayImages(HIMAGELIST List)
{
    int width = 0;
    int height = 0;
    Check(ImageList_GetIconSize(List, &width, &height), "ImageList_GetIconSize");
    TUniqueIcon mainIcon(LoadProgramIcon(L"MAINICON", width));
    if (!mainIcon)
        ThrowLastError("LoadIconWithScaleDown");
    for (int index : {0, 1, 2, 4})
        if (ImageList_ReplaceIcon(List, index, mainIcon.get()) == -1)
            ThrowLastError("ImageList_ReplaceIcon");
}
