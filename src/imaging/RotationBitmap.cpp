#include "imaging/RotationBitmap.h"

#include "imaging/RowBands.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

// The block kernels use SSE2 (every x86-64 has it); elsewhere, or when built with
// -DPICTOR_ROTATE_SSE2=0, the plain loops do all the work.
#ifndef PICTOR_ROTATE_SSE2
#if defined(__SSE2__)
#define PICTOR_ROTATE_SSE2 1
#else
#define PICTOR_ROTATE_SSE2 0
#endif
#endif
#if PICTOR_ROTATE_SSE2
#include <emmintrin.h>
#endif

namespace pictor {

namespace {

// Pixel units are moved with fixed-size memcpy: one plain load and store each after
// optimisation, without breaking the aliasing rules for the bitmap's byte rows.
template <int Bytes> inline void CopyUnit(uint8_t* d, const uint8_t* s) {
    std::memcpy(d, s, Bytes);
}

inline uint64_t Load64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}
inline uint32_t Load32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
inline void Store64(uint8_t* p, uint64_t v) {
    std::memcpy(p, &v, 8);
}
inline void Store32(uint8_t* p, uint32_t v) {
    std::memcpy(p, &v, 4);
}

enum class TMode { Left, Right, UpDown, RightLeft, None };

TMode ParseMode(const std::string& mode) {
    if (mode == "90") return TMode::Left;
    if (mode == "270") return TMode::Right;
    if (mode == "ud") return TMode::UpDown;
    if (mode == "rl") return TMode::RightLeft;
    return TMode::None;
}

// Row r of the source starts at src + r * srcStride, of the destination at dst + r * dstStride.
struct TPlanes {
    const uint8_t* src;
    ptrdiff_t srcStride;
    uint8_t* dst;
    ptrdiff_t dstStride;
    int width; // of the source
    int height;
};

// A quarter turn reads destination row i from source column Column(i), and destination column
// j from the source row starting at rowBase + j * rowStep:
//   "90":  D(i, j) = S(j, W - 1 - i)      "270": D(i, j) = S(H - 1 - j, i)
struct TTurn {
    const uint8_t* rowBase;
    ptrdiff_t rowStep;
    bool left;
    int width;
    int Column(int i) const { return left ? width - 1 - i : i; }
};

TTurn MakeTurn(const TPlanes& p, bool left) {
    if (left) return {p.src, p.srcStride, true, p.width};
    return {p.src + ptrdiff_t(p.height - 1) * p.srcStride, -p.srcStride, false, p.width};
}

int RowBytes(int width, int bits) {
    return int((int64_t(width) * bits + 7) / 8);
}

// Keeps the pixels of a row's last byte and clears the padding bits after them.
uint8_t LastByteMask(int width, int bits) {
    const int used = int(int64_t(width) * bits % 8);
    return used == 0 ? 0xFF : uint8_t(0xFF << (8 - used));
}

inline uint8_t Reverse8(uint8_t x) {
    x = uint8_t(x >> 4 | x << 4);
    x = uint8_t((x & 0xCC) >> 2 | (x & 0x33) << 2);
    return uint8_t((x & 0xAA) >> 1 | (x & 0x55) << 1);
}

#if PICTOR_ROTATE_SSE2
inline __m128i Load128(const uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
inline void Store128(uint8_t* p, __m128i v) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}
inline __m128i Splat8(int v) {
    return _mm_set1_epi8(char(v));
}

inline __m128i ReverseBytes(__m128i v) {
    v = _mm_shuffle_epi32(v, _MM_SHUFFLE(0, 1, 2, 3));
    v = _mm_shufflehi_epi16(_mm_shufflelo_epi16(v, _MM_SHUFFLE(2, 3, 0, 1)),
                            _MM_SHUFFLE(2, 3, 0, 1));
    return _mm_or_si128(_mm_slli_epi16(v, 8), _mm_srli_epi16(v, 8));
}

// Byte-wise shifts built from 16-bit ones: the bits that cross into the neighbour byte are
// masked off.
inline __m128i SwapNibbles(__m128i v) {
    return _mm_or_si128(_mm_and_si128(_mm_slli_epi16(v, 4), Splat8(0xF0)),
                        _mm_and_si128(_mm_srli_epi16(v, 4), Splat8(0x0F)));
}

inline __m128i ReverseBitsInBytes(__m128i v) {
    v = SwapNibbles(v);
    v = _mm_or_si128(_mm_and_si128(_mm_slli_epi16(v, 2), Splat8(0xCC)),
                     _mm_and_si128(_mm_srli_epi16(v, 2), Splat8(0x33)));
    return _mm_or_si128(_mm_and_si128(_mm_slli_epi16(v, 1), Splat8(0xAA)),
                        _mm_and_si128(_mm_srli_epi16(v, 1), Splat8(0x55)));
}

// 16 bytes starting `shift` bits into p: byte k is (p[k] << shift | p[k + 1] >> (8 - shift)).
// Reads p[0..16]; shift is 1..7.
struct TByteShift {
    __m128i left, right, leftMask, rightMask;
    explicit TByteShift(int shift)
        : left(_mm_cvtsi32_si128(shift)), right(_mm_cvtsi32_si128(8 - shift)),
          leftMask(Splat8(0xFF << shift)), rightMask(Splat8(0xFF >> (8 - shift))) {}
    __m128i Load(const uint8_t* p) const {
        return _mm_or_si128(_mm_and_si128(_mm_sll_epi16(Load128(p), left), leftMask),
                            _mm_and_si128(_mm_srl_epi16(Load128(p + 1), right), rightMask));
    }
};
#endif

// ---- mirroring left to right, one row at a time ----

template <int Bytes>
void MirrorUnits(const uint8_t* __restrict s, uint8_t* __restrict d, int width) {
    for (int c = 0; c < width; ++c)
        CopyUnit<Bytes>(d + Bytes * c, s + Bytes * (width - 1 - c));
}

void MirrorBytes(const uint8_t* __restrict s, uint8_t* __restrict d, int width) {
    int c = 0;
#if PICTOR_ROTATE_SSE2
    for (; c + 16 <= width; c += 16)
        Store128(d + c, ReverseBytes(Load128(s + width - 16 - c)));
#endif
    for (; c < width; ++c)
        d[c] = s[width - 1 - c];
}

void MirrorNibbles(const uint8_t* __restrict s, uint8_t* __restrict d, int width) {
    const int n = (width + 1) / 2;
    int j = 0;
    if (width % 2 == 0) {
        // Byte order reversed, and the two pixels of every byte swapped.
#if PICTOR_ROTATE_SSE2
        for (; j + 16 <= n; j += 16)
            Store128(d + j, SwapNibbles(ReverseBytes(Load128(s + n - 16 - j))));
#endif
        for (; j < n; ++j)
            d[j] = uint8_t(s[n - 1 - j] << 4 | s[n - 1 - j] >> 4);
        return;
    }
    // An odd width leaves every pixel in its nibble: the high nibble comes from one byte, the
    // low one from the byte before it. The last byte's low nibble is padding.
#if PICTOR_ROTATE_SSE2
    for (; j + 17 <= n; j += 16) {
        const __m128i high = ReverseBytes(Load128(s + n - 16 - j));
        const __m128i low = ReverseBytes(Load128(s + n - 17 - j));
        Store128(d + j,
                 _mm_or_si128(_mm_and_si128(high, Splat8(0xF0)), _mm_and_si128(low, Splat8(0x0F))));
    }
#endif
    for (; j < n - 1; ++j)
        d[j] = uint8_t((s[n - 1 - j] & 0xF0) | (s[n - 2 - j] & 0x0F));
    d[n - 1] = uint8_t(s[0] & 0xF0);
}

void MirrorBits(const uint8_t* __restrict s, uint8_t* __restrict d, int width) {
    // Destination byte j holds source pixels W-1-8j down to W-8-8j: the byte starting at bit
    // W-8-8j, read across two source bytes, then reversed. Its bit offset is W mod 8 in every
    // byte, so the shifts are fixed for the row.
    const int q = width >> 3;
    const int m = width & 7;
    int j = 0;
    if (m == 0) {
#if PICTOR_ROTATE_SSE2
        for (; j + 16 <= q; j += 16)
            Store128(d + j, ReverseBitsInBytes(ReverseBytes(Load128(s + q - 16 - j))));
#endif
        for (; j < q; ++j)
            d[j] = Reverse8(s[q - 1 - j]);
        return;
    }
#if PICTOR_ROTATE_SSE2
    const TByteShift shift(m);
    for (; j + 16 <= q; j += 16) // reads up to byte q, the last one of the row
        Store128(d + j, ReverseBitsInBytes(ReverseBytes(shift.Load(s + q - 16 - j))));
#endif
    for (; j < q; ++j)
        d[j] = Reverse8(uint8_t(s[q - 1 - j] << m | s[q - j] >> (8 - m)));
    // Only the first m source pixels remain; the bits shifted in above them are zero, so the
    // padding after pixel W-1 stays clear.
    d[q] = Reverse8(uint8_t(s[0] >> (8 - m)));
}

// ---- quarter turns: plain loops for any rectangle of the destination ----
// They do the whole job without SSE2, and the edges that whole blocks leave with it.

// Units of one or more whole bytes, in square tiles so that the source lines of a tile stay
// in the first-level cache while the destination rows are written.
template <int Bytes>
void TurnUnitsRect(const TPlanes& p, const TTurn& t, int iA, int iB, int jA, int jB) {
    constexpr int Tile = 64;
    for (int i0 = iA; i0 < iB; i0 += Tile) {
        const int i1 = std::min(i0 + Tile, iB);
        for (int j0 = jA; j0 < jB; j0 += Tile) {
            const int j1 = std::min(j0 + Tile, jB);
            for (int i = i0; i < i1; ++i) {
                uint8_t* __restrict d = p.dst + i * p.dstStride;
                const uint8_t* s = t.rowBase + t.Column(i) * Bytes + j0 * t.rowStep;
                for (int j = j0; j < j1; ++j, s += t.rowStep)
                    CopyUnit<Bytes>(d + Bytes * j, s);
            }
        }
    }
}

// Half-byte pixels: destination byte k of row i packs the pixels of source column Column(i)
// in two consecutive source rows. The nibble's shift is fixed for a destination row. jA is
// even; jB is even or the destination width.
void TurnNibblesRect(const TPlanes& p, const TTurn& t, int iA, int iB, int jA, int jB) {
    constexpr int Tile = 64;
    const int kA = jA / 2;
    const int kB = jB / 2; // whole destination bytes
    for (int i0 = iA; i0 < iB; i0 += Tile) {
        const int i1 = std::min(i0 + Tile, iB);
        for (int k0 = kA; k0 < kB; k0 += Tile) {
            const int k1 = std::min(k0 + Tile, kB);
            for (int i = i0; i < i1; ++i) {
                const int c = t.Column(i);
                const int shift = (c & 1) ? 0 : 4;
                uint8_t* __restrict d = p.dst + i * p.dstStride;
                const uint8_t* s = t.rowBase + (c >> 1) + 2 * k0 * t.rowStep;
                for (int k = k0; k < k1; ++k, s += 2 * t.rowStep)
                    d[k] = uint8_t(((s[0] >> shift) & 15) << 4 | ((s[t.rowStep] >> shift) & 15));
            }
        }
        if (jB % 2) {
            // The last source row fills only a high nibble; the low one is padding.
            for (int i = i0; i < i1; ++i) {
                const int c = t.Column(i);
                const uint8_t v = t.rowBase[(c >> 1) + ptrdiff_t(jB - 1) * t.rowStep];
                p.dst[i * p.dstStride + kB] = uint8_t(((v >> ((c & 1) ? 0 : 4)) & 15) << 4);
            }
        }
    }
}

// Transposes an 8 x 8 bit matrix held one row per byte, row 0 in the top byte and column 0 in
// the top bit of each byte (three rounds of swapping bit blocks across the diagonal).
inline uint64_t Transpose8x8(uint64_t x) {
    uint64_t t = (x ^ (x >> 7)) & 0x00AA00AA00AA00AAULL;
    x ^= t ^ (t << 7);
    t = (x ^ (x >> 14)) & 0x0000CCCC0000CCCCULL;
    x ^= t ^ (t << 14);
    t = (x ^ (x >> 28)) & 0x00000000F0F0F0F0ULL;
    x ^= t ^ (t << 28);
    return x;
}

// Where the eight source columns of one group of destination rows lie within a source row:
// the byte is (row[lo] << loShift | row[hi] >> hiShift), cut to 8 bits. Both indices stay
// inside the row's pixel bytes.
struct TBitColumn {
    int lo, hi, loShift, hiShift;
    uint8_t Fetch(const uint8_t* row) const {
        return uint8_t(row[lo] << loShift | row[hi] >> hiShift);
    }
};

// One 8 x 8 block: `count` source rows (the rest zero) become eight destination bytes, one per
// destination row of the group; `rows` of them are stored.
template <int Count, int Rows>
inline void TurnBitBlock(const TBitColumn& col, const uint8_t* row, ptrdiff_t rowStep,
                         uint8_t* const* out, const int* shift, int k, int count, int rows) {
    const int n = Count ? Count : count;
    const int r = Rows ? Rows : rows;
    uint64_t x = 0;
    for (int u = 0; u < n; ++u, row += rowStep)
        x |= uint64_t(col.Fetch(row)) << (56 - 8 * u);
    x = Transpose8x8(x);
    for (int v = 0; v < r; ++v)
        out[v][k] = uint8_t(x >> shift[v]);
}

// One-bit pixels, eight destination rows (one source byte column) at a time: each 8 x 8 block
// is gathered from eight source rows, transposed as a 64-bit word and scattered to eight
// destination rows. iA and jA are multiples of 8; iB and jB are too, or the destination size.
void TurnBitsRect(const TPlanes& p, const TTurn& t, int iA, int iB, int jA, int jB) {
    const int full = jB / 8;
    const int rest = jB % 8;
    const int q = p.width >> 3;
    const int m = p.width & 7;
    for (int g = iA / 8; 8 * g < iB; ++g) {
        // "270": destination row 8g+v is source column 8g+v, the top bit v of byte g.
        // "90": it is source column W-1-8g-v; the eight columns from W-8-8g sit at bit
        // offset W mod 8, and destination row 8g+v takes the bit v places from the bottom.
        TBitColumn col{g, g, 0, 0};
        if (t.left) {
            if (m == 0)
                col = {q - 1 - g, q - 1 - g, 0, 0};
            else if (g < q)
                col = {q - 1 - g, q - g, m, 8 - m};
            else
                col = {0, 0, 8, 8 - m}; // only the first m columns exist
        }
        const int rows = std::min(8, iB - 8 * g);
        uint8_t* out[8];
        int shift[8];
        for (int v = 0; v < rows; ++v) {
            out[v] = p.dst + ptrdiff_t(8 * g + v) * p.dstStride;
            shift[v] = t.left ? 8 * v : 8 * (7 - v);
        }
        const uint8_t* row = t.rowBase + jA * t.rowStep;
        const ptrdiff_t step8 = 8 * t.rowStep;
        int k = jA / 8;
        if (rows == 8) {
            for (; k < full; ++k, row += step8)
                TurnBitBlock<8, 8>(col, row, t.rowStep, out, shift, k, 8, 8);
        } else {
            for (; k < full; ++k, row += step8)
                TurnBitBlock<8, 0>(col, row, t.rowStep, out, shift, k, 8, rows);
        }
        if (rest) TurnBitBlock<0, 0>(col, row, t.rowStep, out, shift, full, rest, rows);
    }
}

// ---- quarter turns: whole blocks ----

// Three-byte pixels, 4 x 4 at a time: each source row gives its four pixels in one 8-byte and
// one 4-byte read, each destination row takes them in one 8-byte and one 4-byte write.
template <bool Left> void TurnPix24Strip(const TPlanes& p, const TTurn& t, int i, int j0, int j1) {
    const int c0 = Left ? p.width - 4 - i : i; // first source column of the strip
    uint8_t* d[4];
    for (int k = 0; k < 4; ++k)
        d[k] = p.dst + (i + k) * p.dstStride;
    const uint8_t* s = t.rowBase + 3 * c0 + j0 * t.rowStep;
    for (int j = j0; j < j1; j += 4, s += 4 * t.rowStep) {
        uint32_t px[4][4];
        for (int u = 0; u < 4; ++u) {
            const uint8_t* q = s + u * t.rowStep;
            const uint64_t a = Load64(q);
            const uint32_t b = Load32(q + 8);
            px[u][0] = uint32_t(a) & 0xFFFFFF;
            px[u][1] = uint32_t(a >> 24) & 0xFFFFFF;
            px[u][2] = uint32_t(a >> 48) | (b & 0xFF) << 16;
            px[u][3] = b >> 8;
        }
        for (int k = 0; k < 4; ++k) {
            const int c = Left ? 3 - k : k;
            Store64(d[k] + 3 * j, px[0][c] | uint64_t(px[1][c]) << 24 | uint64_t(px[2][c]) << 48);
            Store32(d[k] + 3 * j + 8, px[2][c] >> 16 | px[3][c] << 8);
        }
    }
}

#if PICTOR_ROTATE_SSE2
template <int Width> inline __m128i UnpackLo(__m128i a, __m128i b) {
    if constexpr (Width == 1) return _mm_unpacklo_epi8(a, b);
    if constexpr (Width == 2) return _mm_unpacklo_epi16(a, b);
    if constexpr (Width == 4) return _mm_unpacklo_epi32(a, b);
    if constexpr (Width == 8) return _mm_unpacklo_epi64(a, b);
}
template <int Width> inline __m128i UnpackHi(__m128i a, __m128i b) {
    if constexpr (Width == 1) return _mm_unpackhi_epi8(a, b);
    if constexpr (Width == 2) return _mm_unpackhi_epi16(a, b);
    if constexpr (Width == 4) return _mm_unpackhi_epi32(a, b);
    if constexpr (Width == 8) return _mm_unpackhi_epi64(a, b);
}

// Transposes an N x N block of Bytes-wide elements held one row per register (N * Bytes is
// 16) by interleaving pairs of registers at doubling widths. Column c ends up in register
// Slot(c), the bit-reversed c.
template <int Bytes, int Width = Bytes> inline void TransposeBlock(__m128i* r) {
    constexpr int N = 16 / Bytes;
    if constexpr (Width <= 8) {
        __m128i t[N];
        for (int k = 0; k < N / 2; ++k) {
            t[k] = UnpackLo<Width>(r[2 * k], r[2 * k + 1]);
            t[k + N / 2] = UnpackHi<Width>(r[2 * k], r[2 * k + 1]);
        }
        for (int k = 0; k < N; ++k)
            r[k] = t[k];
        TransposeBlock<Bytes, Width * 2>(r);
    }
}

template <int N> constexpr int Slot(int c) {
    int v = 0;
    for (int bit = 1; bit < N; bit <<= 1, c >>= 1)
        v = v << 1 | (c & 1);
    return v;
}

// Units of 1, 2 or 4 bytes: N destination rows (N source columns) by N columns per block.
template <int Bytes, bool Left>
void TurnUnitStrip(const TPlanes& p, const TTurn& t, int i, int j0, int j1) {
    constexpr int N = 16 / Bytes;
    const int c0 = Left ? p.width - N - i : i; // first source column of the strip
    uint8_t* d[N];
    for (int k = 0; k < N; ++k)
        d[k] = p.dst + (i + k) * p.dstStride;
    const uint8_t* s = t.rowBase + c0 * Bytes + j0 * t.rowStep;
    for (int j = j0; j < j1; j += N, s += N * t.rowStep) {
        __m128i r[N];
        for (int u = 0; u < N; ++u)
            r[u] = Load128(s + u * t.rowStep);
        TransposeBlock<Bytes>(r);
        for (int k = 0; k < N; ++k)
            Store128(d[k] + j * Bytes, r[Slot<N>(Left ? N - 1 - k : k)]);
    }
}

// One- and four-bit pixels: 16 source rows by 16 source bytes are transposed as bytes, so
// that each register holds one source byte column down 16 rows; the pixels of that column are
// then split into their destination rows. For "90" the source bytes are first realigned by
// the row's bit offset so that the destination rows of a strip start on a byte boundary.
template <int Bits, bool Left, bool Shifted>
void TurnPackedStrip(const TPlanes& p, const TTurn& t, int i, int j0, int j1) {
    constexpr int PerByte = 8 / Bits;
    constexpr int Rows = 16 * PerByte; // destination rows of the strip
    const int c0 = Left ? p.width - Rows - i : i;
    const uint8_t* s = t.rowBase + ((c0 * Bits) >> 3) + j0 * t.rowStep;
    const TByteShift shift(Shifted ? (p.width * Bits) & 7 : 1);
    for (int j = j0; j < j1; j += 16, s += 16 * t.rowStep) {
        __m128i r[16];
        for (int u = 0; u < 16; ++u) {
            // One-bit rows are taken in reverse within each group of eight, so that the byte
            // masks below come out with the leftmost pixel in the top bit.
            const uint8_t* q = s + (Bits == 1 ? u ^ 7 : u) * t.rowStep;
            r[u] = Shifted ? shift.Load(q) : Load128(q);
        }
        TransposeBlock<1>(r);
        for (int lane = 0; lane < 16; ++lane) {
            __m128i v = r[Slot<16>(lane)];
            // Destination row of the byte's pixel x (from the top bit).
            auto row = [&](int x) {
                const int offset = lane * PerByte + x;
                return p.dst + (Left ? i + Rows - 1 - offset : i + offset) * p.dstStride;
            };
            if constexpr (Bits == 4) {
                // 16-bit lane k holds rows 2k (low byte) and 2k+1; a destination byte packs
                // the same nibble of both.
                const __m128i nib = _mm_set1_epi16(0x00F0);
                const __m128i high = _mm_or_si128(_mm_and_si128(v, nib), _mm_srli_epi16(v, 12));
                const __m128i low =
                    _mm_or_si128(_mm_and_si128(_mm_slli_epi16(v, 4), nib),
                                 _mm_and_si128(_mm_srli_epi16(v, 8), _mm_set1_epi16(0x000F)));
                const __m128i both = _mm_packus_epi16(high, low);
                _mm_storel_epi64(reinterpret_cast<__m128i*>(row(0) + j / 2), both);
                _mm_storel_epi64(reinterpret_cast<__m128i*>(row(1) + j / 2),
                                 _mm_unpackhi_epi64(both, both));
            } else {
                for (int x = 0; x < 8; ++x) {
                    const auto bits = uint16_t(_mm_movemask_epi8(v));
                    std::memcpy(row(x) + j / 8, &bits, 2);
                    v = _mm_add_epi8(v, v);
                }
            }
        }
    }
}
#endif

// Covers destination rows [iFirst, iEnd) and columns [0, dWidth): strips of BlockRows rows
// through strip(i, j0, j1) (j0 and j1 multiples of BlockCols), tile by tile, and whatever
// whole blocks leave through rect(iA, iB, jA, jB).
template <int BlockRows, int BlockCols, int TileRows, int TileCols, typename Strip, typename Rect>
void Tiled(int iFirst, int iEnd, int dWidth, Strip strip, Rect rect) {
    static_assert(TileRows % BlockRows == 0 && TileCols % BlockCols == 0);
    const int iFull = iFirst + (iEnd - iFirst) / BlockRows * BlockRows;
    const int jFull = dWidth / BlockCols * BlockCols;
    for (int i0 = iFirst; i0 < iFull; i0 += TileRows) {
        const int i1 = std::min(i0 + TileRows, iFull);
        for (int j0 = 0; j0 < jFull; j0 += TileCols) {
            const int j1 = std::min(j0 + TileCols, jFull);
            for (int i = i0; i < i1; i += BlockRows)
                strip(i, j0, j1);
        }
        if (jFull < dWidth) rect(i0, i1, jFull, dWidth);
    }
    if (iFull < iEnd) rect(iFull, iEnd, 0, dWidth);
}

template <int Bits, bool Left>
void TurnBand(const TPlanes& p, const TTurn& t, int iFirst, int iEnd) {
    const int dWidth = p.height;
    if constexpr (Bits == 24) {
        Tiled<4, 4, 32, 32>(
            iFirst, iEnd, dWidth,
            [&](int i, int j0, int j1) { TurnPix24Strip<Left>(p, t, i, j0, j1); },
            [&](int iA, int iB, int jA, int jB) { TurnUnitsRect<3>(p, t, iA, iB, jA, jB); });
    } else if constexpr (!PICTOR_ROTATE_SSE2) {
        if constexpr (Bits == 1) TurnBitsRect(p, t, iFirst, iEnd, 0, dWidth);
        if constexpr (Bits == 4) TurnNibblesRect(p, t, iFirst, iEnd, 0, dWidth);
        if constexpr (Bits >= 8) TurnUnitsRect<Bits / 8>(p, t, iFirst, iEnd, 0, dWidth);
#if PICTOR_ROTATE_SSE2
    } else if constexpr (Bits >= 8) {
        constexpr int N = 128 / Bits;
        Tiled<N, N, 64, 64>(
            iFirst, iEnd, dWidth,
            [&](int i, int j0, int j1) { TurnUnitStrip<Bits / 8, Left>(p, t, i, j0, j1); },
            [&](int iA, int iB, int jA, int jB) { TurnUnitsRect<Bits / 8>(p, t, iA, iB, jA, jB); });
    } else {
        auto rect = [&](int iA, int iB, int jA, int jB) {
            if constexpr (Bits == 1)
                TurnBitsRect(p, t, iA, iB, jA, jB);
            else
                TurnNibblesRect(p, t, iA, iB, jA, jB);
        };
        constexpr int Rows = 128 / Bits;
        if (Left && (p.width * Bits) % 8 != 0) {
            Tiled<Rows, 16, Rows, 256>(
                iFirst, iEnd, dWidth,
                [&](int i, int j0, int j1) { TurnPackedStrip<Bits, Left, true>(p, t, i, j0, j1); },
                rect);
        } else {
            Tiled<Rows, 16, Rows, 256>(
                iFirst, iEnd, dWidth,
                [&](int i, int j0, int j1) { TurnPackedStrip<Bits, Left, false>(p, t, i, j0, j1); },
                rect);
        }
#endif
    }
}

// ---- dispatch ----

template <typename Kernel> void MirrorRows(const TPlanes& p, int bits, Kernel kernel) {
    ForEachRowBand(p.height, 2 * int64_t(RowBytes(p.width, bits)), [&](int first, int end) {
        for (int r = first; r < end; ++r)
            kernel(p.src + r * p.srcStride, p.dst + r * p.dstStride, p.width);
    });
}

void FlipUpDown(const TPlanes& p, int bits) {
    const size_t rowBytes = size_t(RowBytes(p.width, bits));
    const uint8_t mask = LastByteMask(p.width, bits);
    ForEachRowBand(p.height, 2 * int64_t(rowBytes), [&](int first, int end) {
        for (int r = first; r < end; ++r) {
            uint8_t* d = p.dst + r * p.dstStride;
            std::memcpy(d, p.src + (p.height - 1 - r) * p.srcStride, rowBytes);
            d[rowBytes - 1] &= mask;
        }
    });
}

void MirrorLeftRight(const TPlanes& p, int bits) {
    switch (bits) {
    case 1:
        return MirrorRows(p, bits, MirrorBits);
    case 4:
        return MirrorRows(p, bits, MirrorNibbles);
    case 8:
        return MirrorRows(p, bits, MirrorBytes);
    case 16:
        return MirrorRows(p, bits, MirrorUnits<2>);
    case 24:
        return MirrorRows(p, bits, MirrorUnits<3>);
    default:
        return MirrorRows(p, bits, MirrorUnits<4>);
    }
}

template <int Bits> void TurnBits(const TPlanes& p, bool left) {
    const TTurn t = MakeTurn(p, left);
    // Bands start on whole bytes of the source columns: groups of 8 or 2 destination rows.
    constexpr int Unit = Bits == 1 ? 8 : Bits == 4 ? 2 : 1;
    const int units = (p.width + Unit - 1) / Unit;
    ForEachRowBand(units, 2 * Unit * int64_t(RowBytes(p.height, Bits)), [&](int first, int end) {
        const int iFirst = first * Unit;
        const int iEnd = std::min(end * Unit, p.width);
        if (left)
            TurnBand<Bits, true>(p, t, iFirst, iEnd);
        else
            TurnBand<Bits, false>(p, t, iFirst, iEnd);
    });
}

void Turn(const TPlanes& p, int bits, bool left) {
    switch (bits) {
    case 1:
        return TurnBits<1>(p, left);
    case 4:
        return TurnBits<4>(p, left);
    case 8:
        return TurnBits<8>(p, left);
    case 16:
        return TurnBits<16>(p, left);
    case 24:
        return TurnBits<24>(p, left);
    default:
        return TurnBits<32>(p, left);
    }
}

Bitmap NewLike(const Bitmap& source, int width, int height) {
    switch (source.PixelFormat()) {
    case TPixelFormat::pfDevice:
        // The device form is already 32-bit B, G, R, unused; as an ordinary bitmap it is
        // pf32bit.
        return Bitmap(width, height, TPixelFormat::pf32bit);
    case TPixelFormat::pfCustom:
        return Bitmap::Custom(width, height, source.BitsPerPixel(), source.ColorMasks());
    default:
        return Bitmap(width, height, source.PixelFormat());
    }
}

} // namespace

Bitmap RotateBitmap(const Bitmap& source, const std::string& mode) {
    const int width = source.Width();
    const int height = source.Height();
    if (width <= 0 || height <= 0) throw ERotateError("Bitmap Size Error");
    // Every format is copied as whole units of its stored size; a masked (pfCustom) picture too,
    // since turning it into 24 bits first would drop its alpha and any channel wider than 8.
    const int bits = source.BitsPerPixel();
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
        throw ERotateError("Illegal Bitmap");

    const TMode m = ParseMode(mode);
    const bool turn = m == TMode::Left || m == TMode::Right;
    Bitmap result = NewLike(source, turn ? height : width, turn ? width : height);
    result.Palette() = source.Palette();
    if (m == TMode::None) return result;

    const TPlanes p{source.ScanLine(0),
                    ptrdiff_t(source.Stride()),
                    result.ScanLine(0),
                    ptrdiff_t(result.Stride()),
                    width,
                    height};
    switch (m) {
    case TMode::Left:
    case TMode::Right:
        Turn(p, bits, m == TMode::Left);
        break;
    case TMode::UpDown:
        FlipUpDown(p, bits);
        break;
    case TMode::RightLeft:
        MirrorLeftRight(p, bits);
        break;
    case TMode::None:
        break;
    }
    return result;
}

} // namespace pictor
