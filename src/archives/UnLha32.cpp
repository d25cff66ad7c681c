#include "archives/UnLha32.h"

#include "archives/ArchiveTables.h"

namespace pictor::UnLha32 {

namespace {

[[noreturn]] void Raise(const std::string& message) {
    throw EUnlhaErr(message);
}

} // namespace

TArchiveLibrary& Library() {
    // Made on first use, not loaded: every entry point raises until a load.
    static TArchiveLibrary library({"UNLHA32.so", "Unlha",
                                    "UNLHA32.DLLがないかまたは古いため\r\nUnlha",
                                    "UNLHA32.DLLをロードできません\r\n",
                                    ArchiveEntryTable(TArchiverKind::Lha), Raise});
    return library;
}

void LoadArchiveLibrary() {
    Library().Load();
}

void UnloadArchiveLibrary() {
    Library().Unload();
}

} // namespace pictor::UnLha32
