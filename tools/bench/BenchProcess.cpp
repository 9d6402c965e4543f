#include "BenchProcess.h"

#include <windows.h>

namespace bench
{

bool FileExists(const std::wstring& Path)
{
    return GetFileAttributesW(Path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

} // namespace bench
