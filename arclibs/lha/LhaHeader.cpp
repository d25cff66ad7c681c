#include "lha/LhaHeader.h"

#include "lha/Crc16.h"
#include "lha/LhaError.h"
#include "lha/NameCodec.h"

#include <cstring>
#include <ctime>

namespace pictor::lha {

namespace {

void Put16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    b[at] = uint8_t(v);
    b[at + 1] = uint8_t(v >> 8);
}
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(v >> (8 * i));
}
uint32_t Get16(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }
uint32_t Get32(const uint8_t* p) { return Get16(p) | Get16(p + 2) << 16; }
uint64_t Get64(const uint8_t* p) { return uint64_t(Get32(p)) | uint64_t(Get32(p + 4)) << 32; }

// Appends one extension item: its size (2), type (1) and payload.
void AddExtension(std::vector<uint8_t>& h, uint8_t type, const void* payload, size_t size) {
    const size_t at = h.size();
    h.resize(at + 3 + size);
    Put16(h, at, uint32_t(3 + size));
    h[at + 2] = type;
    if (size) std::memcpy(&h[at + 3], payload, size);
}

[[noreturn]] void Damaged(uint64_t offset, const char* what) {
    throw ELhaError("Damaged LHA archive (member header at offset " + std::to_string(offset) +
                    "): " + what);
}

} // namespace

std::vector<uint8_t> BuildLevel2Header(const THeaderFields& f) {
    if (f.Method.size() != 5) throw ELhaError("LHA method id must have 5 characters");
    std::vector<uint8_t> h(24, 0);
    std::memcpy(&h[2], f.Method.data(), 5);
    Put32(h, 7, f.PackedSize);
    Put32(h, 11, f.OriginalSize);
    Put32(h, 15, f.MTime);
    h[19] = 0x20; // fixed in levels 1..3; readers check it
    h[20] = 2;
    Put16(h, 21, f.DataCrc);
    h[23] = 'U';
    // Extensions, each [size][type][payload]; the first size field is at offset 24.
    const uint8_t zeroCrc[2] = {0, 0};
    AddExtension(h, 0x00, zeroCrc, 2);
    const size_t crcAt = 24 + 3;
    AddExtension(h, 0x01, f.Name.data(), f.Name.size());
    if (!f.Directory.empty()) {
        std::string dir = f.Directory;
        for (char& c : dir)
            if (c == '/') c = char(0xFF);
        dir.push_back(char(0xFF));
        AddExtension(h, 0x02, dir.data(), dir.size());
    }
    if (f.CodePage) {
        uint8_t cp[4] = {uint8_t(f.CodePage), uint8_t(f.CodePage >> 8),
                         uint8_t(f.CodePage >> 16), uint8_t(f.CodePage >> 24)};
        AddExtension(h, 0x46, cp, 4);
    }
    const uint8_t mode[2] = {uint8_t(f.UnixMode), uint8_t(f.UnixMode >> 8)};
    AddExtension(h, 0x50, mode, 2);
    const uint8_t mtime[4] = {uint8_t(f.MTime), uint8_t(f.MTime >> 8), uint8_t(f.MTime >> 16),
                              uint8_t(f.MTime >> 24)};
    AddExtension(h, 0x54, mtime, 4);
    h.push_back(0); // the chain's terminating zero size
    h.push_back(0);
    // Old readers take a header whose first byte is 0 for the end of the archive.
    if ((h.size() & 0xFF) == 0) h.push_back(0);
    if (h.size() > kMaxHeaderSize) throw ELhaError("LHA member name too long for its header");
    Put16(h, 0, uint32_t(h.size()));
    const uint16_t crc = Crc16(h.data(), h.size());
    Put16(h, crcAt, crc);
    return h;
}

int64_t DosTimeToUnix(uint32_t stamp) {
    std::tm tm{};
    tm.tm_sec = int(stamp & 0x1F) * 2;
    tm.tm_min = int(stamp >> 5) & 0x3F;
    tm.tm_hour = int(stamp >> 11) & 0x1F;
    tm.tm_mday = int(stamp >> 16) & 0x1F;
    tm.tm_mon = int((stamp >> 21) & 0x0F) - 1;
    tm.tm_year = int(stamp >> 25) + 80;
    tm.tm_isdst = -1;
    const time_t t = std::mktime(&tm);
    return t == time_t(-1) ? 0 : int64_t(t);
}

namespace {

// Names as found in a header, before decoding.
struct TRawNames {
    std::string Directory, Name;
    uint32_t CodePage = 0;
    bool HaveName = false;
};

std::string DecodePart(const std::string& bytes, uint32_t codePage) {
    if (codePage == kCodePageUtf8 && IsValidUtf8(bytes)) return bytes;
    if (codePage == 0 || codePage == kCodePageCp932)
        if (auto s = Cp932ToUtf8(bytes)) return *s;
    return bytes; // undecodable: compared byte for byte
}

std::string MemberPath(const TRawNames& raw) {
    std::string path = DecodePart(raw.Directory, raw.CodePage);
    const std::string name = DecodePart(raw.Name, raw.CodePage);
    if (!path.empty() && path.back() != '/' && !name.empty()) path.push_back('/');
    path += name;
    for (char& c : path)
        if (c == '\\') c = '/';
    while (!path.empty() && path.back() == '/') path.pop_back();
    return path;
}

// Extension values that matter here.
struct TExtensions {
    size_t CrcField = 0; // offset of the header CRC inside the header, 0 when absent
    bool HaveMTime = false;
    int64_t MTime = 0;
    bool HaveSizes = false;
    uint64_t PackedSize = 0, OriginalSize = 0;
};

// Reads the chain of extension items [size][type 1][payload] whose first size field is at
// `at` in h; sizes have `width` bytes (2, or 4 in level 3). With `more`, h is grown by
// reading further bytes as the chain goes on (level 1, where the extensions follow the base
// header); otherwise the chain must lie inside h.
void ParseExtensions(std::vector<uint8_t>& h, size_t at, size_t width, uint64_t offset,
                     const std::function<void(size_t)>& more, TRawNames& names,
                     TExtensions& ext) {
    for (;;) {
        if (at + width > h.size()) Damaged(offset, "extended header past the header's end");
        const uint64_t size = width == 2 ? Get16(&h[at]) : Get32(&h[at]);
        if (size == 0) return;
        if (size < width + 1) Damaged(offset, "extended header too short");
        if (more) more(size_t(at + size + width));
        if (at + size > h.size()) Damaged(offset, "extended header past the header's end");
        const uint8_t type = h[at + width];
        const uint8_t* payload = &h[at + width + 1];
        const size_t len = size_t(size) - width - 1;
        switch (type) {
        case 0x00:
            if (len >= 2) ext.CrcField = at + width + 1;
            break;
        case 0x01:
            names.Name.assign(reinterpret_cast<const char*>(payload), len);
            names.HaveName = true;
            break;
        case 0x02:
            names.Directory.assign(reinterpret_cast<const char*>(payload), len);
            for (char& c : names.Directory)
                if (c == char(0xFF)) c = '/';
            break;
        case 0x41:
            if (len >= 24) { // FILETIMEs: creation, last write, last access
                const uint64_t ticks = Get64(payload + 8);
                ext.MTime = int64_t(ticks / 10000000) - 11644473600LL;
                ext.HaveMTime = true;
            }
            break;
        case 0x42:
            if (len >= 16) {
                ext.PackedSize = Get64(payload);
                ext.OriginalSize = Get64(payload + 8);
                ext.HaveSizes = true;
            }
            break;
        case 0x46:
            if (len == 4) names.CodePage = Get32(payload);
            break;
        case 0x54:
            if (len == 4 && !ext.HaveMTime) {
                ext.MTime = int64_t(Get32(payload));
                ext.HaveMTime = true;
            }
            break;
        default:
            break;
        }
        at += size_t(size);
    }
}

uint8_t ByteSum(const uint8_t* p, size_t n) {
    unsigned s = 0;
    for (size_t i = 0; i < n; ++i) s += p[i];
    return uint8_t(s);
}

} // namespace

std::vector<TArchiveMember> ScanArchive(const TReadAt& read, uint64_t fileSize) {
    // Bounds the memory a hostile archive of tiny members can make us use.
    constexpr size_t kMaxMembers = 1000000;
    constexpr size_t kMaxLevel1Header = 1 << 20;
    std::vector<TArchiveMember> members;
    uint64_t offset = 0;
    auto readExactly = [&](std::vector<uint8_t>& h, size_t from, size_t to) {
        if (to > h.size()) {
            h.resize(to);
            if (offset + to > fileSize || read(offset + from, &h[from], to - from) != to - from)
                Damaged(offset, "truncated header");
        }
    };
    while (offset < fileSize) {
        uint8_t first = 0;
        if (read(offset, &first, 1) != 1 || first == 0) break; // end of the archive
        std::vector<uint8_t> h;
        readExactly(h, 0, 22);
        TArchiveMember m;
        m.Offset = offset;
        m.Level = h[20];
        m.Method.assign(reinterpret_cast<const char*>(&h[2]), 5);
        if (m.Method.size() != 5 || m.Method[0] != '-' || m.Method[4] != '-')
            Damaged(offset, "not an LHA member header");
        TRawNames names;
        TExtensions ext;
        switch (m.Level) {
        case 0: {
            const size_t size = size_t(h[0]) + 2;
            readExactly(h, 22, size);
            const size_t n = h[21];
            if (size < 24 + n) Damaged(offset, "name longer than the header");
            if (ByteSum(&h[2], size - 2) != h[1]) Damaged(offset, "header checksum error");
            names.Name.assign(reinterpret_cast<const char*>(&h[22]), n);
            m.PackedSize = Get32(&h[7]);
            m.MTime = DosTimeToUnix(Get32(&h[15]));
            m.DosTime = true;
            // Unix tools add 'U', a version byte and the Unix mtime after the CRC.
            const size_t u = 24 + n;
            if (size >= u + 6 && h[u] == 'U') {
                m.MTime = Get32(&h[u + 2]);
                m.DosTime = false;
            }
            m.HeaderSize = size;
            break;
        }
        case 1: {
            const size_t base = size_t(h[0]) + 2;
            readExactly(h, 22, base);
            const size_t n = h[21];
            if (base < 27 + n) Damaged(offset, "name longer than the header");
            if (ByteSum(&h[2], base - 2) != h[1]) Damaged(offset, "header checksum error");
            names.Name.assign(reinterpret_cast<const char*>(&h[22]), n);
            m.MTime = DosTimeToUnix(Get32(&h[15]));
            m.DosTime = true;
            ParseExtensions(h, base - 2, 2, offset,
                            [&](size_t need) {
                                if (need > kMaxLevel1Header) Damaged(offset, "header too large");
                                readExactly(h, h.size(), need);
                            },
                            names, ext);
            // The level-1 skip size counts the extensions as well as the data.
            const uint64_t extensions = h.size() - base;
            const uint64_t skip = Get32(&h[7]);
            if (skip < extensions) Damaged(offset, "extended headers larger than the member");
            m.PackedSize = ext.HaveSizes ? ext.PackedSize : skip - extensions;
            m.HeaderSize = h.size();
            break;
        }
        case 2:
        case 3: {
            // Level 2: 16-bit total size at 0, extensions from 24. Level 3: a word size of 4
            // at 0, 32-bit total size at 24, extensions with 32-bit sizes from 28.
            size_t size, first, width;
            if (m.Level == 2) {
                size = Get16(&h[0]);
                first = 24;
                width = 2;
                if (size < 26) Damaged(offset, "header too short");
            } else {
                readExactly(h, 22, 32);
                const uint64_t total = Get32(&h[24]);
                if (Get16(&h[0]) != 4) Damaged(offset, "not a level-3 header");
                if (total < 32 || total > kMaxLevel1Header) Damaged(offset, "bad header size");
                size = size_t(total);
                first = 28;
                width = 4;
            }
            readExactly(h, h.size(), size);
            ParseExtensions(h, first, width, offset, nullptr, names, ext);
            if (ext.CrcField) {
                const uint16_t stored = uint16_t(Get16(&h[ext.CrcField]));
                h[ext.CrcField] = h[ext.CrcField + 1] = 0;
                if (Crc16(h.data(), h.size()) != stored) Damaged(offset, "header CRC error");
            }
            m.PackedSize = ext.HaveSizes ? ext.PackedSize : Get32(&h[7]);
            m.MTime = int64_t(Get32(&h[15]));
            m.HeaderSize = size;
            break;
        }
        default:
            Damaged(offset, "unknown header level");
        }
        if (ext.HaveMTime) {
            m.MTime = ext.MTime;
            m.DosTime = false;
        }
        m.OriginalSize = ext.HaveSizes ? ext.OriginalSize : Get32(&h[11]);
        m.Directory = m.Method == "-lhd-";
        m.Path = MemberPath(names);
        if (m.PackedSize > fileSize || m.End() > fileSize)
            Damaged(offset, "member data runs past the end of the file");
        if (members.size() >= kMaxMembers) throw ELhaError("LHA archive has too many members");
        offset = m.End();
        members.push_back(std::move(m));
    }
    return members;
}

} // namespace pictor::lha
