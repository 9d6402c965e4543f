#include "startup/UN_SystemFolders.h"

#include "base/WinHandle.h"
#include "startup/GF_SupportFunctions.h"

#include <windows.h>
#include <shlobj.h>

namespace
{

std::wstring FullPathName(std::wstring_view path)
{
    std::wstring input(path);
    DWORD needed = GetFullPathNameW(input.c_str(), 0, nullptr, nullptr);
    if (needed == 0)
        return input;
    std::wstring result(needed, L'\0');
    DWORD length = GetFullPathNameW(input.c_str(), needed, result.data(), nullptr);
    if (length == 0 || length >= needed)
        return input;
    result.resize(length);
    return result;
}

// "C:" for a drive path, "\\server\share" for a network path, empty otherwise.
std::wstring_view DrivePart(std::wstring_view path)
{
    if (path.size() >= 2 && path[1] == L':')
        return path.substr(0, 2);
    if (path.size() >= 2 && path[0] == L'\\' && path[1] == L'\\')
    {
        std::size_t server = path.find(L'\\', 2);
        if (server == std::wstring_view::npos)
            return path;
        std::size_t share = path.find(L'\\', server + 1);
        return path.substr(0, share == std::wstring_view::npos ? path.size() : share);
    }
    return {};
}

std::wstring WrapSpecialFolder(int csidl) noexcept
{
    try
    {
        return GetSpecialFolder(csidl);
    }
    catch (...)
    {
        return {};
    }
}

} // namespace

std::wstring GetSpecialFolder(int Csidl)
{
    wchar_t buffer[MAX_PATH + 1] = {};
    if (!SHGetSpecialFolderPathW(nullptr, buffer, Csidl, FALSE))
        return {};
    std::wstring path(buffer);
    if (TrimControlAndBlanks(path).empty())
        return {};
    return path + L'\\';
}

std::wstring GetCommonAppDataFolder() { return WrapSpecialFolder(CSIDL_COMMON_APPDATA); }
std::wstring GetLocalAppDataFolder() { return WrapSpecialFolder(CSIDL_LOCAL_APPDATA); }
std::wstring GetDesktopFolder() { return WrapSpecialFolder(CSIDL_DESKTOPDIRECTORY); }

std::wstring GetTempFolder()
{
    wchar_t buffer[MAX_PATH + 1] = {};
    DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
    if (length == 0 || length > MAX_PATH)
        return {};
    std::wstring path(buffer, length);
    if (path.back() != L'\\')
        path += L'\\';
    return ExpandLongPath(path);
}

std::wstring ExpandLongPath(std::wstring_view Path)
{
    std::wstring rest = FullPathName(Path);
    std::wstring result(DrivePart(rest));
    if (rest.size() <= result.size())
        return result;
    std::size_t consumed = result.size();
    if (rest[consumed] == L'\\')
    {
        result += L'\\';
        ++consumed;
    }
    rest.erase(0, consumed);

    while (!rest.empty())
    {
        std::size_t slash = rest.find(L'\\');
        std::wstring component = rest.substr(0, slash);
        WIN32_FIND_DATAW found{};
        TUniqueFind find(FindFirstFileW((result + component).c_str(), &found));
        if (!find || component.empty())
        {
            result += rest;
            break;
        }
        result += found.cFileName;
        if (slash == std::wstring::npos)
            break;
        result += L'\\';
        rest.erase(0, slash + 1);
    }
    return result;
}
