#include "imaging/ColorCorrection.h"

#include "core/ClampByte.h"
#include "core/Exception.h"
#include "imaging/RowBands.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace pictor {

namespace {

void CheckRange(const char* what, int position, int low, int high) {
    if (position < low || position > high)
        throw Exception(std::string(what) + " position " + std::to_string(position) +
                        " is outside " + std::to_string(low) + ".." + std::to_string(high));
}

// Ready for a new bitmap's rows: 24 bits per pixel.
void Ensure24(Bitmap& bitmap) {
    if (bitmap.PixelFormat() != TPixelFormat::pf24bit) bitmap = bitmap.ConvertTo24();
}

} // namespace

TByteTable MakeContrastTable(int position) {
    CheckRange("Contrast", position, -255, 255);
    // Double throughout: many entries lie on an integer in exact arithmetic, and which side of
    // it the rounded sum falls on depends on the precision (an extended intermediate moves
    // several hundred of them down by one).
    const double c = position / 255.0;
    TByteTable table{};
    for (int v = 0; v < 256; ++v) {
        const double x = (v - 127.5) * c + v;
        table[size_t(v)] = ClampByte(static_cast<int>(std::trunc(x)));
    }
    return table;
}

TByteTable MakeGammaTable(int position) {
    CheckRange("Gamma", position, 10, 500);
    const double exponent = 1.0 / (position / 100.0);
    TByteTable table{};
    for (int v = 0; v < 256; ++v) {
        // nearbyint in the default rounding mode: exact halves go to the even neighbour.
        const double x = 255.0 * std::pow(v / 255.0, exponent);
        table[size_t(v)] = ClampByte(static_cast<int>(std::nearbyint(x)));
    }
    return table;
}

TColorTables MakeColorTables(const TColorSettings& settings) {
    CheckRange("Red", settings.Red, -255, 255);
    CheckRange("Green", settings.Green, -255, 255);
    CheckRange("Blue", settings.Blue, -255, 255);
    CheckRange("Lightness", settings.Lightness, -255, 255);
    const TByteTable contrast = MakeContrastTable(settings.Contrast);
    const TByteTable gamma = MakeGammaTable(settings.Gamma);
    auto fold = [&](int offset) {
        TByteTable t{};
        for (int v = 0; v < 256; ++v)
            t[size_t(v)] = gamma[contrast[ClampByte(v + offset + settings.Lightness)]];
        return t;
    };
    TColorTables tables;
    tables.Blue = fold(settings.Blue);
    tables.Green = fold(settings.Green);
    tables.Red = fold(settings.Red);
    return tables;
}

void CorrectRow(const uint8_t* source, uint8_t* target, int width, const TColorTables& tables) {
    // Three lookups a pixel; a plain byte loop measured as fast as wider loads with shifts.
    const uint8_t* blue = tables.Blue.data();
    const uint8_t* green = tables.Green.data();
    const uint8_t* red = tables.Red.data();
    for (int x = 0; x < width; ++x) {
        target[0] = blue[source[0]];
        target[1] = green[source[1]];
        target[2] = red[source[2]];
        source += 3;
        target += 3;
    }
}

void CorrectRows(const uint8_t* const* sourceRows, uint8_t* const* targetRows, int width,
                 int height, const TColorTables& tables) {
    if (width <= 0 || height <= 0) return;
    ForEachRowBand(height, int64_t(width) * 3, [&](int first, int end) {
        for (int y = first; y < end; ++y)
            CorrectRow(sourceRows[y], targetRows[y], width, tables);
    });
}

std::vector<uint8_t*> PrepareRows(Bitmap& bitmap) {
    Ensure24(bitmap);
    std::vector<uint8_t*> rows(size_t(std::max(bitmap.Height(), 0)));
    for (int y = 0; y < bitmap.Height(); ++y)
        rows[size_t(y)] = bitmap.ScanLine(y);
    return rows;
}

Bitmap CorrectColors(const Bitmap& source, const TColorSettings& settings) {
    const TColorTables tables = MakeColorTables(settings);
    if (source.PixelFormat() != TPixelFormat::pf24bit) {
        Bitmap target = source.ConvertTo24();
        const std::vector<uint8_t*> rows = PrepareRows(target);
        // In place: every byte is read before the same byte is written.
        CorrectRows(rows.data(), rows.data(), target.Width(), target.Height(), tables);
        return target;
    }
    // Straight from the source rows: one pass less over memory than copying first.
    Bitmap target(source.Width(), source.Height(), TPixelFormat::pf24bit);
    std::vector<const uint8_t*> sourceRows(static_cast<size_t>(source.Height()));
    for (int y = 0; y < source.Height(); ++y)
        sourceRows[size_t(y)] = source.ScanLine(y);
    const std::vector<uint8_t*> targetRows = PrepareRows(target);
    CorrectRows(sourceRows.data(), targetRows.data(), target.Width(), target.Height(), tables);
    return target;
}

void CorrectColorsInRect(Bitmap& picture, const TPixelRect& rect, const TColorSettings& settings) {
    const TColorTables tables = MakeColorTables(settings);
    Ensure24(picture);
    const int left = std::max(std::min(rect.Left, rect.Right), 0);
    const int right = std::min(std::max(rect.Left, rect.Right), picture.Width());
    const int top = std::max(std::min(rect.Top, rect.Bottom), 0);
    const int bottom = std::min(std::max(rect.Top, rect.Bottom), picture.Height());
    if (left >= right || top >= bottom) return;
    const int width = right - left;
    ForEachRowBand(bottom - top, int64_t(width) * 3, [&](int first, int end) {
        for (int y = top + first; y < top + end; ++y) {
            uint8_t* row = picture.ScanLine(y) + size_t(left) * 3;
            CorrectRow(row, row, width, tables);
        }
    });
}

} // namespace pictor
