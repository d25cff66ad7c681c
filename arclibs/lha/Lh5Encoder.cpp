#include "lha/Lh5Encoder.h"

#include "lha/Huffman.h"
#include "lha/LhaError.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace pictor::lha {

namespace {

constexpr int kHashBits = 15;
constexpr int kPrevSize = 2 * Lh5Encoder::kWindow; // see Insert: entries outlive the window
constexpr int32_t kPrevMask = kPrevSize - 1;
// Data kept in memory: the window behind the current byte plus this much ahead, before the
// buffer slides. A multiple of kPrevSize keeps chain slots valid across a slide.
constexpr int32_t kBufData = 16 * kPrevSize;
constexpr int kNT = 19;   // code-length alphabet of the literal/length table
constexpr int kTBits = 5; // width of its count field
constexpr int kCBits = 9; // width of the literal/length count field
constexpr int kPBits = 4; // width of the position count field (-lh5-)

inline uint32_t Hash3(const uint8_t* p) {
    const uint32_t v = uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
    return (v * 2654435761u) >> (32 - kHashBits);
}

inline int MatchLength(const uint8_t* a, const uint8_t* b, int maxLen) {
    int len = 0;
    while (len + 8 <= maxLen) {
        uint64_t x, y;
        std::memcpy(&x, a + len, 8);
        std::memcpy(&y, b + len, 8);
        if (x != y) {
            if constexpr (std::endian::native == std::endian::little)
                return len + std::countr_zero(x ^ y) / 8;
            else
                return len + std::countl_zero(x ^ y) / 8;
        }
        len += 8;
    }
    while (len < maxLen && a[len] == b[len]) ++len;
    return len;
}

// Position class of p = distance - 1: its bit length (0 for p = 0).
inline int PositionClass(unsigned p) { return p ? 32 - std::countl_zero(p) : 0; }

// A table of code lengths in the short form used for the code-length alphabet and the
// position table: a count, then 3 bits per length up to 6 and a unary tail above. In the
// code-length table a 2-bit count of zero lengths follows the third entry. With `whole`,
// all `size` entries are sent, trailing zeros included.
void PutLengthList(BitWriter& bw, const uint8_t* lengths, int size, int countBits, int special,
                   bool whole = false) {
    int n = size;
    while (!whole && n > 0 && lengths[n - 1] == 0) --n;
    bw.Put(countBits, uint32_t(n));
    for (int i = 0; i < n;) {
        const int len = lengths[i++];
        if (len <= 6)
            bw.Put(3, uint32_t(len));
        else
            bw.Put(len - 3, (1u << (len - 3)) - 2); // len-4 one bits and a zero bit
        if (i == special) {
            int zeros = 0;
            while (zeros < 3 && i + zeros < n && lengths[i + zeros] == 0) ++zeros;
            bw.Put(2, uint32_t(zeros));
            i += zeros;
        }
    }
}

// The bits PutLengthList writes (without `whole`).
uint64_t LengthListBits(const uint8_t* lengths, int size, int countBits, int special) {
    int n = size;
    while (n > 0 && lengths[n - 1] == 0) --n;
    uint64_t bits = uint64_t(countBits);
    for (int i = 0; i < n;) {
        const int len = lengths[i++];
        bits += len <= 6 ? 3 : uint64_t(len - 3);
        if (i == special) {
            int zeros = 0;
            while (zeros < 3 && i + zeros < n && lengths[i + zeros] == 0) ++zeros;
            bits += 2;
            i += zeros;
        }
    }
    return bits;
}

// One item of the run-length coded literal/length table: a code-length symbol and its
// extra bits.
struct LengthItem {
    uint8_t symbol, extraBits;
    uint16_t extra;
};

} // namespace

Lh5Encoder::Lh5Encoder(Sink sink, const Lh5Options& options)
    : FSink(std::move(sink)), FOpt(options),
      FBuf(size_t(kBufData) + kMaxMatch + 8),
      FHead(size_t(1) << kHashBits, -1), FPrev(kPrevSize, -1) {
    FOpt.BlockTokens = std::clamp(FOpt.BlockTokens, 1, 65535);
    FOpt.MaxChain = std::max(FOpt.MaxChain, 1);
    FOpt.NiceLength = std::clamp(FOpt.NiceLength, kMinMatch, kMaxMatch);
    FSym.resize(size_t(FOpt.BlockTokens));
    FDist.resize(size_t(FOpt.BlockTokens));
}

void Lh5Encoder::Write(const uint8_t* data, size_t size) {
    if (FFinished) throw ELhaError("lh5 encoder: write after finish");
    FInput += size;
    while (size > 0) {
        if (FFill == kBufData + kMaxMatch) {
            Compress(false);
            Slide();
        }
        const size_t n = std::min(size, size_t(kBufData + kMaxMatch - FFill));
        std::memcpy(&FBuf[size_t(FFill)], data, n);
        FFill += int32_t(n);
        data += n;
        size -= n;
    }
    Compress(false);
}

void Lh5Encoder::Finish() {
    if (FFinished) return;
    Compress(true);
    if (FTokens > 0) WriteBlock(true);
    FBits.PadToByte();
    Drain();
    FFinished = true;
}

// Moves the window (and what lies ahead of it) to the front of the buffer.
void Lh5Encoder::Slide() {
    const int32_t delta = (FPos - kWindow) & ~kPrevMask;
    if (delta <= 0) return;
    std::memmove(FBuf.data(), FBuf.data() + delta, size_t(FFill - delta));
    FFill -= delta;
    FPos -= delta;
    for (int32_t& v : FHead) v = v >= delta ? v - delta : -1;
    for (int32_t& v : FPrev) v = v >= delta ? v - delta : -1;
}

// Enters the 3 bytes at `at` into the hash chains; returns the previous position with the
// same hash (or -1). FPrev has room for two windows, so a slot is only reused 16 KiB later,
// after every search that could reach it.
int32_t Lh5Encoder::Insert(int32_t at) {
    const uint32_t h = Hash3(&FBuf[size_t(at)]);
    const int32_t previous = FHead[h];
    FHead[h] = at;
    FPrev[size_t(at & kPrevMask)] = previous;
    return previous;
}

// The longest match for `at` that is longer than prevLen, or 0.
int Lh5Encoder::FindMatch(int32_t at, int32_t candidate, int maxLen, int prevLen,
                          int& distance) const {
    int best = std::max(prevLen, kMinMatch - 1);
    if (best >= maxLen) return 0;
    int chain = prevLen >= FOpt.GoodLength ? std::max(FOpt.MaxChain >> 2, 1) : FOpt.MaxChain;
    const int32_t oldest = at - kWindow;
    const uint8_t* cur = &FBuf[size_t(at)];
    int found = 0;
    while (candidate >= oldest && candidate >= 0) {
        const uint8_t* m = &FBuf[size_t(candidate)];
        if (m[best] == cur[best] && m[0] == cur[0] && m[1] == cur[1] && m[2] == cur[2]) {
            const int len = MatchLength(m, cur, maxLen);
            if (len > best) {
                best = found = len;
                distance = at - candidate;
                if (len >= FOpt.NiceLength || len >= maxLen) break;
            }
        }
        if (--chain <= 0) break;
        const int32_t next = FPrev[size_t(candidate & kPrevMask)];
        if (next >= candidate) break; // a slot reused by a newer position: the chain ends
        candidate = next;
    }
    return found;
}

void Lh5Encoder::Compress(bool final) {
    // Without the final bytes, stop where a longest match and the hash of its last bytes
    // still lie inside the data: then every choice is the same however the input is cut
    // into Write calls.
    const int32_t limit = final ? FFill : FFill - (kMaxMatch + kMinMatch);
    auto insertRange = [&](int32_t from, int32_t to) {
        to = std::min(to, FFill - (kMinMatch - 1));
        for (int32_t p = from; p < to; ++p) Insert(p);
    };
    while (FPos < limit) {
        const int avail = FFill - FPos;
        int curLen = 0, curDist = 0;
        if (avail >= kMinMatch) {
            const int32_t candidate = Insert(FPos);
            const int prevLen = FPending ? FPrevLen : 0;
            if (candidate >= 0 && (!FOpt.Lazy || prevLen < FOpt.MaxLazy)) {
                curLen = FindMatch(FPos, candidate, std::min(avail, kMaxMatch),
                                   FOpt.Lazy ? prevLen : 0, curDist);
            }
        }
        if (!FOpt.Lazy) {
            if (curLen >= kMinMatch) {
                Match(curLen, curDist);
                insertRange(FPos + 1, FPos + curLen);
                FPos += curLen;
            } else {
                Literal(FBuf[size_t(FPos)]);
                ++FPos;
            }
            continue;
        }
        if (FPending && FPrevLen >= kMinMatch && curLen <= FPrevLen) {
            Match(FPrevLen, FPrevDist);
            const int32_t end = FPos - 1 + FPrevLen;
            insertRange(FPos + 1, end);
            FPos = end;
            FPending = false;
            FPrevLen = 0;
        } else {
            if (FPending) Literal(FBuf[size_t(FPos - 1)]);
            FPending = true;
            FPrevLen = curLen;
            FPrevDist = curDist;
            ++FPos;
        }
    }
    if (final && FPending) {
        if (FPrevLen >= kMinMatch)
            Match(FPrevLen, FPrevDist);
        else
            Literal(FBuf[size_t(FPos - 1)]);
        FPending = false;
        FPrevLen = 0;
    }
}

// A full block is written when the next token arrives, so the last block is always
// written by Finish() and knows it is the last.
void Lh5Encoder::Literal(uint8_t byte) {
    if (FTokens == FOpt.BlockTokens) WriteBlock(false);
    FSym[size_t(FTokens)] = byte;
    ++FCFreq[byte];
    ++FTokens;
}

void Lh5Encoder::Match(int length, int distance) {
    if (FTokens == FOpt.BlockTokens) WriteBlock(false);
    const int sym = 256 + length - kMinMatch;
    const unsigned p = unsigned(distance - 1);
    FSym[size_t(FTokens)] = uint16_t(sym);
    FDist[size_t(FTokens)] = uint16_t(p);
    ++FCFreq[sym];
    ++FPFreq[PositionClass(p)];
    ++FTokens;
}

void Lh5Encoder::WriteBlock(bool last) {
    uint8_t cLen[kNC], pLen[kNP], tLen[kNT];
    uint16_t cCode[kNC], pCode[kNP], tCode[kNT];
    BitWriter& bw = FBits;
    const uint64_t blockStart = (FOutput + bw.Bytes().size()) * 8 + uint64_t(bw.PendingBits());

    // The format has a one-symbol form for each table, but libarchive 3.6 rejects it for the
    // literal/length table and for the code-length table (tested): there a lone symbol gets
    // a partner of the same length, making a complete two-symbol code (one bit per use).
    const int cUsed = BuildCodeLengths(FCFreq, cLen);
    if (cUsed == 1) {
        const int only =
            int(std::find_if(FCFreq, FCFreq + kNC, [](uint32_t f) { return f; }) - FCFreq);
        cLen[only] = 1;
        cLen[only == 0 ? 1 : 0] = 1;
    }
    // Run-length code the literal/length code lengths with the 19-symbol alphabet:
    // 0 = one zero, 1 = 3..18 zeros (4 bits), 2 = 20..531 zeros (9 bits), 3+L = length L.
    int n = kNC;
    while (cLen[n - 1] == 0) --n;
    // libarchive 3.6 also rejects a table of fewer than 3 lengths (symbols 0 and 1 only):
    // send zero lengths up to 3, which every decoder reads as unused symbols.
    n = std::max(n, 3);
    LengthItem items[kNC];
    int count = 0;
    uint32_t tFreq[kNT] = {};
    auto add = [&](int symbol, int extraBits, int extra) {
        items[count++] = {uint8_t(symbol), uint8_t(extraBits), uint16_t(extra)};
        ++tFreq[symbol];
    };
    for (int i = 0; i < n;) {
        if (cLen[i] != 0) {
            add(cLen[i] + 2, 0, 0);
            ++i;
            continue;
        }
        int run = 1;
        while (i + run < n && cLen[i + run] == 0) ++run;
        i += run;
        if (run <= 2) {
            for (int k = 0; k < run; ++k) add(0, 0, 0);
        } else if (run <= 18) {
            add(1, 4, run - 3);
        } else if (run == 19) {
            add(0, 0, 0);
            add(1, 4, 15);
        } else {
            add(2, 9, run - 20);
        }
    }
    if (BuildCodeLengths(tFreq, tLen) == 1) {
        tLen[items[0].symbol] = 1;
        tLen[items[0].symbol == 0 ? 1 : 0] = 1;
    }
    AssignCanonicalCodes(tLen, tCode);
    AssignCanonicalCodes(cLen, cCode);

    // The position table: its one-symbol form (also for "no matches") works everywhere.
    int pUsed = BuildCodeLengths(FPFreq, pLen);
    int pCount = kNP;
    while (pCount > 0 && pLen[pCount - 1] == 0) --pCount;

    // Bits of the block as planned so far.
    uint64_t bits = 16 + LengthListBits(tLen, kNT, kTBits, 3) + kCBits;
    for (int k = 0; k < count; ++k) bits += tLen[items[k].symbol] + items[k].extraBits;
    for (int s = 0; s < kNC; ++s) bits += uint64_t(FCFreq[s]) * cLen[s];
    auto positionBits = [&] {
        uint64_t b = pUsed <= 1 ? 2 * kPBits : 0;
        if (pUsed > 1) {
            b = kPBits;
            for (int i = 0; i < pCount; ++i) b += pLen[i] <= 6 ? 3 : pLen[i] - 3;
        }
        for (int k = 0; k < kNP; ++k)
            b += uint64_t(FPFreq[k]) * (pLen[k] + (k > 1 ? k - 1 : 0));
        return b;
    };
    // libarchive 3.6 fails when a block starts less than 64 bits before the end of the data
    // (it wants to read ahead 8 bytes). The last block is made long enough by sending the
    // position table as a full list, with zero lengths up to the 14 entries (3 bits each).
    auto endGap = [&](uint64_t blockBits) {
        return (blockStart + blockBits + 7) / 8 * 8 - blockStart;
    };
    if (last && endGap(bits + positionBits()) < 64) {
        if (pUsed <= 1) {
            const int only =
                pUsed ? int(std::find_if(FPFreq, FPFreq + kNP, [](uint32_t f) { return f; }) -
                            FPFreq)
                      : 0;
            pLen[only] = 1;
            pLen[only == 0 ? 1 : 0] = 1;
            pUsed = 2;
            pCount = std::max(only, 1) + 1;
        }
        while (pCount < kNP && endGap(bits + positionBits()) < 64) ++pCount;
    }
    if (pUsed > 1) AssignCanonicalCodes(pLen, pCode);

    bw.Put(16, uint32_t(FTokens));
    PutLengthList(bw, tLen, kNT, kTBits, 3);
    bw.Put(kCBits, uint32_t(n));
    for (int k = 0; k < count; ++k) {
        const LengthItem& it = items[k];
        bw.Put(tLen[it.symbol], tCode[it.symbol]);
        if (it.extraBits) bw.Put(it.extraBits, it.extra);
    }
    if (pUsed <= 1) {
        const int only =
            int(std::find_if(FPFreq, FPFreq + kNP, [](uint32_t f) { return f; }) - FPFreq);
        bw.Put(kPBits, 0);
        bw.Put(kPBits, pUsed ? uint32_t(only) : 0);
        std::fill(std::begin(pLen), std::end(pLen), uint8_t(0));
        std::fill(std::begin(pCode), std::end(pCode), uint16_t(0));
    } else {
        PutLengthList(bw, pLen, pCount, kPBits, -1, true);
    }

    for (int k = 0; k < FTokens; ++k) {
        const unsigned sym = FSym[size_t(k)];
        bw.Put(cLen[sym], cCode[sym]);
        if (sym >= 256) {
            const unsigned p = FDist[size_t(k)];
            const int cls = PositionClass(p);
            bw.Put(pLen[cls], pCode[cls]);
            if (cls > 1) bw.Put(cls - 1, p & ((1u << (cls - 1)) - 1));
        }
        if ((k & 4095) == 4095) Drain();
    }
    FTokens = 0;
    std::fill(std::begin(FCFreq), std::end(FCFreq), 0u);
    std::fill(std::begin(FPFreq), std::end(FPFreq), 0u);
    Drain();
}

void Lh5Encoder::Drain() {
    std::vector<uint8_t>& bytes = FBits.Bytes();
    if (bytes.empty()) return;
    FOutput += bytes.size();
    FSink(bytes.data(), bytes.size());
    bytes.clear();
}

std::vector<uint8_t> CompressLh5(std::span<const uint8_t> data, const Lh5Options& options) {
    std::vector<uint8_t> out;
    Lh5Encoder enc([&](const uint8_t* p, size_t n) { out.insert(out.end(), p, p + n); }, options);
    enc.Write(data.data(), data.size());
    enc.Finish();
    return out;
}

} // namespace pictor::lha
