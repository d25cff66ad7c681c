#include "ArchiveReader.h"

#include "ArcError.h"
#include "CabCheck.h"
#include "NameText.h"
#include "archives/ArchiverApi.h"

#include <algorithm>
#include <archive.h>
#include <archive_entry.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace pictor::arc {

namespace {

constexpr size_t kReadBlock = 64 * 1024;
// libarchive hands an LZMA member's dictionary size to liblzma without a memory limit: a
// 39-byte ZIP can ask for 4 GiB. Members asking for more than this are not decoded.
constexpr uint32_t kMaxLzmaDictionary = 256u << 20;
// LHA names are read as CP932 first (Japanese Windows); an archive whose names libarchive
// cannot convert from CP932 is read again as UTF-8, and finally as ISO-8859-1, which never
// fails and leaves the bytes to DecodeLatin1LhaName.
const char* const kLhaCharsets[] = {"CP932", "UTF-8", "ISO-8859-1"};

uint16_t Le16(const uint8_t* p) {
    return uint16_t(p[0] | p[1] << 8);
}
uint32_t Le32(const uint8_t* p) {
    return uint32_t(p[0] | p[1] << 8 | p[2] << 16) | uint32_t(p[3]) << 24;
}
uint64_t Le64(const uint8_t* p) {
    return Le32(p) | uint64_t(Le32(p + 4)) << 32;
}

bool ReadAt(int fd, int64_t at, int64_t size, std::vector<uint8_t>& out,
            int64_t maxSize = 1 << 20) {
    if (at < 0 || size <= 0 || size > maxSize) return false;
    out.resize(size_t(size));
    size_t got = 0;
    while (got < out.size()) {
        const ssize_t n = ::pread(fd, out.data() + got, out.size() - got, at + int64_t(got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        got += size_t(n);
    }
    return true;
}

// OS id byte of an LHA header as the API family's number.
unsigned LhaOsType(uint8_t id) {
    switch (id) {
    case 'M':
        return 0; // MS-DOS
    case 'U':
        return 2; // Unix
    case 'A':
        return 3; // Amiga
    case 'm':
        return 4; // Macintosh
    case '2':
        return 5; // OS/2
    case 'K':
        return 11; // OS-9
    case 'H':
        return 14; // Human68K
    case 'W':
        return 18; // Windows NT
    case 'w':
        return 19; // Windows 95
    case 'J':
        return 20; // Java
    default:
        return id == 0 ? 0 : 10; // generic / other
    }
}

unsigned ZipOsType(uint8_t host) {
    switch (host) {
    case 0:
        return 0; // MS-DOS, Windows FAT
    case 1:
        return 3; // Amiga
    case 3:
        return 2; // Unix
    case 6:
        return 5; // OS/2
    case 7:
    case 19:
        return 4; // Macintosh
    case 10:
        return 18; // Windows NTFS
    default:
        return 10;
    }
}

// Length of the LHA header starting at b[0] (n bytes available), 0 when it is not one.
size_t LhaHeaderLength(const uint8_t* b, size_t n) {
    if (n < 24 || b[2] != '-' || b[6] != '-' || b[3] != 'l') return 0;
    switch (b[20]) {
    case 0:
        return size_t(b[0]) + 2;
    case 1: {
        size_t pos = size_t(b[0]) + 2;
        if (pos < 27 || pos > n) return 0;
        size_t s = Le16(b + pos - 2);
        while (s != 0) {
            if (s < 3 || pos + s > n) return 0;
            const size_t next = Le16(b + pos + s - 2);
            pos += s;
            s = next;
        }
        return pos;
    }
    case 2:
        return Le16(b);
    case 3:
        return n >= 28 ? Le32(b + 24) : 0;
    default:
        return 0;
    }
}

std::string MethodFromFormatName(TArcKind kind, const char* name) {
    std::string s = name ? name : "";
    if (kind == TArcKind::Lha) {
        const size_t dash = s.find('-');
        return dash == std::string::npos ? s : s.substr(dash);
    }
    const size_t open = s.find('('), close = s.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close <= open) return s;
    const std::string inner = s.substr(open + 1, close - open - 1);
    if (inner == "uncompressed") return "stored";
    if (inner == "deflation") return "deflate";
    return inner;
}

constexpr int64_t kMaxCentralDirectory = int64_t(256) << 20;

// The central directory of a ZIP file, by local header offset (corrected by the bytes in
// front of the archive, as in self-extractors). Every size and offset is checked against the
// file; anything that does not fit gives an empty map.
template <typename Map, typename Entry>
void ReadZipCentralDirectory(int fd, int64_t fileSize, Map& out) {
    const int64_t tail = std::min<int64_t>(fileSize, 65535 + 22);
    std::vector<uint8_t> t;
    if (tail < 22 || !ReadAt(fd, fileSize - tail, tail, t)) return;
    int64_t eocd = -1;
    for (int64_t i = tail - 22; i >= 0; --i)
        if (std::memcmp(t.data() + i, "PK\x05\x06", 4) == 0 &&
            i + 22 + Le16(t.data() + i + 20) <= tail) {
            eocd = i;
            break;
        }
    if (eocd < 0) return;
    const uint8_t* e = t.data() + eocd;
    int64_t eocdPos = fileSize - tail + eocd;
    uint64_t count = Le16(e + 10), cdSize = Le32(e + 12), cdOffset = Le32(e + 16);
    if ((count == 0xFFFF || cdSize == 0xFFFFFFFF || cdOffset == 0xFFFFFFFF) && eocd >= 20 &&
        std::memcmp(e - 20, "PK\x06\x07", 4) == 0) {
        const uint64_t at = Le64(e - 20 + 8);
        std::vector<uint8_t> z;
        if (at > uint64_t(fileSize) - 56 || !ReadAt(fd, int64_t(at), 56, z) ||
            std::memcmp(z.data(), "PK\x06\x06", 4) != 0)
            return;
        count = Le64(z.data() + 32);
        cdSize = Le64(z.data() + 40);
        cdOffset = Le64(z.data() + 48);
        eocdPos = int64_t(at);
    }
    if (cdSize > uint64_t(eocdPos) || int64_t(cdSize) > kMaxCentralDirectory) return;
    const int64_t cdStart = eocdPos - int64_t(cdSize);
    if (cdOffset > uint64_t(cdStart)) return;
    const uint64_t delta = uint64_t(cdStart) - cdOffset;
    std::vector<uint8_t> cd;
    if (cdSize < 46 || !ReadAt(fd, cdStart, int64_t(cdSize), cd, kMaxCentralDirectory)) return;
    size_t pos = 0;
    for (uint64_t n = 0; n < count && pos + 46 <= cd.size(); ++n) {
        const uint8_t* r = cd.data() + pos;
        if (std::memcmp(r, "PK\x01\x02", 4) != 0) break;
        const size_t nameLen = Le16(r + 28), extraLen = Le16(r + 30), commentLen = Le16(r + 32);
        if (pos + 46 + nameLen + extraLen + commentLen > cd.size()) break;
        Entry entry;
        entry.OsType = ZipOsType(r[5]);
        entry.Crc = Le32(r + 16);
        uint64_t packed = Le32(r + 20), size = Le32(r + 24), offset = Le32(r + 42);
        // Zip64: the 0xFFFFFFFF fields follow in extra field 0x0001, in this order.
        for (size_t x = 0; x + 4 <= extraLen;) {
            const uint8_t* f = r + 46 + nameLen + x;
            const size_t id = Le16(f), len = Le16(f + 2);
            if (x + 4 + len > extraLen) break;
            if (id == 0x0001) {
                size_t at = 4;
                if (size == 0xFFFFFFFF && at + 8 <= len + 4) size = Le64(f + at), at += 8;
                if (packed == 0xFFFFFFFF && at + 8 <= len + 4) packed = Le64(f + at), at += 8;
                if (offset == 0xFFFFFFFF && at + 8 <= len + 4) offset = Le64(f + at), at += 8;
            }
            x += 4 + len;
        }
        entry.Packed = packed;
        out[offset + delta] = entry;
        pos += 46 + nameLen + extraLen + commentLen;
    }
}

} // namespace

const char* ArcPrefix(TArcKind kind) {
    switch (kind) {
    case TArcKind::Lha:
        return "Unlha";
    case TArcKind::Zip:
        return "UnZip";
    case TArcKind::Cab:
        return "Cab";
    case TArcKind::Tar:
        return "Tar";
    }
    return "";
}

TArchiveReader::TArchiveReader(TArcKind kind) : FKind(kind) {}

TArchiveReader::~TArchiveReader() {
    Close();
    if (FFd >= 0) ::close(FFd);
}

void TArchiveReader::Close() {
    if (FArchive) archive_read_free(FArchive);
    FArchive = nullptr;
}

void TArchiveReader::Open(const std::string& path) {
    FPath = path;
    // O_NONBLOCK: a FIFO given as an archive must not hang the caller.
    FFd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (FFd < 0) throw EArcError(ARC_ERROR_ARC_FILE_OPEN, "cannot open " + path);
    if (::fstat(FFd, &FStat) != 0 || !S_ISREG(FStat.st_mode))
        throw EArcError(ARC_ERROR_ARC_FILE_OPEN, path + " is not a file");
    ::fcntl(FFd, F_SETFL, ::fcntl(FFd, F_GETFL) & ~O_NONBLOCK);

    if (FKind == TArcKind::Cab) {
        const std::string why = CabDataBlockProblem(FFd, FStat.st_size);
        if (!why.empty()) throw EArcError(ARC_ERROR_NOT_ARC_FILE, why);
    }
    if (FKind == TArcKind::Zip)
        ReadZipCentralDirectory<decltype(FZipCentral), TZipCentral>(FFd, FStat.st_size,
                                                                    FZipCentral);
    if (FKind != TArcKind::Lha) {
        OpenWith(nullptr);
        return;
    }
    // Find the first name set libarchive can read as a whole: a header pass (the data is
    // skipped, not decoded) per attempt.
    for (const char* charset : kLhaCharsets) {
        OpenWith(charset);
        bool convertible = true;
        archive_entry* e;
        for (;;) {
            if (LhaHeaderTooLarge(archive_filter_bytes(FArchive, 0))) break;
            const int r = archive_read_next_header(FArchive, &e);
            if (r == ARCHIVE_EOF) break;
            if (r == ARCHIVE_FATAL) {
                const char* msg = archive_error_string(FArchive);
                convertible = !(msg && std::strstr(msg, "cannot be converted"));
                break;
            }
            if (r != ARCHIVE_RETRY) archive_read_data_skip(FArchive);
        }
        if (convertible) break;
    }
    OpenWith(FCharset);
}

// A level-3 LHA header states its size in 32 bits, and libarchive 3.6.2 reserves that much
// memory before it finds the file too short: a few bytes could make it ask for 4 GiB. A
// header that claims more than the rest of the file is not handed to it.
bool TArchiveReader::LhaHeaderTooLarge(int64_t at) const {
    std::vector<uint8_t> h;
    if (FKind != TArcKind::Lha || at < 0 || FStat.st_size - at < 28 || !ReadAt(FFd, at, 28, h))
        return false;
    return h[2] == '-' && h[6] == '-' && h[20] == 3 && Le32(h.data() + 24) > FStat.st_size - at;
}

void TArchiveReader::OpenWith(const char* charset) {
    Close();
    FCharset = charset;
    FMembers = 0;
    FDataPending = false;
    FBeforeHeader = FAfterHeader = 0;
    if (::lseek(FFd, 0, SEEK_SET) != 0) throw EArcError(ARC_ERROR_CANNOT_READ, "cannot seek");
    FArchive = archive_read_new();
    if (!FArchive) throw EArcError(ARC_ERROR_MORE_HEAP_MEMORY, "out of memory");
    switch (FKind) {
    case TArcKind::Lha:
        archive_read_support_format_lha(FArchive);
        if (charset) archive_read_set_format_option(FArchive, "lha", "hdrcharset", charset);
        break;
    case TArcKind::Zip:
        archive_read_support_format_zip(FArchive);
        break;
    case TArcKind::Cab:
        archive_read_support_format_cab(FArchive);
        break;
    case TArcKind::Tar:
        archive_read_support_format_tar(FArchive);
        archive_read_support_format_gnutar(FArchive);
        // Only filters built into libarchive: none of them starts an outside program.
        archive_read_support_filter_gzip(FArchive);
        archive_read_support_filter_bzip2(FArchive);
        // Not the raw .lzma filter: libarchive gives liblzma no memory limit, and a .lzma
        // header of a few bytes can ask for a 4 GiB dictionary (xz's LZMA2 stops at 1.5 GiB).
        archive_read_support_filter_xz(FArchive);
        archive_read_support_filter_compress(FArchive);
        break;
    }
    if (archive_read_open_fd(FArchive, FFd, kReadBlock) != ARCHIVE_OK)
        throw EArcError(ARC_ERROR_NOT_ARC_FILE, ErrorText());
}

std::string TArchiveReader::ErrorText() const {
    if (!FRefused.empty()) return FRefused;
    const char* msg = FArchive ? archive_error_string(FArchive) : nullptr;
    return msg ? msg : "archive error";
}

int64_t TArchiveReader::RawBytesRead() const {
    return FArchive ? archive_filter_bytes(FArchive, -1) : 0;
}

TNext TArchiveReader::Next(TMember& m) {
    m = TMember{};
    if (FCabDataFailed)
        throw EArcError(ARC_ERROR_CANNOT_READ,
                        "broken CAB data: the rest of the cabinet is not read");
    archive_entry* e = nullptr;
    int r;
    // The rest of the previous member first, so the position is the next header's.
    if (FDataPending && (r = archive_read_data_skip(FArchive)) != ARCHIVE_OK) {
        if (FKind == TArcKind::Cab) FCabDataFailed = true;
        if (FKind == TArcKind::Cab || r == ARCHIVE_FATAL)
            throw EArcError(ARC_ERROR_HEADER_CRC, ErrorText());
    }
    FBeforeHeader = archive_filter_bytes(FArchive, 0);
    if (LhaHeaderTooLarge(FBeforeHeader))
        throw EArcError(FMembers == 0 ? ARC_ERROR_NOT_ARC_FILE : ARC_ERROR_HEADER_CRC,
                        "LHA header larger than the file");
    for (int retry = 0;; ++retry) {
        r = archive_read_next_header(FArchive, &e);
        if (r != ARCHIVE_RETRY || retry >= 16) break;
    }
    if (r == ARCHIVE_EOF) return TNext::End;
    if (r == ARCHIVE_FATAL || r == ARCHIVE_RETRY || !e) {
        throw EArcError(FMembers == 0 ? ARC_ERROR_NOT_ARC_FILE : ARC_ERROR_HEADER_CRC, ErrorText());
    }
    ++FMembers;
    FDataPending = true;
    FAfterHeader = archive_filter_bytes(FArchive, 0);

    const char* raw = archive_entry_pathname(e);
    std::string name = raw ? raw : "";
    if (FKind == TArcKind::Lha && FCharset && std::strcmp(FCharset, "ISO-8859-1") == 0)
        name = DecodeLatin1LhaName(name);
    else
        name = DecodeRawName(name);
    m.Name = SlashSeparators(std::move(name));
    if (const char* link = archive_entry_symlink(e)) m.Symlink = DecodeRawName(link);
    if (const char* link = archive_entry_hardlink(e))
        m.Hardlink = SlashSeparators(DecodeRawName(link));
    m.SizeKnown = archive_entry_size_is_set(e) != 0;
    m.Size = m.SizeKnown ? archive_entry_size(e) : 0;
    if (m.Size < 0) m.Size = 0;
    m.HasMTime = archive_entry_mtime_is_set(e) != 0;
    m.MTime = m.HasMTime ? archive_entry_mtime(e) : 0;
    m.ATime = archive_entry_atime_is_set(e) ? archive_entry_atime(e) : m.MTime;
    m.BirthTime = archive_entry_birthtime_is_set(e) ? archive_entry_birthtime(e) : m.MTime;
    m.Type = archive_entry_filetype(e);
    m.Perm = archive_entry_perm(e);
    m.Encrypted = archive_entry_is_encrypted(e) != 0;
    m.Method = MethodFromFormatName(FKind, archive_format_name(FArchive));
    switch (FKind) {
    case TArcKind::Tar: {
        const char* filter = archive_filter_name(FArchive, 0);
        m.Method = filter && std::strcmp(filter, "none") != 0 ? filter : "tar";
        m.OsType = 2;
        m.Packed = m.Size; // tar stores members whole; a filter compresses the stream
        break;
    }
    case TArcKind::Cab:
        m.Packed = m.Size;
        break; // CAB compresses folders, not files
    default:
        break;
    }
    PeekHeader(m);
    return r == ARCHIVE_FAILED || !FRefused.empty() ? TNext::BadMember : TNext::Member;
}

// The CRC and the OS of LHA and ZIP members sit in the member's header, which libarchive reads
// but does not give out: read those few bytes from the file. The header is the one that ends
// where libarchive stopped reading it; anything that does not fit leaves the fields 0.
void TArchiveReader::PeekHeader(TMember& m) {
    FZipSizeKnown = false;
    FRefused.clear();
    // ZIP LZMA data starts with version 2, size 2, lc/lp/pb 1, dictionary size 4. The method
    // is taken from libarchive's own reading (it uses only the low byte of the field).
    if (FKind == TArcKind::Zip && m.Method == "lzma" && !m.Encrypted) {
        std::vector<uint8_t> props;
        if (!ReadAt(FFd, FAfterHeader, 9, props) || Le32(props.data() + 5) > kMaxLzmaDictionary)
            FRefused = "LZMA dictionary too large";
    }
    if (FKind != TArcKind::Lha && FKind != TArcKind::Zip) return;
    const int64_t span = FAfterHeader - FBeforeHeader;
    std::vector<uint8_t> b;
    if (span < 22 || span > (1 << 20) || !ReadAt(FFd, FBeforeHeader, span, b)) return;
    const size_t n = b.size();
    for (size_t h = 0; h + 22 <= n; ++h) {
        const uint8_t* p = b.data() + h;
        if (FKind == TArcKind::Lha) {
            if (LhaHeaderLength(p, n - h) != n - h) continue;
            const unsigned level = p[20];
            const size_t crcAt = level <= 1 ? 22 + size_t(p[21]) : 21;
            const size_t osAt = level <= 1 ? 24 + size_t(p[21]) : 23;
            if (crcAt + 2 <= n - h) m.Crc = Le16(p + crcAt);
            if (osAt < n - h && (level != 0 || osAt < size_t(p[0]) + 2))
                m.OsType = LhaOsType(p[osAt]);
            return;
        }
        if (std::memcmp(p, "PK\x03\x04", 4) != 0 || n - h < 30) continue;
        if (30 + size_t(Le16(p + 26)) + Le16(p + 28) != n - h) continue;
        if (auto c = FZipCentral.find(uint64_t(FBeforeHeader) + h); c != FZipCentral.end()) {
            m.Crc = c->second.Crc;
            m.Packed = int64_t(std::min<uint64_t>(c->second.Packed, INT64_MAX));
            m.OsType = c->second.OsType;
            FZipSizeKnown = true;
            return;
        }
        const uint16_t flags = Le16(p + 6);
        m.Crc = Le32(p + 14);
        const uint32_t packed = Le32(p + 18);
        FZipSizeKnown = !(flags & 8) && packed != 0xFFFFFFFFu;
        if (FZipSizeKnown) m.Packed = packed;
        return;
    }
}

void TArchiveReader::Skip(TMember& m) {
    FDataPending = false;
    if (archive_read_data_skip(FArchive) != ARCHIVE_OK && FKind == TArcKind::Cab)
        FCabDataFailed = true;
    const int64_t after = archive_filter_bytes(FArchive, 0);
    if (FKind == TArcKind::Lha) m.Packed = after - FAfterHeader;
    if (FKind != TArcKind::Zip || FZipSizeKnown) return;
    // Sizes and CRC in a data descriptor after the data (streamed ZIP members).
    int64_t descriptor = 0;
    std::vector<uint8_t> d;
    if (after - FAfterHeader >= 24 && ReadAt(FFd, after - 24, 24, d)) {
        if (std::memcmp(d.data() + 8, "PK\x07\x08", 4) == 0) {
            m.Crc = Le32(d.data() + 12);
            descriptor = 16;
        } else if (std::memcmp(d.data(), "PK\x07\x08", 4) == 0) {
            m.Crc = Le32(d.data() + 4);
            descriptor = 24;
        }
    }
    m.Packed = after - FAfterHeader - descriptor;
    if (m.Packed < 0) m.Packed = 0;
}

int TArchiveReader::ReadBlock(const void** buf, size_t* size, int64_t* offset) {
    la_int64_t off = 0;
    if (FCabDataFailed) return ARCHIVE_FATAL;
    const int r = archive_read_data_block(FArchive, buf, size, &off);
    *offset = off;
    if (r == ARCHIVE_EOF) FDataPending = false;
    if (r != ARCHIVE_OK && r != ARCHIVE_EOF && FKind == TArcKind::Cab) FCabDataFailed = true;
    return r;
}

} // namespace pictor::arc
