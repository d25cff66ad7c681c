#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace pictor {

// Little-endian fields of the file formats we read. Callers check `at` against the data's
// size first; these do no checking of their own.
inline uint16_t U16(std::span<const uint8_t> d, size_t at) {
    return uint16_t(d[at] | d[at + 1] << 8);
}
inline uint32_t U32(std::span<const uint8_t> d, size_t at) {
    return uint32_t(d[at]) | uint32_t(d[at + 1]) << 8 | uint32_t(d[at + 2]) << 16 |
           uint32_t(d[at + 3]) << 24;
}
inline int32_t S32(std::span<const uint8_t> d, size_t at) {
    return int32_t(U32(d, at));
}
// Big-endian, as PNG chunks store their lengths.
inline uint32_t BigU32(std::span<const uint8_t> d, size_t at) {
    return uint32_t(d[at]) << 24 | uint32_t(d[at + 1]) << 16 | uint32_t(d[at + 2]) << 8 |
           uint32_t(d[at + 3]);
}

inline void Put16(std::vector<uint8_t>& out, size_t at, uint32_t v) {
    out[at] = uint8_t(v);
    out[at + 1] = uint8_t(v >> 8);
}
inline void Put32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + size_t(i)] = uint8_t(v >> (8 * i));
}

} // namespace pictor
