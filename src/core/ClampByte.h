#pragma once

#include <cstdint>

namespace pictor {

// Limits an integer to the range of one colour channel.
constexpr uint8_t ClampByte(int value) {
    return value < 0 ? 0 : value > 255 ? 255 : static_cast<uint8_t>(value);
}

} // namespace pictor
