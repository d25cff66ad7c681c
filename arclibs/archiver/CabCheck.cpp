#include "CabCheck.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>
#include <vector>

namespace pictor::arc {

namespace {

constexpr unsigned kMaxUncompressed = 0x8000;      // one CFDATA block's output
constexpr unsigned kMaxCompressed = 0x8000 + 6144; // the largest block a compressor makes
constexpr int64_t kSearch = 128 * 1024;            // where a self-extractor keeps its cabinet

uint16_t Le16(const uint8_t* p) {
    return uint16_t(p[0] | p[1] << 8);
}
uint32_t Le32(const uint8_t* p) {
    return uint32_t(p[0] | p[1] << 8 | p[2] << 16) | uint32_t(p[3]) << 24;
}

bool ReadAt(int fd, int64_t at, size_t size, uint8_t* out) {
    size_t got = 0;
    while (got < size) {
        const ssize_t n = ::pread(fd, out + got, size - got, at + int64_t(got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        got += size_t(n);
    }
    return true;
}

// Checks the cabinet whose header starts at `at`; empty when fine or not a header at all.
std::string CheckCabinet(int fd, int64_t fileSize, int64_t at, int64_t& blockBudget) {
    uint8_t h[36];
    if (at + 36 > fileSize || !ReadAt(fd, at, sizeof h, h)) return {};
    const unsigned folders = Le16(h + 26), flags = Le16(h + 30);
    int64_t pos = at + 36;
    unsigned folderReserve = 0, dataReserve = 0;
    if (flags & 0x0004) { // reserve fields present
        uint8_t r[4];
        if (pos + 4 > fileSize || !ReadAt(fd, pos, 4, r)) return {};
        folderReserve = r[2];
        dataReserve = r[3];
        pos += 4 + Le16(r);
    }
    // Names of the previous and next cabinets and disks: zero-terminated, at most 255 bytes.
    const int strings = ((flags & 0x0001) ? 2 : 0) + ((flags & 0x0002) ? 2 : 0);
    for (int s = 0; s < strings; ++s) {
        uint8_t buf[256];
        const size_t n = size_t(std::min<int64_t>(sizeof buf, fileSize - pos));
        if (n == 0 || !ReadAt(fd, pos, n, buf)) return {};
        const void* nul = std::memchr(buf, 0, n);
        if (!nul) return {};
        pos += static_cast<const uint8_t*>(nul) - buf + 1;
    }
    for (unsigned f = 0; f < folders; ++f) {
        uint8_t folder[8];
        if (pos + 8 > fileSize || !ReadAt(fd, pos, 8, folder)) return {};
        pos += 8 + folderReserve;
        int64_t block = at + Le32(folder);
        for (unsigned b = 0, blocks = Le16(folder + 4); b < blocks; ++b) {
            uint8_t d[8];
            if (block + 8 > fileSize || !ReadAt(fd, block, 8, d))
                break; // truncated: libarchive stops too
            if (--blockBudget < 0) return "CAB data blocks repeat";
            const unsigned packed = Le16(d + 4), unpacked = Le16(d + 6);
            if (unpacked > kMaxUncompressed || packed > kMaxCompressed)
                return "CAB data block larger than 32 KiB";
            block += 8 + dataReserve + packed;
        }
    }
    return {};
}

} // namespace

std::string CabDataBlockProblem(int fd, int64_t fileSize) {
    // Each block takes at least 8 bytes of the file; more than that means shared chains.
    int64_t budget = fileSize / 8 + 16;
    std::vector<uint8_t> head(size_t(std::min<int64_t>(fileSize, kSearch + 8)));
    if (head.empty() || !ReadAt(fd, 0, head.size(), head.data())) return {};
    for (size_t i = 0; i + 8 <= head.size(); ++i) {
        if (std::memcmp(head.data() + i, "MSCF\0\0\0\0", 8) != 0) continue;
        std::string why = CheckCabinet(fd, fileSize, int64_t(i), budget);
        if (!why.empty()) return why;
    }
    return {};
}

} // namespace pictor::arc
