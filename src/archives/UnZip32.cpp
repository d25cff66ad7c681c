#include "archives/UnZip32.h"

#include "archives/ArchiveTables.h"

namespace pictor::UnZip32 {

namespace {

[[noreturn]] void Raise(const std::string& message) {
    throw EUnZipErr(message);
}

} // namespace

TArchiveLibrary& Library() {
    // Made on first use, not loaded: every entry point raises until a load.
    static TArchiveLibrary library({"UnZip32.so", "UnZip",
                                    "UnZip32.DLLがないかまたは古いため\r\nUnZip",
                                    "UnZip32.DLLをロードできません\r\n",
                                    ArchiveEntryTable(TArchiverKind::Zip), Raise});
    return library;
}

void LoadArchiveLibrary() {
    Library().Load();
}

void UnloadArchiveLibrary() {
    Library().Unload();
}

} // namespace pictor::UnZip32
