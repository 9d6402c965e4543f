// The bare programs the bridge is measured against. Each runs as a process of
// its own (a mode of bench.exe) and serves until the benchmark ends it.
#pragma once

#include <string>

namespace bench
{

// A named-pipe echo server of the bridge's shape (a listener that hands each
// connection to one worker, message-type instances, 4096-byte buffers and chunks)
// that answers each framed request with the same frame. Never returns.
[[noreturn]] void RunBareEcho(const std::wstring& PipeName);

// A hidden window with one icon in the tray, waiting in its message loop. Returns
// the loop's exit code.
int RunBareTray();

} // namespace bench
