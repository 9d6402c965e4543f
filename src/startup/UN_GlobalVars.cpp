#include "startup/UN_GlobalVars.h"

std::unique_ptr<TTxtFileLog> _Log;
std::wstring _AppVersion;
std::wstring _AppName;
std::wstring _MasterPidText;
int _MasterPid = 0;
std::wstring _HelloMsg;
bool _Rebranded = false;

void Log(std::wstring_view Text)
{
    if (_Log)
        _Log->Log(Text);
}
