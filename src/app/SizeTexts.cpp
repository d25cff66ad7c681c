#include "app/SizeTexts.h"

#include "core/NumberFormat.h"

#include <cmath>

namespace pictor {

std::string FolderSizeText(std::uint64_t totalSize, std::uint64_t freeSpace) {
    // Whole kilobytes, exact halves to the even neighbour (1,048,064 bytes is 1024 KB).
    const long double kb = std::nearbyint(static_cast<long double>(totalSize) / 1024.0L);
    const std::string size =
        kb < 1024 ? FormatFloat("#,##0\"KB\"", kb) : FormatFloat("#,##0.00\"MB\"", kb / 1024.0L);
    // Free space in 64 bits: volumes of several terabytes overflow 32-bit kilobyte counts.
    const std::uint64_t freeKb = freeSpace / 1024;
    if (freeKb > 1024) return size + " (空ディスク領域 :" + std::to_string(freeKb / 1024) + "MB)";
    return size + " (空ディスク領域 :" + std::to_string(freeKb) + "KB)";
}

std::string SelectionSizeText(std::uint64_t s) {
    if (s < 1024) return std::to_string(s) + "バイト";
    const long double kb = static_cast<long double>(s) / 1024.0L;
    if (s < 16384) return FormatFloat("###.##\"KB\"", kb);
    if (s < 131072) return FormatFloat("###.#\"KB\"", kb);
    if (s < 1048576) return FormatFloat("#,###\"KB\"", kb);
    return FormatFloat("###,###.##\"MB\"", static_cast<long double>(s) / 1048576.0L);
}

std::string ObjectCountText(int count) {
    return std::to_string(count) + " 個のオブジェクト";
}

std::string SelectedCountText(int count) {
    return std::to_string(count) + " 個のオブジェクトを選択";
}

} // namespace pictor
