#include "lha/Crc16.h"

#include <array>

namespace pictor::lha {

namespace {

// Four tables so the inner loop takes four bytes per step (slicing); the member data of
// a big archive passes through here once, so it should not cost more than reading it.
struct Tables {
    std::array<std::array<uint16_t, 256>, 4> t{};
    constexpr Tables() {
        for (unsigned i = 0; i < 256; ++i) {
            unsigned c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xA001u : c >> 1;
            t[0][i] = uint16_t(c);
        }
        for (unsigned i = 0; i < 256; ++i)
            for (int s = 1; s < 4; ++s)
                t[s][i] = uint16_t((t[s - 1][i] >> 8) ^ t[0][t[s - 1][i] & 0xFF]);
    }
};
constexpr Tables kTables;

} // namespace

uint16_t Crc16(const void* data, size_t size, uint16_t crc) {
    const auto* p = static_cast<const uint8_t*>(data);
    const auto& t = kTables.t;
    unsigned c = crc;
    while (size >= 4) {
        c ^= unsigned(p[0]) | unsigned(p[1]) << 8;
        c = t[3][c & 0xFF] ^ t[2][c >> 8] ^ t[1][p[2]] ^ t[0][p[3]];
        p += 4;
        size -= 4;
    }
    while (size--) c = (c >> 8) ^ t[0][(c ^ *p++) & 0xFF];
    return uint16_t(c);
}

} // namespace pictor::lha
