#pragma once

#include "app/SystemInfo.h"

#include <cstdint>
#include <optional>
#include <string>

namespace pictor {

// Memory figures in bytes, 64-bit so machines with more than 4 GiB do not wrap.
struct TMemoryStatus {
    std::uint64_t TotalPhys = 0, AvailPhys = 0;
    std::uint64_t TotalVirtual = 0, AvailVirtual = 0;
};

// Builds the figures from sysinfo's counts (each in units of memUnit bytes). Physical memory
// available is free plus buffer memory (reclaimable); virtual memory is RAM plus swap, its
// available part the available RAM plus free swap. Products saturate instead of wrapping.
TMemoryStatus MemoryStatusFromCounts(std::uint64_t totalRam, std::uint64_t freeRam,
                                     std::uint64_t bufferRam, std::uint64_t totalSwap,
                                     std::uint64_t freeSwap, std::uint32_t memUnit);
// The live figures of this machine (all zero when sysinfo fails).
TMemoryStatus ReadMemoryStatus();

// "物理メモリ      1,234 KB" and "仮想メモリ      1,234 KB": total bytes shown in KB.
std::string PhysicalTotalText(std::uint64_t total);
std::string VirtualTotalText(std::uint64_t total);
// Share in use, in percent, rounded to an integer (halves away from zero); 0 for total 0.
long long MemoryUsePercent(std::uint64_t total, std::uint64_t avail);
// "41% ( 217,088 KB使用)": the share in use and the bytes in use shown in KB.
std::string MemoryUsedText(std::uint64_t total, std::uint64_t avail);

// A progress bar holds int; large byte counts are scaled down by a power of two, keeping the
// ratio, until the maximum fits.
struct TProgressRange {
    int Maximum = 0, Position = 0;
};
TProgressRange MemoryProgress(std::uint64_t total, std::uint64_t avail);

// The dialog's texts about the program.
struct TAboutTexts {
    std::string Name;             // program file name without folder and extension
    std::string Version;          // "製品バージョン　" + version
    std::string Credit1, Credit2; // the two credit lines
};
// Without a version the version and credit lines keep the dialog's design texts.
TAboutTexts AboutTexts(const std::string& programPath, const std::optional<std::string>& version);
// The design texts of the version and credit lines.
TAboutTexts DesignAboutTexts();
// The version compiled into the program.
std::string ProgramVersion();

// "Linux Version 6.1  (Build 12)" (two spaces before the parenthesis).
std::string OsVersionText(const std::string& osName, const TOsVersion& version);
// The running kernel's name as uname reports it ("Linux" when that fails).
std::string ReadOsName();

// The program's home page.
extern const char* const HomePageUrl;

} // namespace pictor
