#pragma once

// The calling convention shared by the four archiver libraries (UNLHA32.so, UnZip32.so,
// Cab32.so, Tar32.so) and the program that loads them. Plain C types only, so either side can
// be rebuilt alone. Every export carries its library's prefix ("Unlha", "UnZip", "Cab", "Tar");
// the command function is the bare prefix. Texts are zero-terminated; member names come out in
// UTF-8 with '/' separators. No function lets an exception or a signal cross the boundary.

#include <cstddef>
#include <cstdint>

extern "C" {

typedef void* ARC_HWND;      // owner window (unused on Linux; the program passes its own)
typedef void* HARC;          // an open archive; null on failure
typedef int ARC_BOOL;        // nonzero = true
typedef uint32_t ARC_DWORD;

// The member record FindFirst and FindNext fill: 558 bytes, packed.
#pragma pack(push, 1)
struct INDIVIDUALINFO {
    ARC_DWORD dwOriginalSize;   // 0
    ARC_DWORD dwCompressedSize; // 4
    ARC_DWORD dwCRC;            // 8
    ARC_DWORD uFlag;            // 12
    ARC_DWORD uOSType;          // 16
    uint16_t wRatio;            // 20: compressed / original in per mille
    uint16_t wDate;             // 22: MS-DOS date
    uint16_t wTime;             // 24: MS-DOS time
    char szFileName[513];       // 26
    char dummy1[3];             // 539
    char szAttribute[8];        // 542
    char szMode[8];             // 550: method text
};
#pragma pack(pop)
static_assert(sizeof(INDIVIDUALINFO) == 558, "the member record is 558 bytes");
static_assert(offsetof(INDIVIDUALINFO, szFileName) == 26);
static_assert(offsetof(INDIVIDUALINFO, szAttribute) == 542);
static_assert(offsetof(INDIVIDUALINFO, szMode) == 550);

// Signatures of the entry points the program calls.
typedef int (*TArcCommandFn)(ARC_HWND owner, const char* cmdLine, char* output, ARC_DWORD size);
typedef ARC_BOOL (*TArcCheckArchiveFn)(const char* path, int mode);
typedef HARC (*TArcOpenArchiveFn)(ARC_HWND owner, const char* path, ARC_DWORD mode);
typedef int (*TArcCloseArchiveFn)(HARC arc);
typedef int (*TArcFindFirstFn)(HARC arc, const char* wildcard, INDIVIDUALINFO* info);
typedef int (*TArcFindNextFn)(HARC arc, INDIVIDUALINFO* info);

} // extern "C"

// Result codes of the command function and the find functions (0 = success; FindFirst and
// FindNext give -1 when no member is left).
enum : int {
    ARC_ERROR_DISK_SPACE = 0x8005,
    ARC_ERROR_FILE_CRC = 0x800C,
    ARC_ERROR_HEADER_CRC = 0x8016,
    ARC_ERROR_ARC_FILE_OPEN = 0x8018,
    ARC_ERROR_NOT_ARC_FILE = 0x8019,
    ARC_ERROR_ALREADY_RUNNING = 0x801F,
    ARC_ERROR_USER_CANCEL = 0x8020,
    ARC_ERROR_CANNOT_WRITE = 0x8006,
    ARC_ERROR_COMMAND_NAME = 0x8012,
    ARC_ERROR_MORE_HEAP_MEMORY = 0x8013,
    ARC_ERROR_CANNOT_READ = 0x8021,
    ARC_ERROR_HANDLE = 0x8022,
    ARC_ERROR_NOT_SUPPORTED = 0x8023,
};
