// The process-wide settings, filled once from the command line on the main thread
// before any other thread reads them, and the one log of the process.
#pragma once

#include "startup/UN_TxtFileLog.h"

#include <memory>
#include <string>

extern std::unique_ptr<TTxtFileLog> _Log;
extern std::wstring _AppVersion;
extern std::wstring _AppName;
extern std::wstring _MasterPidText;
extern int _MasterPid;
extern std::wstring _HelloMsg;
extern bool _Rebranded;

// Writes one line to _Log; does nothing before the log exists (as in unit tests
// that never start the bridge).
void Log(std::wstring_view Text);
