#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace pictor::lha {

// What goes into one level-2 member header.
struct THeaderFields {
    std::string Method = "-lh5-"; // 5 characters: -lh0-, -lh5-, -lhd-
    uint32_t PackedSize = 0;
    uint32_t OriginalSize = 0;
    uint32_t MTime = 0;           // Unix seconds, UTC
    uint16_t DataCrc = 0;
    std::string Directory;        // encoded folder part, components separated by '/', or empty
    std::string Name;             // encoded file name; empty for a directory member
    uint32_t CodePage = 0;        // 0x46 extension when non-zero
    uint16_t UnixMode = 0100644;  // st_mode with the file type bits
};

// The largest header a level-2 member can have (its size field has 16 bits).
constexpr size_t kMaxHeaderSize = 0xFFFF;

// The header bytes: base part, extensions 0x00 (header CRC), 0x01 (name), 0x02 (folder, 0xFF
// separated and terminated), 0x46 (code page, when set), 0x50 (Unix mode), 0x54 (Unix
// mtime), the terminating zero size and, when the size would end in a 0x00 byte, one
// padding byte. Its length depends only on the names and the code page.
std::vector<uint8_t> BuildLevel2Header(const THeaderFields& fields);

// One member of an existing archive, as found by ScanArchive.
struct TArchiveMember {
    uint64_t Offset = 0;      // where its header starts
    uint64_t HeaderSize = 0;  // header bytes, extensions included
    uint64_t PackedSize = 0;  // data bytes after the header
    uint64_t OriginalSize = 0;
    int Level = 0;
    std::string Method;
    std::string Path;         // UTF-8 (when the bytes could be decoded) with '/' separators
    bool Directory = false;
    int64_t MTime = 0;        // Unix seconds
    bool DosTime = false;     // MTime comes from an MS-DOS stamp (2-second steps, local time)
    uint64_t End() const { return Offset + HeaderSize + PackedSize; }
};

// Reads `size` bytes at `offset` into the buffer; returns how many it got (fewer at the end).
using TReadAt = std::function<size_t(uint64_t offset, void* buffer, size_t size)>;

// Lists the members of an LHA archive of fileSize bytes (header levels 0 to 3) without
// decompressing anything. Every size and offset is checked against the file; a damaged or
// unsupported archive raises ELhaError. The archive ends at a 0x00 byte or at the end of the
// file.
std::vector<TArchiveMember> ScanArchive(const TReadAt& read, uint64_t fileSize);

// MS-DOS date/time stamp (local time) of the base header of levels 0 and 1, as Unix seconds.
int64_t DosTimeToUnix(uint32_t stamp);

} // namespace pictor::lha
