#pragma once

// Reading one archive of one library's kind through libarchive: the member headers with
// decoded names and the fields of the member record, and the data.

#include "ArcKind.h"
#include "Utf8Locale.h"

#include <cstdint>
#include <string>
#include <sys/stat.h>
#include <unordered_map>

struct archive;
struct archive_entry;

namespace pictor::arc {

struct TMember {
    std::string Name; // UTF-8, '/' separators, as stored otherwise
    int64_t Size = 0; // uncompressed
    bool SizeKnown = false;
    int64_t Packed = 0; // compressed bytes of this member where the format has them
    uint32_t Crc = 0;   // LHA: CRC-16, ZIP: CRC-32, otherwise 0
    unsigned OsType = 0;
    int64_t MTime = 0;
    bool HasMTime = false;
    int64_t ATime = 0, BirthTime = 0;
    unsigned Type = 0; // S_IFREG, S_IFDIR, S_IFLNK ... (0 when unknown)
    unsigned Perm = 0; // permission bits as stored
    std::string Method;
    std::string Symlink;  // target of a symbolic link (decoded like names)
    std::string Hardlink; // for a hard link: the earlier member it names
    bool Encrypted = false;

    bool IsDir() const { return Type == S_IFDIR; }
};

enum class TNext { Member, BadMember, End };

class TArchiveReader {
public:
    explicit TArchiveReader(TArcKind kind);
    ~TArchiveReader();
    TArchiveReader(const TArchiveReader&) = delete;
    TArchiveReader& operator=(const TArchiveReader&) = delete;

    // Opens a regular file. Throws EArcError: ARC_ERROR_ARC_FILE_OPEN when it cannot be
    // opened (missing, a folder, a device), ARC_ERROR_NOT_ARC_FILE when it is not an archive
    // of this kind (found at the first Next for most formats).
    void Open(const std::string& path);

    // The next member's header. BadMember: libarchive cannot handle this member (its data
    // cannot be read) but the archive goes on. Throws EArcError when the archive is broken:
    // ARC_ERROR_NOT_ARC_FILE before the first member, ARC_ERROR_HEADER_CRC after.
    TNext Next(TMember& m);
    // Skips the data of the member Next returned, completing its Packed and Crc fields.
    void Skip(TMember& m);
    // One block of the current member's data (libarchive's archive_read_data_block).
    int ReadBlock(const void** buf, size_t* size, int64_t* offset);

    // libarchive's last error text.
    std::string ErrorText() const;
    const struct stat& FileStat() const { return FStat; }
    // Bytes read from the archive file so far (for the compression-ratio cap).
    int64_t RawBytesRead() const;
    int MembersSeen() const { return FMembers; }

private:
    void OpenWith(const char* charset);
    void Close();
    void PeekHeader(TMember& m);
    bool LhaHeaderTooLarge(int64_t at) const;

    TUtf8Locale FLocale; // first: the whole life of the reader runs in UTF-8
    TArcKind FKind;
    std::string FPath;
    int FFd = -1;
    struct stat FStat {};
    archive* FArchive = nullptr;
    const char* FCharset = nullptr; // LHA: how libarchive reads names without a code page
    int FMembers = 0;
    bool FDataPending = false; // the current member's data is not read to its end yet
    // Member boundaries in the file (for the header fields libarchive does not give).
    int64_t FBeforeHeader = 0, FAfterHeader = 0;
    // ZIP: CRC, packed size and host of each member by the offset of its local header, from
    // the central directory (streamed members have neither in their local header).
    struct TZipCentral {
        uint32_t Crc = 0;
        uint64_t Packed = 0;
        unsigned OsType = 0;
    };
    std::unordered_map<uint64_t, TZipCentral> FZipCentral;
    bool FZipSizeKnown = false;
    std::string FRefused; // why the current member's data must not be read
    // CAB: libarchive 3.6.2 dereferences a null block when it skips after a failed read of a
    // malformed data block; once reading CAB data failed, nothing more is asked of it.
    bool FCabDataFailed = false;
};

} // namespace pictor::arc
