#pragma once

#include "lha/BitWriter.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace pictor::lha {

// Tuning of the match search and block size. The defaults were measured on a mix of text,
// programs and pictures: longer chains gain under 0.2 % for 20 % more time. The fuzz target
// varies them to reach every path.
struct Lh5Options {
    int MaxChain = 96;     // hash-chain candidates looked at per search
    int GoodLength = 32;   // after a match this long, the lazy search looks at a quarter
    int NiceLength = 256;  // a match this long ends the search
    int MaxLazy = 64;      // after a match this long, no lazy search at the next byte
    bool Lazy = true;      // one-step lazy matching (otherwise greedy)
    int BlockTokens = 8192; // tokens per block (1..65535): smaller blocks follow changes in
                            // the data better, each costs its tables
};

// Streaming -lh5- compressor: LZSS over an 8 KiB window (matches of 3..256 bytes) coded in
// blocks, each with its own static Huffman tables. Data goes in through Write(); the
// compressed bytes come out through the sink as blocks complete, and the rest at Finish().
// The stream ends on a byte boundary right after the last block, with no end marker, as the
// decoders expect: they stop at the original size or when the packed bytes run out. Tables
// and the last block are shaped so that libarchive 3.6 reads them too (see WriteBlock).
class Lh5Encoder {
public:
    using Sink = std::function<void(const uint8_t* data, size_t size)>;

    explicit Lh5Encoder(Sink sink, const Lh5Options& options = {});
    Lh5Encoder(const Lh5Encoder&) = delete;
    Lh5Encoder& operator=(const Lh5Encoder&) = delete;

    void Write(const uint8_t* data, size_t size);
    void Finish();

    uint64_t InputSize() const { return FInput; }
    uint64_t OutputSize() const { return FOutput; }

    static constexpr int kWindow = 8192;
    static constexpr int kMinMatch = 3;
    static constexpr int kMaxMatch = 256;
    static constexpr int kNC = 256 + kMaxMatch - kMinMatch + 1; // 510 literal/length symbols
    static constexpr int kNP = 14;                               // position classes 0..13

private:
    void Compress(bool final);
    void Slide();
    int32_t Insert(int32_t at);
    int FindMatch(int32_t at, int32_t candidate, int maxLen, int prevLen, int& distance) const;
    void Literal(uint8_t byte);
    void Match(int length, int distance);
    void WriteBlock(bool last);
    void Drain();

    Sink FSink;
    Lh5Options FOpt;
    std::vector<uint8_t> FBuf;
    int32_t FFill = 0, FPos = 0;
    std::vector<int32_t> FHead, FPrev;
    // Lazy-matching state: a match found at FPos - 1 that may still lose to one at FPos.
    bool FPending = false;
    int FPrevLen = 0, FPrevDist = 0;
    // Tokens of the block being gathered: symbol, and position code (distance - 1) for matches.
    std::vector<uint16_t> FSym, FDist;
    int FTokens = 0;
    uint32_t FCFreq[kNC] = {}, FPFreq[kNP] = {};
    BitWriter FBits;
    uint64_t FInput = 0, FOutput = 0;
    bool FFinished = false;
};

// Compresses a whole buffer at once.
std::vector<uint8_t> CompressLh5(std::span<const uint8_t> data, const Lh5Options& options = {});

} // namespace pictor::lha
