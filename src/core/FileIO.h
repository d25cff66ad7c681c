#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace pictor {

// Reads a whole regular file. Returns nothing when it is larger than maxSize, so the caller
// can refuse it with its own format's error; raises EInOutError "Cannot read file "…": reason"
// when it cannot be read (missing, a folder, a device or FIFO, an I/O error). A file that
// shrinks while being read gives what was there.
std::optional<std::vector<uint8_t>> ReadFileBytes(const std::string& path, uint64_t maxSize);

// The first `limit` bytes of a regular file, read up to its end or the limit whatever size it
// reports (kernel files report 0 or 4096); Truncated when more follows. FileSize is what the
// file reports, at least what was seen. Raises EInOutError as ReadFileBytes does.
struct TFileHead {
    std::string Bytes;
    uint64_t FileSize = 0;
    bool Truncated = false;
};
TFileHead ReadFileHead(const std::string& path, size_t limit);

// Replaces the file at path by data so that it is at every moment either the old or the new
// complete file: the data goes into an unnamed file in the same folder (a named temporary where
// the file system has no unnamed ones), is flushed, gets a name, and is renamed over the
// target; then the folder is flushed. A symbolic link is written through (the link stays) and
// the replaced file's permissions are kept. Raises EInOutError "Cannot write file "…": reason"
// and leaves the target and the folder as they were.
void WriteFileAtomically(const std::string& path, std::span<const uint8_t> data);

} // namespace pictor
