#include "archives/Cab32.h"

#include "archives/ArchiveTables.h"

namespace pictor::Cab32 {

namespace {

[[noreturn]] void Raise(const std::string& message) {
    throw ECabErr(message);
}

} // namespace

TArchiveLibrary& Library() {
    // Made on first use, not loaded: every entry point raises until a load.
    static TArchiveLibrary library({"Cab32.so", "Cab",
                                    "Cab32.DLLがないかまたは古いため\r\nCab",
                                    "Cab32.DLLをロードできません\r\n",
                                    ArchiveEntryTable(TArchiverKind::Cab), Raise});
    return library;
}

void LoadArchiveLibrary() {
    Library().Load();
}

void UnloadArchiveLibrary() {
    Library().Unload();
}

} // namespace pictor::Cab32
