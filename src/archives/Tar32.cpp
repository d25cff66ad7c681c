#include "archives/Tar32.h"

#include "archives/ArchiveTables.h"

namespace pictor::Tar32 {

namespace {

[[noreturn]] void Raise(const std::string& message) {
    throw ETarErr(message);
}

} // namespace

TArchiveLibrary& Library() {
    // Made on first use, not loaded: every entry point raises until a load.
    static TArchiveLibrary library({"Tar32.so", "Tar",
                                    "Tar32.DLLがないかまたは古いため\r\nTar",
                                    "Tar32.DLLをロードできません\r\n",
                                    ArchiveEntryTable(TArchiverKind::Tar), Raise});
    return library;
}

void LoadArchiveLibrary() {
    Library().Load();
}

void UnloadArchiveLibrary() {
    Library().Unload();
}

} // namespace pictor::Tar32
