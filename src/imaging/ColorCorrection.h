#pragma once

// Colour correction arithmetic of the colour dialog: channel balance and lightness offsets,
// contrast and gamma, over 24-bit rows (B, G, R bytes). The dialog keeps its own row-pointer
// arrays and calls CorrectRows; the bitmap functions are conveniences over the same kernel.

#include "core/Bitmap.h"

#include <array>
#include <cstdint>
#include <vector>

namespace pictor {

using TByteTable = std::array<uint8_t, 256>;

// Trackbar positions, passed as they stand.
struct TColorSettings {
    int Red = 0;       // -255..255, added to red
    int Green = 0;     // -255..255, added to green
    int Blue = 0;      // -255..255, added to blue
    int Lightness = 0; // -255..255, added to all three
    int Contrast = 0;  // -255..255; the factor is position / 255
    int Gamma = 100;   // 10..500, gamma x 100
};

// A rectangle in picture pixels; Right and Bottom are exclusive.
struct TPixelRect {
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;
};

// ContrastTable[v] = ClampByte(trunc((v - 127.5) * position / 255 + v)), in double.
// Raises Exception for a position outside -255..255.
TByteTable MakeContrastTable(int position);

// GammaTable[v] = 255 * (v / 255)^(100 / position), rounded half to even, in double.
// Raises Exception for a position outside 10..500.
TByteTable MakeGammaTable(int position);

// The whole pass folded into one table per channel:
// Channel[v] = GammaTable[ContrastTable[ClampByte(v + offset + lightness)]].
struct TColorTables {
    TByteTable Blue{};
    TByteTable Green{};
    TByteTable Red{};
};

// Builds the contrast and gamma tables once and folds them with the offsets. Raises Exception
// when a position is outside its trackbar's range.
TColorTables MakeColorTables(const TColorSettings& settings);

// One row of width pixels from source to target (B, G, R). source may equal target.
void CorrectRow(const uint8_t* source, uint8_t* target, int width, const TColorTables& tables);

// Rows 0..height-1 of sourceRows into the same positions of targetRows, width pixels each;
// large jobs are spread over the cores (same bytes as one thread).
void CorrectRows(const uint8_t* const* sourceRows, uint8_t* const* targetRows, int width,
                 int height, const TColorTables& tables);

// Turns bitmap into 24 bits per pixel if it is not, and returns the address of every row, top
// row first. The addresses stay valid until the bitmap is resized, replaced or destroyed.
std::vector<uint8_t*> PrepareRows(Bitmap& bitmap);

// A corrected 24-bit copy of source (converted first when it has another format).
Bitmap CorrectColors(const Bitmap& source, const TColorSettings& settings);

// Corrects the pixels of picture inside rect in place: the same bytes as correcting a copy of
// that area and drawing it back 1:1. The corners may come in either order; the rectangle is
// clipped to the picture. A picture of another format is turned into 24 bits first (also when
// nothing of the rectangle lies inside it, so the result's format never depends on rect).
void CorrectColorsInRect(Bitmap& picture, const TPixelRect& rect, const TColorSettings& settings);

} // namespace pictor
