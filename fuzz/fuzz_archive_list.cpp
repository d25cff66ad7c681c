// Fuzz target for the archiver libraries' reading side: every library's check (all modes),
// open / find / getters, file count and the "l" and "t" commands on the same bytes. Besides
// "no crash", it checks that what the member records say is consistent: names are UTF-8 with
// '/' separators and terminated, the 64-bit totals are the sums of the members, the count
// agrees with the find loop, a fully checked archive lists to its end, and the output buffer
// is terminated and never written past its size.
#include "ArchiverEntry.h"
#include "NameText.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

using namespace pictor::arc;

namespace {

[[noreturn]] void Broken(const char* what) {
    std::fprintf(stderr, "fuzz_archive_list oracle failed: %s\n", what);
    std::abort();
}

const std::string& InputPath() {
    static const std::string path = [] {
        const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        return std::string(base) + "/fuzz-archive-list-" + std::to_string(getpid()) + ".bin";
    }();
    return path;
}

void CheckLibrary(TArcKind kind, const std::string& path) {
    const bool full = api::CheckArchive(kind, path.c_str(), 2);
    api::CheckArchive(kind, path.c_str(), 0);
    api::CheckArchive(kind, path.c_str(), 1 | 4 | 16);
    HARC h = api::OpenArchive(kind, nullptr, path.c_str(), 0);
    if (full && !h) Broken("checked archive does not open");
    if (h) {
        INDIVIDUALINFO info;
        uint64_t sumOrig = 0, sumPacked = 0;
        int members = 0;
        int r = api::FindFirst(kind, h, "*.*", &info);
        for (; r == 0; r = api::FindNext(kind, h, &info)) {
            ++members;
            const size_t len = strnlen(info.szFileName, sizeof info.szFileName);
            if (len >= sizeof info.szFileName) Broken("name not terminated");
            const std::string name(info.szFileName, len);
            if (!IsValidUtf8(name)) Broken("name is not UTF-8");
            if (name.find('\\') != std::string::npos) Broken("name holds a backslash");
            if (strnlen(info.szMode, 8) >= 8 || strnlen(info.szAttribute, 8) >= 8)
                Broken("record text not terminated");
            uint64_t orig = 0, packed = 0;
            if (!api::GetOriginalSizeEx(kind, h, &orig) ||
                !api::GetCompressedSizeEx(kind, h, &packed))
                Broken("no current member after a find");
            if (info.dwOriginalSize != (orig > 0xFFFFFFFFu ? 0xFFFFFFFFu : orig))
                Broken("record size differs from the getter");
            sumOrig += orig;
            sumPacked += packed;
            char buf[16];
            api::GetFileName(kind, h, buf, sizeof buf); // cut: must stay inside the buffer
        }
        if (full && r != -1) Broken("checked archive stops listing with an error");
        uint64_t totalOrig = 0, totalPacked = 0;
        api::GetArcOriginalSizeEx(kind, h, &totalOrig);
        api::GetArcCompressedSizeEx(kind, h, &totalPacked);
        if (r == -1 && (totalOrig != sumOrig || totalPacked != sumPacked))
            Broken("64-bit totals are not the sums of the members");
        api::FindFirst(kind, h, "*.txt dir/", nullptr);
        if (api::CloseArchive(kind, h) != 0) Broken("close failed");
        const int count = api::GetFileCount(kind, path.c_str());
        if (r == -1 && count != members) Broken("file count differs from the find loop");
    }
    // The list and test commands in each library's words (tar's "t" lists; it has no test).
    const char* lines[2] = {kind == TArcKind::Lha   ? "l"
                            : kind == TArcKind::Tar ? "t"
                                                    : "-l",
                            kind == TArcKind::Lha   ? "t"
                            : kind == TArcKind::Tar ? "tv"
                                                    : "-t"};
    for (const char* cmd : lines) {
        const std::string line = std::string(cmd) + " \"" + path + "\"";
        char out[300];
        std::memset(out, '#', sizeof out);
        api::Command(kind, nullptr, line.c_str(), out, 256);
        if (strnlen(out, 256) >= 256) Broken("output not terminated");
        for (size_t i = 256; i < sizeof out; ++i)
            if (out[i] != '#') Broken("output written past its size");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& path = InputPath();
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
    for (TArcKind kind : {TArcKind::Lha, TArcKind::Zip, TArcKind::Cab, TArcKind::Tar})
        CheckLibrary(kind, path);
    unlink(path.c_str());
    return 0;
}
