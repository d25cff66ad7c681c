#include "imaging/ImageBlend.h"

#include "core/Exception.h"
#include "imaging/ColorCorrection.h"
#include "imaging/RowBands.h"

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace pictor {

namespace {

// floor(m * d / 2^14) the way the vector lanes compute it: 4d fits in 16 bits for |d| <= 255,
// and the high half of the 16 x 16 product is the floor (arithmetic shift).
inline int FixedFloor(int m, int d) {
    return (int32_t(int16_t(d * 4)) * m) >> 16;
}

// Nearest-pixel stretch of a 24-bit picture, the same sampling as the canvas stretch
// elsewhere in the program (source index = target index * source size / target size).
Bitmap Stretch24(const Bitmap& source, int width, int height) {
    Bitmap target(width, height, TPixelFormat::pf24bit);
    if (target.Empty() || source.Empty()) return target;
    std::vector<int> columns(size_t(width), 0);
    for (int x = 0; x < width; ++x)
        columns[size_t(x)] = int(int64_t(x) * source.Width() / width) * 3;
    for (int y = 0; y < height; ++y) {
        const uint8_t* from = source.ScanLine(int(int64_t(y) * source.Height() / height));
        uint8_t* to = target.ScanLine(y);
        for (int x = 0; x < width; ++x) {
            const uint8_t* p = from + columns[size_t(x)];
            to[3 * x] = p[0];
            to[3 * x + 1] = p[1];
            to[3 * x + 2] = p[2];
        }
    }
    return target;
}

} // namespace

TBlendWeight::TBlendWeight(int p) : FPriority(p), FAlpha(0), FMultiplier(0) {
    if (p < 0 || p > 10)
        throw Exception("Blend priority " + std::to_string(p) + " is outside 0..10");
    // The quotient is formed in extended precision and then held in single precision.
    FAlpha = static_cast<float>(static_cast<long double>(p) / 10);
    // a * d is exact in extended precision (24-bit a times a 9-bit d), so floorl gives the
    // true floor. A multiplier m next to a * 2^14 whose error has the sign of a's own error
    // against p / 10 keeps every floor (those errors are far too small to cross the next
    // integer within |d| <= 255); the search below finds it and checks all 511 differences.
    const long double a = FAlpha;
    const long near = std::lroundl(a * 16384);
    for (long m = near - 2; m <= near + 2; ++m) {
        if (m < 0 || m > 32767) continue;
        bool exact = true;
        for (int d = -255; d <= 255 && exact; ++d)
            exact = FixedFloor(int(m), d) == static_cast<long>(std::floor(a * d));
        if (exact) {
            FMultiplier = static_cast<int16_t>(m);
            return;
        }
    }
    // Unreachable for p = 0..10 (the tests check every one); kept so that a changed weight
    // rule fails loudly instead of blending wrongly.
    throw Exception("Blend priority " + std::to_string(p) + " has no exact fixed-point weight");
}

void BlendRow(const uint8_t* object, const uint8_t* composite, uint8_t* result, int64_t bytes,
              const TBlendWeight& weight) {
    const int m = weight.Multiplier();
    int64_t i = 0;
#if defined(__SSE2__)
    // 16 bytes a step: widen to 16-bit lanes, h + mulhi(4 (o - h), m), narrow again (the sum
    // always lies between h and o, so the saturating pack never clips).
    const __m128i zero = _mm_setzero_si128();
    const __m128i mv = _mm_set1_epi16(static_cast<int16_t>(m));
    for (; i + 16 <= bytes; i += 16) {
        const __m128i o = _mm_loadu_si128(reinterpret_cast<const __m128i*>(object + i));
        const __m128i h = _mm_loadu_si128(reinterpret_cast<const __m128i*>(composite + i));
        const __m128i hLo = _mm_unpacklo_epi8(h, zero);
        const __m128i hHi = _mm_unpackhi_epi8(h, zero);
        const __m128i dLo = _mm_slli_epi16(_mm_sub_epi16(_mm_unpacklo_epi8(o, zero), hLo), 2);
        const __m128i dHi = _mm_slli_epi16(_mm_sub_epi16(_mm_unpackhi_epi8(o, zero), hHi), 2);
        const __m128i rLo = _mm_add_epi16(hLo, _mm_mulhi_epi16(dLo, mv));
        const __m128i rHi = _mm_add_epi16(hHi, _mm_mulhi_epi16(dHi, mv));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(result + i), _mm_packus_epi16(rLo, rHi));
    }
#endif
    for (; i < bytes; ++i) {
        const int h = composite[i];
        result[i] = static_cast<uint8_t>(h + FixedFloor(m, object[i] - h));
    }
}

void BlendRows(const uint8_t* const* objectRows, const uint8_t* const* compositeRows,
               uint8_t* const* resultRows, int width, int height, int p) {
    const TBlendWeight weight(p);
    if (width <= 0 || height <= 0) return;
    const int64_t bytes = int64_t(width) * 3;
    ForEachRowBand(height, bytes, [&](int first, int end) {
        for (int y = first; y < end; ++y)
            BlendRow(objectRows[y], compositeRows[y], resultRows[y], bytes, weight);
    });
}

Bitmap BlendImages(const Bitmap& object, const Bitmap& composite, int p) {
    const TBlendWeight weight(p); // bad p raises before any allocation
    std::optional<Bitmap> converted;
    if (object.PixelFormat() != TPixelFormat::pf24bit) converted = object.ConvertTo24();
    const Bitmap& picture = converted ? *converted : object;
    const int width = picture.Width();
    const int height = picture.Height();

    std::optional<Bitmap> prepared;
    if (composite.Empty()) {
        prepared.emplace(width, height, TPixelFormat::pf24bit);
    } else {
        if (composite.PixelFormat() != TPixelFormat::pf24bit) prepared = composite.ConvertTo24();
        const Bitmap& c = prepared ? *prepared : composite;
        if (c.Width() != width || c.Height() != height) prepared = Stretch24(c, width, height);
    }
    const Bitmap& hide = prepared ? *prepared : composite;

    Bitmap result(width, height, TPixelFormat::pf24bit);
    if (result.Empty()) return result;
    const auto rowCount = static_cast<size_t>(height);
    std::vector<const uint8_t*> objectRows(rowCount), compositeRows(rowCount);
    for (int y = 0; y < height; ++y) {
        objectRows[size_t(y)] = picture.ScanLine(y);
        compositeRows[size_t(y)] = hide.ScanLine(y);
    }
    const std::vector<uint8_t*> resultRows = PrepareRows(result);
    BlendRows(objectRows.data(), compositeRows.data(), resultRows.data(), width, height,
              weight.Priority());
    return result;
}

} // namespace pictor
