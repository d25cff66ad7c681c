#pragma once

// The entry points of the four libraries, implemented once; each shared object forwards its
// prefixed exports here with its kind (ArchiverExports.h). Every function catches everything,
// runs libarchive in UTF-8 and - except the few that only read settings - refuses to run while
// another call of the same library is busy (ARC_ERROR_ALREADY_RUNNING, or the failure value of
// its result type).

#include "ArcKind.h"
#include "ArchiverExtras.h"

namespace pictor::arc::api {

int Command(TArcKind kind, ARC_HWND owner, const char* cmdLine, char* output, ARC_DWORD size);
uint16_t GetVersion(TArcKind kind);
uint16_t GetSubVersion(TArcKind kind);
ARC_BOOL GetRunning(TArcKind kind);
ARC_BOOL GetBackGroundMode(TArcKind kind);
ARC_BOOL SetBackGroundMode(TArcKind kind, ARC_BOOL mode);
ARC_BOOL GetCursorMode(TArcKind kind);
ARC_BOOL SetCursorMode(TArcKind kind, ARC_BOOL mode);
uint16_t GetCursorInterval(TArcKind kind);
ARC_BOOL SetCursorInterval(TArcKind kind, uint16_t interval);
ARC_BOOL CheckArchive(TArcKind kind, const char* path, int mode);
int GetFileCount(TArcKind kind, const char* path);
ARC_BOOL ConfigDialog(TArcKind kind, ARC_HWND owner, char* options, int mode);
ARC_BOOL QueryFunctionList(TArcKind kind, int function);
ARC_BOOL SetOwnerWindow(TArcKind kind, ARC_HWND owner);
ARC_BOOL ClearOwnerWindow(TArcKind kind);
ARC_BOOL SetOwnerWindowEx(TArcKind kind, ARC_HWND owner, TArcProgressProc proc);
ARC_BOOL KillOwnerWindowEx(TArcKind kind, ARC_HWND owner);

HARC OpenArchive(TArcKind kind, ARC_HWND owner, const char* path, ARC_DWORD mode);
int CloseArchive(TArcKind kind, HARC arc);
int FindFirst(TArcKind kind, HARC arc, const char* wildcard, INDIVIDUALINFO* info);
int FindNext(TArcKind kind, HARC arc, INDIVIDUALINFO* info);

int GetArcFileName(TArcKind kind, HARC arc, char* buffer, int size);
ARC_DWORD GetArcFileSize(TArcKind kind, HARC arc);
ARC_DWORD GetArcOriginalSize(TArcKind kind, HARC arc);
ARC_DWORD GetArcCompressedSize(TArcKind kind, HARC arc);
ARC_BOOL GetArcOriginalSizeEx(TArcKind kind, HARC arc, uint64_t* size);
ARC_BOOL GetArcCompressedSizeEx(TArcKind kind, HARC arc, uint64_t* size);
uint16_t GetArcRatio(TArcKind kind, HARC arc);
uint16_t GetArcDate(TArcKind kind, HARC arc);
uint16_t GetArcTime(TArcKind kind, HARC arc);
unsigned GetArcOSType(TArcKind kind, HARC arc);
int IsSFXFile(TArcKind kind, HARC arc);
ARC_BOOL GetArcWriteTimeEx(TArcKind kind, HARC arc, TArcFileTime* time);
ARC_BOOL GetArcCreateTimeEx(TArcKind kind, HARC arc, TArcFileTime* time);
ARC_BOOL GetArcAccessTimeEx(TArcKind kind, HARC arc, TArcFileTime* time);

int GetFileName(TArcKind kind, HARC arc, char* buffer, int size);
int GetMethod(TArcKind kind, HARC arc, char* buffer, int size);
ARC_DWORD GetOriginalSize(TArcKind kind, HARC arc);
ARC_DWORD GetCompressedSize(TArcKind kind, HARC arc);
ARC_BOOL GetOriginalSizeEx(TArcKind kind, HARC arc, uint64_t* size);
ARC_BOOL GetCompressedSizeEx(TArcKind kind, HARC arc, uint64_t* size);
uint16_t GetRatio(TArcKind kind, HARC arc);
uint16_t GetDate(TArcKind kind, HARC arc);
uint16_t GetTime(TArcKind kind, HARC arc);
ARC_DWORD GetCRC(TArcKind kind, HARC arc);
int GetAttribute(TArcKind kind, HARC arc);
unsigned GetOSType(TArcKind kind, HARC arc);
ARC_DWORD GetWriteTime(TArcKind kind, HARC arc);
ARC_DWORD GetCreateTime(TArcKind kind, HARC arc);
ARC_DWORD GetAccessTime(TArcKind kind, HARC arc);
ARC_BOOL GetWriteTimeEx(TArcKind kind, HARC arc, TArcFileTime* time);
ARC_BOOL GetCreateTimeEx(TArcKind kind, HARC arc, TArcFileTime* time);
ARC_BOOL GetAccessTimeEx(TArcKind kind, HARC arc, TArcFileTime* time);

// Function numbers of QueryFunctionList (see README.md).
enum TFunctionNumber : int {
    kFnCommand = 0,
    kFnGetVersion = 1,
    kFnGetCursorInterval = 2,
    kFnSetCursorInterval = 3,
    kFnGetBackGroundMode = 4,
    kFnSetBackGroundMode = 5,
    kFnGetCursorMode = 6,
    kFnSetCursorMode = 7,
    kFnGetRunning = 8,
    kFnCheckArchive = 16,
    kFnConfigDialog = 17,
    kFnGetFileCount = 18,
    kFnQueryFunctionList = 19,
    kFnOpenArchive = 23,
    kFnCloseArchive = 24,
    kFnFindFirst = 25,
    kFnFindNext = 26,
    kFnSetOwnerWindow = 31,
    kFnClearOwnerWindow = 32,
    kFnSetOwnerWindowEx = 33,
    kFnKillOwnerWindowEx = 34,
    kFnGetArcFileName = 40,
    kFnGetArcFileSize = 41,
    kFnGetArcOriginalSize = 42,
    kFnGetArcCompressedSize = 43,
    kFnGetArcRatio = 44,
    kFnGetArcDate = 45,
    kFnGetArcTime = 46,
    kFnGetArcOSType = 47,
    kFnIsSFXFile = 48,
    kFnGetArcWriteTimeEx = 49,
    kFnGetArcCreateTimeEx = 50,
    kFnGetArcAccessTimeEx = 51,
    kFnGetArcOriginalSizeEx = 53,
    kFnGetArcCompressedSizeEx = 54,
    kFnGetFileName = 57,
    kFnGetOriginalSize = 58,
    kFnGetCompressedSize = 59,
    kFnGetRatio = 60,
    kFnGetDate = 61,
    kFnGetTime = 62,
    kFnGetCRC = 63,
    kFnGetAttribute = 64,
    kFnGetOSType = 65,
    kFnGetMethod = 66,
    kFnGetWriteTime = 67,
    kFnGetCreateTime = 68,
    kFnGetAccessTime = 69,
    kFnGetWriteTimeEx = 70,
    kFnGetCreateTimeEx = 71,
    kFnGetAccessTimeEx = 72,
    kFnGetOriginalSizeEx = 75,
    kFnGetCompressedSizeEx = 76,
    kFnGetSubVersion = 80,
};

} // namespace pictor::arc::api
