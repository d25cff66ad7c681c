#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace pictor::lha {

// Bits written most significant first: the first bit of the stream is bit 7 of byte 0.
class BitWriter {
public:
    // Appends the low `count` bits of value (count 0..32; value must have no higher bits).
    void Put(int count, uint32_t value) {
        FAcc = (FAcc << count) | value;
        FCount += count;
        if (FCount >= 32) {
            FCount -= 32;
            const auto w = uint32_t(FAcc >> FCount);
            const size_t at = FOut.size();
            FOut.resize(at + 4);
            FOut[at] = uint8_t(w >> 24);
            FOut[at + 1] = uint8_t(w >> 16);
            FOut[at + 2] = uint8_t(w >> 8);
            FOut[at + 3] = uint8_t(w);
        }
    }
    // Completes the last byte with zero bits.
    void PadToByte() {
        while (FCount >= 8) {
            FCount -= 8;
            FOut.push_back(uint8_t(FAcc >> FCount));
        }
        if (FCount > 0) FOut.push_back(uint8_t(FAcc << (8 - FCount)));
        FCount = 0;
    }
    // The whole bytes written so far; the caller may take and clear them.
    std::vector<uint8_t>& Bytes() { return FOut; }
    // Bits written but not yet in Bytes().
    int PendingBits() const { return FCount; }

private:
    std::vector<uint8_t> FOut;
    uint64_t FAcc = 0;
    int FCount = 0;
};

} // namespace pictor::lha
