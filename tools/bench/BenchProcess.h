// The processes the benchmark starts (the bridge and the bare programs, as
// TSiblingProcess) and the files it looks for.
#pragma once

#include "SiblingProcess.h"

#include <string>

namespace bench
{

bool FileExists(const std::wstring& Path);

} // namespace bench
