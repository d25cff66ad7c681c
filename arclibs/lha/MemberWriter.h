#pragma once

// The member-writing steps shared by the file writer and the in-memory builder.

#include "lha/LhaError.h"
#include "lha/LhaHeader.h"
#include "lha/Lh5Encoder.h"

#include <cstdint>
#include <string>

namespace pictor::lha {

// Reading a member's source failed, or it changed while being read. The member is dropped;
// the archive being built is still good once the caller cuts it back to the member's start.
class ESourceError : public ELhaError {
public:
    using ELhaError::ELhaError;
};

// The archive being built.
class TArchiveOutput {
public:
    virtual ~TArchiveOutput() = default;
    virtual void Append(const uint8_t* data, size_t size) = 0;
    virtual uint64_t Size() const = 0;
    virtual void Overwrite(uint64_t offset, const uint8_t* data, size_t size) = 0;
    virtual void Truncate(uint64_t size) = 0;
};

// A member's contents, readable twice (the stored fallback reads it again).
class TMemberSource {
public:
    virtual ~TMemberSource() = default;
    // Up to size bytes; 0 at the end. Raises ESourceError when reading fails.
    virtual size_t Read(uint8_t* buffer, size_t size) = 0;
    virtual void Rewind() = 0;
    // The size the source claims to have (a file's st_size): once the compressed data is
    // larger, compressing is given up early for storing.
    virtual uint64_t SizeHint() const = 0;
};

// Checks a stored name (UTF-8, '/' between folders, relative, no "." or ".." parts, no '\',
// which LHA readers take for a separator) and turns it into header fields: the encoded
// folder and file names and the code page. A directory's whole path goes into the folder
// part. Raises ELhaError for a name that cannot be stored.
THeaderFields MakeNameFields(const std::string& storedName, bool directory);

struct TMemberResult {
    std::string Method;
    uint64_t OriginalSize = 0;
    uint64_t PackedSize = 0;
    uint16_t Crc = 0;
};

// Appends a file member: a placeholder header, the -lh5- data (or the stored bytes when
// compressing does not make them smaller and allowStored is set), then the final header
// over the placeholder. Raises ESourceError when the source fails (the output then holds a
// partial member the caller must cut off) and passes on the output's own errors.
TMemberResult WriteFileMember(TArchiveOutput& out, THeaderFields fields, TMemberSource& source,
                              const Lh5Options& options, bool allowStored);

// Appends a directory member (-lhd-, no data).
void WriteDirectoryMember(TArchiveOutput& out, THeaderFields fields);

} // namespace pictor::lha
