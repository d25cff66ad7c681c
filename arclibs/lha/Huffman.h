#pragma once

#include <cstdint>
#include <span>

namespace pictor::lha {

// The longest code any -lh5- table may hold.
constexpr int kMaxCodeLength = 16;

// Code lengths of a Huffman code for the given symbol frequencies, at most maxLength bits.
// Unused symbols get 0. With two or more used symbols the code is complete (the Kraft sum is
// exactly 1), which the decoders insist on. With one used symbol it gets length 0: the caller
// sends the table's one-symbol form or gives it a partner. Returns the number of used symbols.
int BuildCodeLengths(std::span<const uint32_t> freq, std::span<uint8_t> lengths,
                     int maxLength = kMaxCodeLength);

// Canonical codes for the lengths: within a length, codes rise with the symbol number, and
// shorter codes take the numerically smaller prefixes. The lengths must be complete.
void AssignCanonicalCodes(std::span<const uint8_t> lengths, std::span<uint16_t> codes);

} // namespace pictor::lha
