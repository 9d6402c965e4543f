#include "shell/DroppedFiles.h"

UINT DroppedFileCount(HDROP Drop)
{
    return DragQueryFileW(Drop, 0xFFFFFFFF, nullptr, 0);
}

std::wstring DroppedFileName(HDROP Drop, UINT Index)
{
    UINT length = DragQueryFileW(Drop, Index, nullptr, 0);
    std::wstring name(length + 1, L'\0');
    name.resize(DragQueryFileW(Drop, Index, name.data(), length + 1));
    return name;
}
