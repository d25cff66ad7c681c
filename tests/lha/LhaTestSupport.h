#pragma once

// Helpers for the LHA tests: a plain -lh5- decoder written from the format description
// (a second opinion beside libarchive), libarchive reading, and the external tools.

#include "lha/LhaHeader.h"

#include <archive.h>
#include <archive_entry.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace lha_test {

// Bit-by-bit CRC-16/ARC, the definition itself.
inline uint16_t PlainCrc16(const std::string& s) {
    uint16_t crc = 0;
    for (unsigned char c : s) {
        crc ^= c;
        for (int k = 0; k < 8; ++k) crc = (crc & 1) ? uint16_t((crc >> 1) ^ 0xA001) : crc >> 1;
    }
    return crc;
}

inline std::string RandomBytes(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (char& c : s) c = char(rng());
    return s;
}

// ---- reference decoder -------------------------------------------------------------------

class PlainBits {
public:
    explicit PlainBits(const std::string& d) : FData(d) {}
    unsigned Get(int n) {
        unsigned v = 0;
        for (int i = 0; i < n; ++i) {
            if (FPos >= FData.size() * 8) throw std::runtime_error("read past the packed data");
            const unsigned bit = (uint8_t(FData[FPos / 8]) >> (7 - FPos % 8)) & 1;
            v = v << 1 | bit;
            ++FPos;
        }
        return v;
    }
    size_t Position() const { return FPos; }

private:
    const std::string& FData;
    size_t FPos = 0;
};

// A canonical Huffman table; a single-symbol table decodes with no bits.
struct PlainTable {
    std::vector<int> len;
    int single = -1;
    // Canonical decoding: per length, the first code and the symbols in symbol order.
    unsigned first[17] = {}, count[17] = {}, offset[17] = {};
    std::vector<int> sorted;
    void Prepare() {
        uint64_t kraft = 0;
        for (int l : len)
            if (l) kraft += uint64_t(1) << (16 - l), ++count[l];
        if (kraft != (uint64_t(1) << 16)) throw std::runtime_error("incomplete Huffman table");
        unsigned code = 0, at = 0;
        for (int l = 1; l <= 16; ++l) {
            code = (code + count[l - 1]) << 1;
            first[l] = code;
            offset[l] = at;
            at += count[l];
        }
        for (int l = 1; l <= 16; ++l)
            for (size_t s = 0; s < len.size(); ++s)
                if (len[s] == l) sorted.push_back(int(s));
    }
    int Decode(PlainBits& b) const {
        if (single >= 0) return single;
        unsigned code = 0;
        for (int l = 1; l <= 16; ++l) {
            code = code << 1 | b.Get(1);
            if (code - first[l] < count[l]) return sorted[offset[l] + code - first[l]];
        }
        throw std::runtime_error("no such code");
    }
};

inline PlainTable ReadShortLengths(PlainBits& b, int size, int countBits, int special) {
    PlainTable t;
    t.len.assign(size_t(size), 0);
    const int n = int(b.Get(countBits));
    if (n == 0) {
        t.single = int(b.Get(countBits));
        if (t.single >= size) throw std::runtime_error("single symbol out of range");
        return t;
    }
    if (n > size) throw std::runtime_error("length count too large");
    for (int i = 0; i < n;) {
        int l = int(b.Get(3));
        if (l == 7)
            while (b.Get(1)) ++l;
        if (l > 16) throw std::runtime_error("code longer than 16");
        t.len[size_t(i++)] = l;
        if (i == special)
            for (int z = int(b.Get(2)); z > 0 && i < n; --z) t.len[size_t(i++)] = 0;
    }
    t.Prepare();
    return t;
}

// Decodes -lh5- data of `original` bytes; *usedBits is set to the bits consumed and
// *lastBlock (when given) to the bit where the last block starts.
inline std::string PlainDecodeLh5(const std::string& packed, size_t original, size_t* usedBits,
                                  size_t* lastBlock = nullptr) {
    PlainBits b(packed);
    std::string out;
    while (out.size() < original) {
        if (lastBlock) *lastBlock = b.Position();
        const unsigned tokens = b.Get(16);
        if (tokens == 0) throw std::runtime_error("block of 0 tokens");
        const PlainTable pt = ReadShortLengths(b, 19, 5, 3);
        PlainTable c;
        c.len.assign(510, 0);
        const int n = int(b.Get(9));
        if (n == 0) {
            c.single = int(b.Get(9));
        } else {
            for (int i = 0; i < n;) {
                const int s = pt.Decode(b);
                if (s <= 2) {
                    int run = s == 0 ? 1 : s == 1 ? int(b.Get(4)) + 3 : int(b.Get(9)) + 20;
                    while (run-- > 0 && i < n) c.len[size_t(i++)] = 0;
                } else {
                    c.len[size_t(i++)] = s - 2;
                }
            }
            c.Prepare();
        }
        const PlainTable p = ReadShortLengths(b, 14, 4, -1);
        for (unsigned t = 0; t < tokens; ++t) {
            const int sym = c.Decode(b);
            if (sym < 256) {
                out.push_back(char(sym));
                continue;
            }
            const int length = sym - 253;
            const int k = p.Decode(b);
            const unsigned pos = k <= 1 ? unsigned(k) : (1u << (k - 1)) | b.Get(k - 1);
            if (pos + 1 > out.size()) throw std::runtime_error("match before the data");
            for (int i = 0; i < length; ++i) out.push_back(out[out.size() - pos - 1]);
        }
        if (out.size() > original) throw std::runtime_error("more data than the original size");
    }
    *usedBits = b.Position();
    return out;
}

// ---- libarchive ----------------------------------------------------------------------------

struct ArEntry {
    std::string path, data;
    bool directory = false;
    int64_t mtime = 0;
    int mode = 0;
};

// Every entry with its data; any warning or error (CRC errors are warnings) throws.
inline std::vector<ArEntry> ReadWithLibarchive(const std::string& bytes) {
    std::setlocale(LC_ALL, "C.UTF-8"); // names come out as UTF-8
    archive* a = archive_read_new();
    archive_read_support_format_lha(a);
    std::vector<ArEntry> entries;
    std::string error;
    if (archive_read_open_memory(a, bytes.data(), bytes.size()) != ARCHIVE_OK) {
        error = archive_error_string(a) ? archive_error_string(a) : "open failed";
    } else {
        archive_entry* e;
        for (;;) {
            const int r = archive_read_next_header(a, &e);
            if (r == ARCHIVE_EOF) break;
            if (r != ARCHIVE_OK) {
                error = archive_error_string(a) ? archive_error_string(a) : "header failed";
                break;
            }
            ArEntry x;
            x.path = archive_entry_pathname(e) ? archive_entry_pathname(e) : "";
            x.directory = archive_entry_filetype(e) == AE_IFDIR;
            x.mtime = archive_entry_mtime(e);
            x.mode = int(archive_entry_mode(e));
            char buf[65536];
            la_ssize_t n;
            while ((n = archive_read_data(a, buf, sizeof buf)) > 0) x.data.append(buf, size_t(n));
            if (n < 0 || archive_errno(a) != 0) {
                error = archive_error_string(a) ? archive_error_string(a) : "data failed";
                break;
            }
            entries.push_back(std::move(x));
        }
    }
    archive_read_free(a);
    if (!error.empty()) throw std::runtime_error("libarchive: " + error);
    return entries;
}

// ---- external tools ------------------------------------------------------------------------

inline bool HaveTool(const std::string& name) {
    return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

// Runs a shell command; returns its exit status and puts stdout+stderr into *output.
inline int Shell(const std::string& command, std::string* output = nullptr) {
    FILE* p = popen((command + " 2>&1").c_str(), "r");
    if (!p) return -1;
    std::string text;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) text.append(buf, n);
    const int status = pclose(p);
    if (output) *output = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// The members our own header scan finds in archive bytes held in memory.
inline std::vector<pictor::lha::TArchiveMember> ScanBytes(const std::string& archive) {
    return pictor::lha::ScanArchive(
        [&](uint64_t off, void* buf, size_t n) -> size_t {
            if (off >= archive.size()) return 0;
            n = std::min<size_t>(n, archive.size() - size_t(off));
            std::memcpy(buf, archive.data() + off, n);
            return n;
        },
        archive.size());
}

} // namespace lha_test
