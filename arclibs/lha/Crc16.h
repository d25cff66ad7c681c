#pragma once

#include <cstddef>
#include <cstdint>

namespace pictor::lha {

// The CRC-16 of LHA data and headers: reflected polynomial 0xA001, start value 0, no final
// inversion ("123456789" gives 0xBB3D). Feed pieces by passing the previous result as crc.
uint16_t Crc16(const void* data, size_t size, uint16_t crc = 0);

} // namespace pictor::lha
