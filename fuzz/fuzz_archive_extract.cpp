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
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace pictor::arc;
namespace fs = std::filesystem;

namespace {

constexpr int64_t kCap = int64_t(16) << 20;

[[noreturn]] void Broken(const std::string& what) {
    std::fprintf(stderr, "fuzz_archive_extract oracle failed: %s\n", what.c_str());
    std::abort();
}

// Both walks go folder by folder through descriptors: members may nest deeper than PATH_MAX,
// which the extractor reaches the same way.
template <typename F> void ForEachEntry(int dirFd, F&& f) {
    const int fd = ::dup(dirFd);
    DIR* d = fd >= 0 ? ::fdopendir(fd) : nullptr;
    if (!d) {
        if (fd >= 0) ::close(fd);
        return;
    }
    std::vector<std::string> names;
    while (const dirent* e = ::readdir(d))
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
            names.emplace_back(e->d_name);
    ::closedir(d);
    for (const std::string& n : names)
        f(n);
}

void RemoveAt(int dirFd, const std::string& name) {
    struct stat st;
    if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return;
    if (S_ISDIR(st.st_mode)) {
        ::fchmodat(dirFd, name.c_str(), 0700, 0);
        const int sub = ::openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
        if (sub >= 0) {
            ForEachEntry(sub, [&](const std::string& n) { RemoveAt(sub, n); });
            ::close(sub);
        }
        ::unlinkat(dirFd, name.c_str(), AT_REMOVEDIR);
    } else {
        ::unlinkat(dirFd, name.c_str(), 0);
    }
}

// The folder of a link, as a path below the destination, and the link's target: where would
// the kernel land? Followed through the file system when the target exists; otherwise (a
// dangling link) worked out by the text.
void CheckLink(int dirFd, const std::string& name, const std::string& rel,
               const std::string& canonicalRoot) {
    char target[8192];
    const ssize_t n = ::readlinkat(dirFd, name.c_str(), target, sizeof target - 1);
    if (n < 0) Broken("unreadable link " + rel);
    target[n] = '\0';
    const int fd = ::openat(dirFd, name.c_str(), O_PATH | O_CLOEXEC); // follows the link
    if (fd >= 0) {
        char resolved[16384];
        const std::string proc = "/proc/self/fd/" + std::to_string(fd);
        const ssize_t m = ::readlink(proc.c_str(), resolved, sizeof resolved - 1);
        ::close(fd);
        if (m > 0) {
            resolved[m] = '\0';
            if ((std::string(resolved) + "/").rfind(canonicalRoot, 0) != 0)
                Broken("link resolves outside: " + rel + " -> " + target);
        }
        return;
    }
    if (target[0] == '/') Broken("absolute link: " + rel);
    std::vector<std::string> parts;
    auto push = [&](const std::string& text) {
        size_t start = 0;
        for (size_t i = 0; i <= text.size(); ++i) {
            if (i < text.size() && text[i] != '/') continue;
            const std::string p = text.substr(start, i - start);
            start = i + 1;
            if (p.empty() || p == ".") continue;
            if (p != "..")
                parts.push_back(p);
            else if (parts.empty())
                Broken("dangling link above the destination: " + rel);
            else
                parts.pop_back();
        }
    };
    push(rel.substr(0, rel.rfind('/') == std::string::npos ? 0 : rel.rfind('/')));
    push(target);
}

struct TTreeCheck {
    const std::set<std::string>& Members;
    std::string TempPrefix, CanonicalRoot;
    int64_t Bytes = 0;

    void Walk(int dirFd, const std::string& relDir) {
        ForEachEntry(dirFd, [&](const std::string& name) {
            const std::string rel = relDir.empty() ? name : relDir + "/" + name;
            struct stat st;
            if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
                Broken("vanished entry " + rel);
            // The extractor's own temporary names (a member may well be called ".pictor-...").
            if (!S_ISDIR(st.st_mode) && name.rfind(TempPrefix, 0) == 0 && !Members.count(rel))
                Broken("temporary file left");
            if (S_ISDIR(st.st_mode)) {
                const int sub = ::openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
                if (sub < 0) Broken("unreadable folder " + rel);
                Walk(sub, rel);
                ::close(sub);
            } else if (S_ISREG(st.st_mode)) {
                if (st.st_mode & 07000) Broken("set-id bit kept");
                Bytes += st.st_size;
            } else if (S_ISLNK(st.st_mode)) {
                if (rel != "planted") CheckLink(dirFd, name, rel, CanonicalRoot);
            } else {
                Broken("device, FIFO or socket made");
            }
        });
    }
};

// members: the paths of the members the extraction went through, to tell a member that
// happens to be named like a temporary file from one that was left behind.
void CheckTree(const fs::path& top, const fs::path& root, const std::set<std::string>& members) {
    for (const auto& e : fs::directory_iterator(top)) {
        const std::string n = e.path().filename().string();
        if (n != "in.bin" && n != "root" && n != "outside") Broken("written outside: " + n);
    }
    if (!fs::is_empty(top / "outside")) Broken("written through the planted link");
    TTreeCheck check{members, ".pictor-" + std::to_string(getpid()) + "-",
                     fs::canonical(root).string() + "/"};
    const int rootFd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY);
    if (rootFd < 0) Broken("destination gone");
    check.Walk(rootFd, "");
    ::close(rootFd);
    if (check.Bytes > kCap) Broken("more bytes than the cap");
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
    std::set<std::string> members; // of all four runs: the files stay for the next ones
    for (TArcKind kind : {TArcKind::Lha, TArcKind::Zip, TArcKind::Cab, TArcKind::Tar}) {
        TExtractOptions opt;
        opt.Limits.MaxTotalBytes = kCap;
        opt.Limits.MaxMembers = 100000;
        opt.Overwrite = size && (data[0] & 1) ? TOverwrite::Always : TOverwrite::Update;
        TOutputText log(4096);
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
    const int topParent = ::open(top.parent_path().c_str(), O_RDONLY | O_DIRECTORY);
    if (topParent >= 0) {
        RemoveAt(topParent, top.filename().string());
        ::close(topParent);
    }
    return 0;
}
