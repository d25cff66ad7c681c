#pragma once

// Blend arithmetic of the composition dialog: every channel of the result is
//   ClampByte(trunc((1 - a) * H + a * O))  in extended precision,
// with O the picture's byte, H the second picture's byte and a = p / 10 held in single
// precision. Works on 24-bit rows; the dialog keeps its own row-pointer arrays and calls
// BlendRows, BlendImages is the bitmap convenience over the same kernel.

#include "core/Bitmap.h"

#include <cstdint>

namespace pictor {

// The weight of one blend, computed once per call. The kernel evaluates the formula exactly
// in 16-bit lanes: with a single-precision a every term of the extended sum is exact, so the
// result is H + floor(a * (O - H)), and a 2^-14 fixed-point multiplier (chosen here and
// checked against that floor for every difference -255..255) gives the same floor.
class TBlendWeight {
public:
    // p = 0..10 (the dialog's trackbar gives 1..9); raises Exception otherwise.
    explicit TBlendWeight(int p);

    int Priority() const { return FPriority; }
    float Alpha() const { return FAlpha; }
    // floor(a * d) == (Multiplier() * 4 * d) >> 16 for every d in -255..255.
    int16_t Multiplier() const { return FMultiplier; }

private:
    int FPriority;
    float FAlpha;
    int16_t FMultiplier;
};

// bytes = 3 * width bytes of one row: result[i] from object[i] and composite[i]. The
// channels need no distinction, so any byte count works. result may equal either input.
void BlendRow(const uint8_t* object, const uint8_t* composite, uint8_t* result, int64_t bytes,
              const TBlendWeight& weight);

// Rows 0..height-1, width pixels each; large jobs are spread over the cores (same bytes as
// one thread). Raises Exception for p outside 0..10.
void BlendRows(const uint8_t* const* objectRows, const uint8_t* const* compositeRows,
               uint8_t* const* resultRows, int width, int height, int p);

// A new 24-bit bitmap of object's size: object blended with composite at weight p. Either
// input of another format is converted to 24 bits first; a composite of another size is
// stretched to object's size (nearest pixel); an empty composite stands for the blank second
// picture, all black. No limit on the picture size beyond Bitmap's own.
Bitmap BlendImages(const Bitmap& object, const Bitmap& composite, int p);

} // namespace pictor
