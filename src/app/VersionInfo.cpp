#include "app/VersionInfo.h"

#include "core/NumberFormat.h"
#include "core/PathRules.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <sys/sysinfo.h>
#include <sys/utsname.h>

namespace pictor {

const char* const HomePageUrl = "https://pictor.example.org/";

namespace {

std::uint64_t SaturatingMul(std::uint64_t a, std::uint64_t b) {
    std::uint64_t r;
    return __builtin_mul_overflow(a, b, &r) ? UINT64_MAX : r;
}

std::uint64_t SaturatingAdd(std::uint64_t a, std::uint64_t b) {
    std::uint64_t r;
    return __builtin_add_overflow(a, b, &r) ? UINT64_MAX : r;
}

std::uint64_t Used(std::uint64_t total, std::uint64_t avail) {
    return total > avail ? total - avail : 0;
}

std::string TotalText(const char* picture, std::uint64_t total) {
    return FormatFloat(picture, static_cast<long double>(total) / 1024) + " KB";
}

} // namespace

TMemoryStatus MemoryStatusFromCounts(std::uint64_t totalRam, std::uint64_t freeRam,
                                     std::uint64_t bufferRam, std::uint64_t totalSwap,
                                     std::uint64_t freeSwap, std::uint32_t memUnit) {
    // Kernels before 2.3.23 report 0 for bytes.
    const std::uint64_t unit = memUnit == 0 ? 1 : memUnit;
    TMemoryStatus s;
    s.TotalPhys = SaturatingMul(totalRam, unit);
    s.AvailPhys = std::min(SaturatingMul(SaturatingAdd(freeRam, bufferRam), unit), s.TotalPhys);
    s.TotalVirtual = SaturatingAdd(s.TotalPhys, SaturatingMul(totalSwap, unit));
    s.AvailVirtual =
        std::min(SaturatingAdd(s.AvailPhys, SaturatingMul(freeSwap, unit)), s.TotalVirtual);
    return s;
}

TMemoryStatus ReadMemoryStatus() {
    struct sysinfo info {};
    if (::sysinfo(&info) != 0) return {};
    return MemoryStatusFromCounts(info.totalram, info.freeram, info.bufferram, info.totalswap,
                                  info.freeswap, info.mem_unit);
}

std::string PhysicalTotalText(std::uint64_t total) {
    return TotalText("物理メモリ      #,##0", total);
}

std::string VirtualTotalText(std::uint64_t total) {
    return TotalText("仮想メモリ      #,##0", total);
}

long long MemoryUsePercent(std::uint64_t total, std::uint64_t avail) {
    if (total == 0) return 0;
    // long double holds every 64-bit count exactly.
    const long double share =
        static_cast<long double>(Used(total, avail)) / static_cast<long double>(total) * 100;
    return std::llround(share);
}

std::string MemoryUsedText(std::uint64_t total, std::uint64_t avail) {
    return FormatFloat("##%", static_cast<long double>(MemoryUsePercent(total, avail))) + " ( " +
           FormatFloat("#,##0", static_cast<long double>(Used(total, avail)) / 1024) + " KB使用)";
}

TProgressRange MemoryProgress(std::uint64_t total, std::uint64_t avail) {
    std::uint64_t used = Used(total, avail);
    while (total > static_cast<std::uint64_t>(INT_MAX)) {
        total >>= 1;
        used >>= 1;
    }
    return {static_cast<int>(total), static_cast<int>(used)};
}

TAboutTexts DesignAboutTexts() {
    return {"", "製品バージョン", "", ""};
}

TAboutTexts AboutTexts(const std::string& programPath, const std::optional<std::string>& version) {
    TAboutTexts texts = DesignAboutTexts();
    const std::string file = ExtractFileName(programPath);
    texts.Name = file.substr(0, file.size() - ExtractFileExt(file).size());
    if (version) {
        texts.Version = "製品バージョン　" + *version; // the gap is one full-width space
        texts.Credit1 = "Copyright (C) 2026 Pictor 開発チーム";
        texts.Credit2 = "JPEG: libjpeg-turbo / GUI: Qt 6";
    }
    return texts;
}

std::string ProgramVersion() {
    return PICTOR_VERSION;
}

std::string OsVersionText(const std::string& osName, const TOsVersion& version) {
    return osName + " Version " + std::to_string(version.Major) + "." +
           std::to_string(version.Minor) + "  (Build " + std::to_string(version.Build) + ")";
}

std::string ReadOsName() {
    struct utsname u {};
    if (::uname(&u) != 0 || u.sysname[0] == '\0') return "Linux";
    return std::string(u.sysname, strnlen(u.sysname, sizeof u.sysname));
}

} // namespace pictor
