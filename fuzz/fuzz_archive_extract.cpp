// Fuzz target for extraction: the bytes are extracted by every archiver library into a fresh
// folder holding a planted link to an outside folder. The property after each input: nothing
// exists outside the destination, nothing went through the planted link, every link below
// the destination resolves inside it, no device, FIFO, set-id bit or temporary file is left,
// and no more bytes were written than the cap.
#include "ArcError.h"
#include "ArcKind.h"
#include "ArchiveReader.h"
#include "Extractor.h"
#include "OutputText.h"
#include "SafePath.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

using namespace pictor::arc;
namespace fs = std::filesystem;

namespace {

constexpr int64_t kCap = int64_t(16) << 20;

[[noreturn]] void Broken(const std::string& what) {
    std::fprintf(stderr, "fuzz_archive_extract oracle failed: %s\n", what.c_str());
    std::abort();
}

void RemoveTree(const fs::path& p) {
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(p, ec);
         it != fs::recursive_directory_iterator(); it.increment(ec))
        if (it->is_directory(ec) && !it->is_symlink(ec))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(p, ec);
}

// members: the paths of the members the extraction went through, to tell a member that
// happens to be named like a temporary file from one that was left behind.
void CheckTree(const fs::path& top, const fs::path& root, const std::set<std::string>& members) {
    for (const auto& e : fs::directory_iterator(top)) {
        const std::string n = e.path().filename().string();
        if (n != "in.bin" && n != "root" && n != "outside") Broken("written outside: " + n);
    }
    if (!fs::is_empty(top / "outside")) Broken("written through the planted link");
    const std::string canonicalRoot = fs::canonical(root).string() + "/";
    const std::string tempPrefix = ".pictor-" + std::to_string(getpid()) + "-";
    int64_t bytes = 0;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec);
         it != fs::recursive_directory_iterator(); it.increment(ec)) {
        struct stat st;
        if (lstat(it->path().c_str(), &st) != 0) Broken("vanished entry");
        // The extractor's own temporary names (a member may well be called ".pictor-...").
        if (!S_ISDIR(st.st_mode) && it->path().filename().string().rfind(tempPrefix, 0) == 0 &&
            !members.count(it->path().lexically_relative(root).string()))
            Broken("temporary file left");
        if (S_ISREG(st.st_mode)) {
            if (st.st_mode & 07000) Broken("set-id bit kept");
            bytes += st.st_size;
        } else if (S_ISLNK(st.st_mode)) {
            if (it->path().filename() == "planted") continue;
            char resolved[PATH_MAX];
            if (realpath(it->path().c_str(), resolved) &&
                (std::string(resolved) + "/").rfind(canonicalRoot, 0) != 0)
                Broken("link resolves outside: " + it->path().string());
        } else if (!S_ISDIR(st.st_mode)) {
            Broken("device, FIFO or socket made");
        }
    }
    if (bytes > kCap) Broken("more bytes than the cap");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string tmpl = std::string(base) + "/fuzz-archive-extract-XXXXXX";
    if (!mkdtemp(tmpl.data())) return 0;
    const fs::path top = tmpl;
    const fs::path archive = top / "in.bin", root = top / "root";
    FILE* f = std::fopen(archive.c_str(), "wb");
    if (f) {
        if (size) std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    fs::create_directories(top / "outside");
    fs::create_directories(root);
    fs::create_symlink("../outside", root / "planted");
    for (TArcKind kind : {TArcKind::Lha, TArcKind::Zip, TArcKind::Cab, TArcKind::Tar}) {
        TExtractOptions opt;
        opt.Limits.MaxTotalBytes = kCap;
        opt.Limits.MaxMembers = 100000;
        opt.Overwrite = size && (data[0] & 1) ? TOverwrite::Always : TOverwrite::Update;
        TOutputText log(4096);
        std::set<std::string> members;
        opt.Progress = [&](const TMember& m, const std::string&, int64_t, bool begin) {
            std::string why;
            if (begin)
                if (auto p = SanitiseMemberPath(m.Name, why)) members.insert(p->Joined());
            return true;
        };
        try {
            ExtractArchive(kind, archive.string(), root.string(), opt, log);
        } catch (const EArcError&) {
            // not an archive of this kind
        }
        CheckTree(top, root, members);
    }
    RemoveTree(top);
    return 0;
}
