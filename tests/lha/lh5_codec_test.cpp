// The pieces of the -lh5- coder: CRC-16, Huffman code lengths, canonical codes, and whole
// streams checked against the plain decoder in LhaTestSupport.h.
#include "LhaTestSupport.h"

#include "lha/Crc16.h"
#include "lha/Huffman.h"
#include "lha/Lh5Encoder.h"

#include <algorithm>
#include <bitset>
#include <queue>

using namespace pictor::lha;
using namespace lha_test;

namespace {

std::span<const uint8_t> Bytes(const std::string& s) {
    return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}
std::string Str(const std::vector<uint8_t>& v) { return {v.begin(), v.end()}; }

// Total bits of an unrestricted Huffman code, the textbook way (merge the two lightest).
uint64_t OptimalBits(const std::vector<uint32_t>& freq) {
    std::priority_queue<uint64_t, std::vector<uint64_t>, std::greater<>> q;
    for (uint32_t f : freq)
        if (f) q.push(f);
    uint64_t bits = 0;
    while (q.size() > 1) {
        const uint64_t a = q.top();
        q.pop();
        const uint64_t b = q.top();
        q.pop();
        bits += a + b;
        q.push(a + b);
    }
    return bits;
}

uint64_t Kraft(const std::vector<uint8_t>& len) {
    uint64_t k = 0;
    for (uint8_t l : len)
        if (l) k += uint64_t(1) << (16 - l);
    return k;
}

} // namespace

TEST(Lh5Crc, KnownVectorsPiecesAndTheBitwiseDefinition) {
    EXPECT_EQ(Crc16("123456789", 9), 0xBB3D);
    EXPECT_EQ(Crc16("", 0), 0);
    EXPECT_EQ(Crc16("a", 1), 0xE8C1);
    for (size_t n : {1u, 3u, 4u, 5u, 63u, 1000u}) {
        const std::string s = RandomBytes(n, uint32_t(n));
        EXPECT_EQ(Crc16(s.data(), n), PlainCrc16(s)) << n;
        const size_t cut = n / 3;
        EXPECT_EQ(Crc16(s.data() + cut, n - cut, Crc16(s.data(), cut)), PlainCrc16(s)) << n;
    }
}

TEST(Lh5Huffman, LengthsAreOptimalCompleteAndLimited) {
    std::mt19937 rng(7);
    for (int round = 0; round < 200; ++round) {
        std::vector<uint32_t> freq(size_t(2 + rng() % 509));
        for (uint32_t& f : freq) f = rng() % 3 == 0 ? 0 : 1 + rng() % (round % 2 ? 50 : 5000);
        std::vector<uint8_t> len(freq.size());
        const int used = BuildCodeLengths(freq, len);
        ASSERT_EQ(used, int(std::count_if(freq.begin(), freq.end(), [](uint32_t f) { return f; })));
        if (used < 2) continue;
        uint64_t bits = 0;
        for (size_t s = 0; s < freq.size(); ++s) {
            ASSERT_EQ(len[s] == 0, freq[s] == 0);
            bits += uint64_t(freq[s]) * len[s];
        }
        EXPECT_EQ(Kraft(len), 1u << 16);
        if (*std::max_element(len.begin(), len.end()) < 16) {
            EXPECT_EQ(bits, OptimalBits(freq));
        }
    }
    // Fibonacci weights make a 29-deep tree: limited to 16 and still complete, and the
    // repair stays close to the unrestricted optimum.
    std::vector<uint32_t> fib(30);
    fib[0] = fib[1] = 1;
    for (size_t i = 2; i < fib.size(); ++i) fib[i] = fib[i - 1] + fib[i - 2];
    std::vector<uint8_t> len(fib.size());
    BuildCodeLengths(fib, len);
    EXPECT_EQ(*std::max_element(len.begin(), len.end()), 16);
    EXPECT_EQ(Kraft(len), 1u << 16);
    uint64_t bits = 0;
    for (size_t s = 0; s < fib.size(); ++s) bits += uint64_t(fib[s]) * len[s];
    EXPECT_LT(double(bits), 1.01 * double(OptimalBits(fib)));
    // One used symbol: length 0, the caller sends the one-symbol form.
    std::vector<uint32_t> one(14, 0);
    one[5] = 9;
    std::vector<uint8_t> oneLen(14, 7);
    EXPECT_EQ(BuildCodeLengths(one, oneLen), 1);
    EXPECT_EQ(std::count(oneLen.begin(), oneLen.end(), 0), 14);
}

TEST(Lh5Huffman, CanonicalCodesFollowLengthThenSymbol) {
    auto codes = [](std::vector<uint8_t> len) {
        std::vector<uint16_t> code(len.size());
        AssignCanonicalCodes(len, code);
        return code;
    };
    EXPECT_EQ(codes({2, 1, 3, 3}), (std::vector<uint16_t>{0b10, 0b0, 0b110, 0b111}));
    EXPECT_EQ(codes({3, 0, 2, 3, 2, 3, 3}),
              (std::vector<uint16_t>{0b100, 0, 0b00, 0b101, 0b01, 0b110, 0b111}));
}

// "abcabcabcabc": literals a, b, c and one match of 9 at distance 3, every part of a block
// in its smallest form. The bits, written out from the format description:
TEST(Lh5Stream, WorkedExampleBitForBit) {
    const std::string bits =
        "0000000000000100"                    // 4 tokens
        "00101" "000" "000" "001" "01" "001"  // code-length code: 5 entries, 0 0 1, skip 1, 1
        "100000111"                           // 263 literal/length code lengths
        "0" "001001101"                       // 97 zeros (symbol 2, 97 - 20)
        "1" "1" "1"                           // a, b, c: length 2
        "0" "010001110"                       // 162 zeros
        "1"                                   // symbol 262: length 2
        "0000" "0010"                         // positions: one class, 2
        "00" "01" "10" "11" "0"               // a b c, match (class 2 costs no bits), extra 0
        "000";                                // padding to the byte
    std::string expected;
    for (size_t i = 0; i < bits.size(); i += 8)
        expected.push_back(char(std::bitset<8>(bits.substr(i, 8)).to_ulong()));
    EXPECT_EQ(Str(CompressLh5(Bytes("abcabcabcabc"))), expected);
}

struct StreamCase {
    const char* name;
    std::string data;
};

std::vector<StreamCase> StreamCases() {
    std::string text;
    std::mt19937 rng(3);
    const char* words[] = {"picture ", "browser ", "archive ", "LHA ", "window ", "the ", "of ",
                           "\n", "folder ", "thumbnail ", "圧縮 ", "解凍 "};
    while (text.size() < 150000) text += words[rng() % 12];
    std::string all256;
    for (int i = 0; i < 256; ++i) all256.push_back(char(i));
    // The only repeat of this block is exactly one window (8192 bytes) back.
    const std::string block = RandomBytes(8192, 11);
    std::string mixed = RandomBytes(200000, 5) + text + std::string(70000, '\0') + text.substr(0, 90000);
    return {{"one_byte", "x"},
            {"abc", "abc"},
            {"all_byte_values", all256 + all256},
            {"long_run", std::string(5000, 'x') + "y" + std::string(300, 'x')},
            {"window_distance", block + block + "tail"},
            {"text", text},
            {"random", RandomBytes(70000, 9)},
            {"mixed_beyond_the_buffer", mixed}};
}

class Lh5StreamOptions : public testing::TestWithParam<int> {};

// Every case, with option sets that reach the one-token block, greedy parsing and the
// largest block, decodes back exactly and ends within the last byte.
TEST_P(Lh5StreamOptions, PlainDecoderGetsTheDataBack) {
    Lh5Options o;
    switch (GetParam()) {
    case 1: o.Lazy = false; break;
    case 2: o.BlockTokens = 1; break;
    case 3: o.BlockTokens = 65535; o.MaxChain = 1; break;
    case 4: o.BlockTokens = 300; o.NiceLength = 3; o.MaxLazy = 0; break;
    default: break;
    }
    for (const StreamCase& c : StreamCases()) {
        if (GetParam() == 2 && c.data.size() > 20000) continue; // the plain decoder is slow
        const std::string packed = Str(CompressLh5(Bytes(c.data), o));
        size_t used = 0;
        std::string back;
        ASSERT_NO_THROW(back = PlainDecodeLh5(packed, c.data.size(), &used)) << c.name;
        EXPECT_TRUE(back == c.data) << c.name;
        EXPECT_LT(packed.size() * 8 - used, 8u) << c.name << ": bytes after the last block";
    }
}
INSTANTIATE_TEST_SUITE_P(Options, Lh5StreamOptions, testing::Range(0, 5));

TEST(Lh5Stream, OutputDoesNotDependOnHowTheInputIsCut) {
    const std::string data = StreamCases().back().data;
    const std::vector<uint8_t> whole = CompressLh5(Bytes(data));
    std::vector<uint8_t> pieces;
    Lh5Encoder enc([&](const uint8_t* p, size_t n) { pieces.insert(pieces.end(), p, p + n); });
    std::mt19937 rng(1);
    for (size_t at = 0; at < data.size();) {
        const size_t n = std::min<size_t>(data.size() - at, 1 + rng() % 5000);
        enc.Write(reinterpret_cast<const uint8_t*>(data.data()) + at, n);
        at += n;
    }
    enc.Finish();
    EXPECT_EQ(pieces, whole);
    EXPECT_EQ(enc.InputSize(), data.size());
    EXPECT_EQ(enc.OutputSize(), whole.size());
}

TEST(Lh5Stream, FindsTheRepeats) {
    // A broken match finder still round-trips; these bounds catch it.
    EXPECT_LT(CompressLh5(Bytes(std::string(1 << 20, '\0'))).size(), 3000u);
    const std::string text = StreamCases()[5].data;
    EXPECT_LT(CompressLh5(Bytes(text)).size(), text.size() / 4);
    const std::string twice = RandomBytes(6000, 2) + RandomBytes(6000, 2);
    EXPECT_LT(CompressLh5(Bytes(twice)).size(), 6400u); // not 12000
}
