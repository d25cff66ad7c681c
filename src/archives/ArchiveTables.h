#pragma once

// The entry-point tables of the four archiver libraries, in load order. Each starts with the
// entry points the program calls; the rest are resolved and kept but not called.

#include <string_view>
#include <vector>

namespace pictor {

enum class TArchiverKind { Lha, Zip, Cab, Tar };

std::vector<std::string_view> ArchiveEntryTable(TArchiverKind kind);

} // namespace pictor
