#include "shell/FileTransfer.h"

#include "core/SafeRename.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace pictor {

namespace {

constexpr int MaxDepth = 512;

std::string StripSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

std::string BaseName(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string DirName(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string Join(const std::string& dir, const std::string& name) {
    return dir.empty() || dir.back() == '/' ? dir + name : dir + "/" + name;
}

bool Lexists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

bool SameNode(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Whether path is the node (dev, ino) or lies below it, following links the way the kernel
// resolves path.
bool IsAtOrBelow(const std::string& path, const struct stat& node) {
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
    if (!real) return false;
    std::string p = real.get();
    for (;;) {
        struct stat st;
        if (::stat(p.c_str(), &st) == 0 && SameNode(st, node)) return true;
        if (p == "/") return false;
        p = DirName(p);
    }
}

std::string ErrorLine(const std::string& path, const std::string& text) {
    return path + ": " + text;
}

// A hidden name in dir that is free now, for partial copies and for replaced items.
std::string ScratchName(const std::string& dir) {
    thread_local std::mt19937_64 random{std::random_device{}()};
    for (;;) {
        char tag[40];
        std::snprintf(tag, sizeof tag, ".pictor-transfer-%016llx",
                      static_cast<unsigned long long>(random()));
        std::string candidate = Join(dir, tag);
        if (!Lexists(candidate)) return candidate;
    }
}

bool RemoveTree(const std::string& path) {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
    return !ec && !Lexists(path);
}

void SyncPath(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_DIRECTORY);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

// Counts the bytes a request has to copy and reports them as they go.
struct TProgressState {
    const TTransferProgressFn* Report = nullptr;
    TTransferProgress Now;
    uint64_t LastReported = 0;

    // False when the user cancelled.
    bool Add(uint64_t bytes, bool force = false) {
        Now.DoneBytes += bytes;
        Now.TotalBytes = std::max(Now.TotalBytes, Now.DoneBytes);
        if (!Report || !*Report) return true;
        if (!force && Now.DoneBytes - LastReported < ReportEvery) return true;
        LastReported = Now.DoneBytes;
        return (*Report)(Now);
    }
    static constexpr uint64_t ReportEvery = 4u << 20;
};

// Bytes of the regular files in a tree (links and special files count nothing).
uint64_t TreeBytes(const std::string& path, int depth) {
    struct stat st;
    if (depth > MaxDepth || ::lstat(path.c_str(), &st) != 0) return 0;
    if (S_ISREG(st.st_mode)) return static_cast<uint64_t>(st.st_size);
    if (!S_ISDIR(st.st_mode)) return 0;
    uint64_t total = 0;
    if (DIR* dir = ::opendir(path.c_str())) {
        while (dirent* e = ::readdir(dir)) {
            const std::string name = e->d_name;
            if (name != "." && name != "..") total += TreeBytes(Join(path, name), depth + 1);
        }
        ::closedir(dir);
    }
    return total;
}

// Copies the bytes of one open file to another; a cancel fails with ECANCELED.
bool CopyBytes(int in, int out, TProgressState* progress) {
    bool plain = false;
    // With progress shown the kernel copies in slices, so the bar moves and cancel is heard.
    const size_t slice = progress && progress->Report && *progress->Report ? 8u << 20 : 1u << 30;
    auto advance = [&](ssize_t n) {
        if (!progress || progress->Add(static_cast<uint64_t>(n))) return true;
        errno = ECANCELED;
        return false;
    };
    for (;;) {
        ssize_t n;
        if (!plain) {
            n = ::copy_file_range(in, nullptr, out, nullptr, slice, 0);
            if (n < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS ||
                          errno == EOPNOTSUPP || errno == EBADF)) {
                plain = true;
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return false;
            if (n == 0) return true;
            if (!advance(n)) return false;
            continue;
        }
        char buffer[1 << 16];
        n = ::read(in, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::write(out, buffer + done, static_cast<size_t>(n - done));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) return false;
            done += w;
        }
        if (!advance(n)) return false;
    }
}

struct TCopier {
    dev_t StayOn = 0; // for moves: a mount point inside the source is refused
    bool KeepDevice = false;
    bool CreatedTop = false; // the top-level destination was made by us
    TProgressState* Progress = nullptr;
    std::string Error;
    int Errno = 0;

    bool Fail(const std::string& path, int err) {
        Errno = err;
        Error = ErrorLine(path, ErrnoText(err));
        return false;
    }

    // Copies src to dst, which must not exist; on failure dst may hold a partial copy.
    bool Copy(const std::string& src, const std::string& dst, int depth) {
        struct stat st;
        if (::lstat(src.c_str(), &st) != 0) return Fail(src, errno);
        const struct timespec times[2] = {st.st_atim, st.st_mtim};
        if (S_ISREG(st.st_mode)) return CopyFile(src, dst, st, times, depth);
        if (S_ISDIR(st.st_mode)) {
            if (depth > MaxDepth) return Fail(src, ELOOP);
            if (KeepDevice && st.st_dev != StayOn) {
                Errno = EXDEV;
                Error = ErrorLine(src, "別のボリュームがマウントされているため移動できません");
                return false;
            }
            if (::mkdir(dst.c_str(), 0700) != 0) return Fail(dst, errno);
            if (depth == 0) CreatedTop = true;
            DIR* dir = ::opendir(src.c_str());
            if (!dir) return Fail(src, errno);
            bool ok = true;
            errno = 0;
            while (dirent* e = ::readdir(dir)) {
                const std::string name = e->d_name;
                if (name == "." || name == "..") continue;
                if (!Copy(Join(src, name), Join(dst, name), depth + 1)) {
                    ok = false;
                    break;
                }
                errno = 0;
            }
            if (ok && errno != 0) ok = Fail(src, errno);
            ::closedir(dir);
            if (!ok) return false;
            if (::chmod(dst.c_str(), st.st_mode & 07777) != 0) return Fail(dst, errno);
            ::utimensat(AT_FDCWD, dst.c_str(), times, 0);
            SyncPath(dst);
            return true;
        }
        if (S_ISLNK(st.st_mode)) {
            std::string target(static_cast<size_t>(st.st_size > 0 ? st.st_size : PATH_MAX) + 1,
                               '\0');
            const ssize_t n = ::readlink(src.c_str(), target.data(), target.size());
            if (n < 0) return Fail(src, errno);
            if (static_cast<size_t>(n) >= target.size()) return Fail(src, ENAMETOOLONG);
            target.resize(static_cast<size_t>(n));
            if (::symlink(target.c_str(), dst.c_str()) != 0) return Fail(dst, errno);
            if (depth == 0) CreatedTop = true;
            ::utimensat(AT_FDCWD, dst.c_str(), times, AT_SYMLINK_NOFOLLOW);
            return true;
        }
        if (S_ISFIFO(st.st_mode)) {
            if (::mkfifo(dst.c_str(), st.st_mode & 07777) != 0) return Fail(dst, errno);
            if (depth == 0) CreatedTop = true;
            ::utimensat(AT_FDCWD, dst.c_str(), times, 0);
            return true;
        }
        Errno = ENOTSUP;
        Error = ErrorLine(src, "ソケットやデバイスはコピーできません");
        return false;
    }

    bool CopyFile(const std::string& src, const std::string& dst, const struct stat& st,
                  const struct timespec times[2], int depth) {
        const int in = ::open(src.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (in < 0) return Fail(src, errno);
        const int out = ::open(dst.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (out < 0) {
            const int err = errno;
            ::close(in);
            return Fail(dst, err);
        }
        if (depth == 0) CreatedTop = true;
        bool ok = CopyBytes(in, out, Progress);
        int err = ok ? 0 : errno;
        if (ok && ::fchmod(out, st.st_mode & 07777) != 0) ok = false, err = errno;
        if (ok) ::futimens(out, times);
        if (ok && ::fsync(out) != 0) ok = false, err = errno;
        if (::close(out) != 0 && ok) ok = false, err = errno;
        ::close(in);
        if (!ok) return Fail(dst, err ? err : EIO);
        return true;
    }
};

// Puts next in the place of the existing target. Files replace files by one atomic rename;
// otherwise the old item is renamed aside first and deleted once next is in place (and put
// back when that fails). Returns 0 or an errno value with both items where they were.
int ReplaceWith(const std::string& next, const std::string& target, std::string& warning) {
    struct stat ns, ts;
    if (::lstat(next.c_str(), &ns) != 0) return errno;
    if (::lstat(target.c_str(), &ts) != 0)
        return errno == ENOENT ? RenameNoReplace(next, target) : errno;
    if (!S_ISDIR(ns.st_mode) && !S_ISDIR(ts.st_mode))
        return ::rename(next.c_str(), target.c_str()) == 0 ? 0 : errno;
    const std::string aside = ScratchName(DirName(target));
    if (int e = RenameNoReplace(target, aside)) return e;
    if (int e = RenameNoReplace(next, target)) {
        RenameNoReplace(aside, target);
        return e;
    }
    if (!RemoveTree(aside))
        warning = ErrorLine(aside, "置き換えた古い項目を削除しきれませんでした");
    return 0;
}

enum class TStep { Go, Skip, Cancel, Error };

} // namespace

std::string FreeCopyName(const std::string& dir, const std::string& name) {
    struct stat st;
    const bool folder = ::stat(Join(dir, name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    const auto dot = name.rfind('.');
    const bool hasExt = !folder && dot != std::string::npos && dot > 0;
    const std::string stem = hasExt ? name.substr(0, dot) : name;
    const std::string ext = hasExt ? name.substr(dot) : std::string();
    for (int n = 2;; ++n) {
        std::string candidate = stem + " (" + std::to_string(n) + ")" + ext;
        if (!Lexists(Join(dir, candidate))) return candidate;
    }
}

TTransferResult TransferFiles(const TTransferRequest& request, const TAskReplace& askReplace,
                              const TTransferProgressFn& progressFn) {
    TTransferResult result;
    TProgressState progress;
    progress.Report = &progressFn;
    const std::string targetDir = StripSlashes(request.TargetDir);
    struct stat tst;
    int err = 0;
    if (targetDir.empty() || targetDir.front() != '/')
        err = ENOENT;
    else if (::stat(targetDir.c_str(), &tst) != 0)
        err = errno;
    else if (!S_ISDIR(tst.st_mode))
        err = ENOTDIR;
    if (err != 0) {
        for (const auto& s : request.Sources) {
            ++result.Failed;
            result.Errors.push_back(ErrorLine(s, targetDir + ": " + ErrnoText(err)));
        }
        return result;
    }
    if (progressFn) {
        // Only what cannot be renamed has bytes to copy; the walk is skipped without a display.
        for (const std::string& raw : request.Sources) {
            struct stat st;
            const std::string src = StripSlashes(raw);
            if (::lstat(src.c_str(), &st) != 0) continue;
            if (!request.Move || st.st_dev != tst.st_dev)
                progress.Now.TotalBytes += TreeBytes(src, 0);
        }
    }

    for (const std::string& raw : request.Sources) {
        if (progressFn) {
            progress.Now.Current = raw;
            if (!progress.Add(0, true)) {
                result.Cancelled = true;
                break;
            }
        }
        const std::string src = StripSlashes(raw);
        auto fail = [&](const std::string& text) {
            ++result.Failed;
            result.Errors.push_back(text);
        };
        const std::string name = BaseName(src);
        if (src.empty() || src.front() != '/' || name.empty() || name == "." || name == "..") {
            fail(ErrorLine(raw, "絶対パスではありません"));
            continue;
        }
        struct stat sst, pst;
        if (::lstat(src.c_str(), &sst) != 0) {
            fail(ErrorLine(src, ErrnoText(errno)));
            continue;
        }
        const std::string parent = DirName(src);
        const bool sameFolder = ::stat(parent.c_str(), &pst) == 0 && SameNode(pst, tst);
        if (S_ISDIR(sst.st_mode) && IsAtOrBelow(targetDir, sst)) {
            fail(ErrorLine(src, "フォルダーをそれ自身またはその中へは移動もコピーもできません"));
            continue;
        }
        if (sameFolder && request.Move) {
            ++result.Skipped;
            continue;
        }
        std::string target = Join(targetDir, sameFolder ? FreeCopyName(targetDir, name) : name);
        bool replace = false;

        // An existing target: ask, and refuse to replace what holds the source.
        auto conflict = [&]() -> TStep {
            if (!askReplace) return TStep::Skip;
            switch (askReplace(src, target)) {
            case TConflictAnswer::Skip:
                return TStep::Skip;
            case TConflictAnswer::Cancel:
                return TStep::Cancel;
            case TConflictAnswer::Replace:
                break;
            }
            struct stat est;
            if (::lstat(target.c_str(), &est) == 0 && S_ISDIR(est.st_mode) &&
                IsAtOrBelow(parent, est)) {
                fail(ErrorLine(target, "移動元を含むフォルダーは置き換えられません"));
                return TStep::Error;
            }
            replace = true;
            return TStep::Go;
        };
        auto settle = [&](TStep step) {
            if (step == TStep::Skip) ++result.Skipped;
            if (step == TStep::Cancel) result.Cancelled = true;
        };

        if (!sameFolder && Lexists(target)) {
            const TStep step = conflict();
            settle(step);
            if (step == TStep::Cancel) break;
            if (step != TStep::Go) continue;
        }

        std::string warning;
        if (request.Move) {
            int e = replace ? ReplaceWith(src, target, warning) : RenameNoReplace(src, target);
            if (e == EEXIST && !replace) { // the name was taken meanwhile
                const TStep step = conflict();
                settle(step);
                if (step == TStep::Cancel) break;
                if (step != TStep::Go) continue;
                e = ReplaceWith(src, target, warning);
            }
            if (e == 0) {
                ++result.Done;
                if (!warning.empty()) result.Errors.push_back(warning);
                continue;
            }
            if (e != EXDEV) {
                fail(ErrorLine(src, ErrnoText(e)));
                continue;
            }
        }

        // Copy (or move across file systems): complete copy first, then into place.
        TCopier copier;
        copier.KeepDevice = request.Move;
        copier.StayOn = sst.st_dev;
        copier.Progress = &progress;
        std::string scratch;
        bool copied = false;
        for (int attempt = 0; attempt < 8 && !copied; ++attempt) {
            scratch = ScratchName(targetDir);
            copier.CreatedTop = false;
            copied = copier.Copy(src, scratch, 0);
            if (copied) break;
            // Only what this copy made is removed; a name taken by someone else just moves on.
            if (copier.CreatedTop) RemoveTree(scratch);
            if (copier.CreatedTop || copier.Errno != EEXIST) break;
        }
        if (!copied && copier.Errno == ECANCELED) {
            result.Cancelled = true;
            break;
        }
        if (!copied) {
            fail(copier.Error);
            continue;
        }
        int e = replace ? ReplaceWith(scratch, target, warning) : RenameNoReplace(scratch, target);
        bool stop = false, skipped = false;
        while (e == EEXIST && !replace) {
            if (sameFolder) {
                target = Join(targetDir, FreeCopyName(targetDir, name));
                e = RenameNoReplace(scratch, target);
                continue;
            }
            const TStep step = conflict();
            settle(step);
            if (step != TStep::Go) {
                stop = step == TStep::Cancel;
                skipped = true;
                break;
            }
            e = ReplaceWith(scratch, target, warning);
        }
        if (skipped || e != 0) {
            RemoveTree(scratch);
            if (!skipped) fail(ErrorLine(target, ErrnoText(e)));
            if (stop) break;
            continue;
        }
        SyncPath(targetDir);
        if (!warning.empty()) result.Errors.push_back(warning);
        if (request.Move && !RemoveTree(src)) {
            // Both copies exist now: nothing is lost, but the move did not complete.
            fail(ErrorLine(src, "コピーしましたが、元の項目を削除できませんでした"));
            continue;
        }
        ++result.Done;
    }
    return result;
}

TDropEffect ChooseDropEffect(const std::vector<std::string>& sources, const std::string& targetDir,
                             bool forceMove, bool forceCopy) {
    struct stat tst;
    if (sources.empty() || ::stat(targetDir.c_str(), &tst) != 0 || !S_ISDIR(tst.st_mode))
        return TDropEffect::None;
    bool sameDevice = true, allInTarget = true, any = false;
    for (const auto& raw : sources) {
        const std::string src = StripSlashes(raw);
        struct stat sst, pst;
        if (src.empty() || ::lstat(src.c_str(), &sst) != 0) continue;
        any = true;
        if (S_ISDIR(sst.st_mode) && IsAtOrBelow(targetDir, sst)) return TDropEffect::None;
        if (sst.st_dev != tst.st_dev) sameDevice = false;
        if (::stat(DirName(src).c_str(), &pst) != 0 || !SameNode(pst, tst)) allInTarget = false;
    }
    if (!any) return TDropEffect::None;
    TDropEffect effect = sameDevice ? TDropEffect::Move : TDropEffect::Copy;
    if (forceMove != forceCopy) effect = forceMove ? TDropEffect::Move : TDropEffect::Copy;
    if (effect == TDropEffect::Move && allInTarget) return TDropEffect::None;
    return effect;
}

} // namespace pictor
