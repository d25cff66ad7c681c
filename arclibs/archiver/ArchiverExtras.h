#pragma once

// Types of the entry points beyond those in archives/ArchiverApi.h (which the program calls).
// Same conventions: plain C, packed, zero-terminated UTF-8 texts.

#include "archives/ArchiverApi.h"

#include <cstdint>

extern "C" {

#pragma pack(push, 1)
// A Windows FILETIME: 100-nanosecond steps since 1601-01-01 UTC, low half first.
struct TArcFileTime {
    ARC_DWORD dwLowDateTime;
    ARC_DWORD dwHighDateTime;
};

// What the progress callback set with SetOwnerWindowEx receives about a member.
struct TArcProgressInfo {
    ARC_DWORD dwFileSize;       // the member's size (clamped to 32 bits)
    ARC_DWORD dwWriteSize;      // bytes written by the command so far (clamped)
    char szSourceFileName[513]; // the member's name
    char dummy1[3];
    char szDestFileName[513]; // the file it becomes
    char dummy[3];
};
#pragma pack(pop)

// Called with state ARC_EXTRACT_BEGIN before and ARC_EXTRACT_END after each member an
// extraction handles; returning 0 cancels the command (ARC_ERROR_USER_CANCEL). msg is 0.
typedef ARC_BOOL (*TArcProgressProc)(ARC_HWND owner, unsigned msg, unsigned state, void* info);

} // extern "C"

enum : unsigned { ARC_EXTRACT_BEGIN = 0, ARC_EXTRACT_END = 2 };
