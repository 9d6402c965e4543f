// The arguments a tool was started with.
#pragma once

#include <string>
#include <vector>

// The program's own command line split as Windows splits it, without the program's
// name. Raises when the command line cannot be split.
std::vector<std::wstring> CommandLineArguments();
