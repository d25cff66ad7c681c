#pragma once

#include <cstdint>
#include <string>

namespace pictor::arc {

// libarchive 3.6.2 (Debian 12) trusts a CAB data block's uncompressed size and decodes LZX
// past its 32 KiB buffer when a block claims more (a heap overflow; fixed upstream only in
// 2026). Before a cabinet reaches libarchive, every data block of every cabinet header found
// where libarchive looks for one (at the start, or inside a self-extractor's first 128 KiB) is
// checked: a block claiming more than 32 KiB of output, or more input than a block can hold,
// or chains of blocks longer than the file allows, make the file "not an archive".
// Returns the reason, empty when the file may be read.
std::string CabDataBlockProblem(int fd, int64_t fileSize);

} // namespace pictor::arc
