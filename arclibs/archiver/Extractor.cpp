#include "Extractor.h"

#include "ArcError.h"
#include "ArchiveReader.h"
#include "NameText.h"
#include "OutputText.h"
#include "SafePath.h"
#include "Wildcard.h"
#include "archives/ArchiverApi.h"

#include <archive.h>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/statvfs.h>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>

namespace pictor::arc {

namespace {

constexpr int64_t kRecheckEvery = int64_t(64) << 20;

// Ends the whole run (disk space, a broken archive, cancel).
struct TStop {
    int Code;
    std::string Why;
};

// Ends one member: it is counted as failed and the run goes on.
struct TMemberFailure {
    int Code;
    std::string Why;
};

std::string ErrnoText(int err) {
    return std::strerror(err);
}

// Folder descriptors below the destination, opened part by part without following links, so
// a link inside the destination (planted by an earlier member or already there) is never
// passed through: a link where a folder should be refuses the member.
class TDirCache {
public:
    explicit TDirCache(int root) : FRoot(root) {}
    ~TDirCache() { Clear(); }
    TDirCache(const TDirCache&) = delete;
    TDirCache& operator=(const TDirCache&) = delete;

    // The folder made of the first count parts; created (with mode for the last one) when
    // create is set. Throws TMemberFailure.
    int Open(const std::vector<std::string>& parts, size_t count, bool create,
             unsigned lastMode = 0755) {
        if (FFds.size() > 256) Clear(); // bounded; folders come grouped in most archives
        return OpenPart(parts, count, create, lastMode);
    }

private:
    int OpenPart(const std::vector<std::string>& parts, size_t count, bool create,
                 unsigned lastMode) {
        if (count == 0) return FRoot;
        std::string key;
        for (size_t i = 0; i < count; ++i) {
            key += parts[i];
            key += '/';
        }
        if (auto it = FFds.find(key); it != FFds.end()) return it->second;
        const int parent = OpenPart(parts, count - 1, create, 0755);
        const char* name = parts[count - 1].c_str();
        int fd = ::openat(parent, name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0 && errno == ENOENT && create) {
            if (::mkdirat(parent, name, lastMode) != 0 && errno != EEXIST)
                throw TMemberFailure{ARC_ERROR_CANNOT_WRITE,
                                     "cannot make folder: " + ErrnoText(errno)};
            fd = ::openat(parent, name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        }
        struct stat st;
        if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode))) {
            ::close(fd);
            fd = -1;
            errno = ENOTDIR;
        }
        if (fd < 0) {
            const int err = errno;
            throw TMemberFailure{ARC_ERROR_CANNOT_WRITE,
                                 err == ELOOP || err == ENOTDIR
                                     ? "a file or link is in the way of folder " + key
                                     : "cannot open folder " + key + ": " + ErrnoText(err)};
        }
        FFds.emplace(std::move(key), fd);
        return fd;
    }

    void Clear() {
        for (auto& [key, fd] : FFds)
            ::close(fd);
        FFds.clear();
    }

    int FRoot;
    std::unordered_map<std::string, int> FFds;
};

// A file being written under a temporary name in its final folder; removed unless committed.
class TTempName {
public:
    explicit TTempName(int dirFd) : FDir(dirFd) {
        static std::atomic<unsigned> counter{0};
        FName = ".pictor-" + std::to_string(::getpid()) + "-" + std::to_string(++counter) + ".tmp";
    }
    ~TTempName() {
        if (!FCommitted && FMade) ::unlinkat(FDir, FName.c_str(), 0);
    }
    TTempName(const TTempName&) = delete;
    TTempName& operator=(const TTempName&) = delete;

    const char* Name() const { return FName.c_str(); }
    void Made() { FMade = true; }
    void Retry() {
        static std::atomic<unsigned> counter{1u << 20};
        FName = ".pictor-" + std::to_string(::getpid()) + "-" + std::to_string(++counter) + ".tmp";
    }
    // Moves the file to its final name; replace = an existing entry there may be replaced.
    // False (and the temporary file removed) when replace is off and the name has appeared.
    bool Commit(const std::string& finalName, bool replace) {
        int r;
        if (replace) {
            r = ::renameat(FDir, FName.c_str(), FDir, finalName.c_str());
        } else {
            r = ::renameat2(FDir, FName.c_str(), FDir, finalName.c_str(), RENAME_NOREPLACE);
            if (r != 0 && errno == EINVAL) { // a file system without RENAME_NOREPLACE
                struct stat st;
                if (::fstatat(FDir, finalName.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
                    errno = EEXIST;
                } else {
                    r = ::renameat(FDir, FName.c_str(), FDir, finalName.c_str());
                }
            }
        }
        if (r != 0) {
            if (!replace && errno == EEXIST) return false;
            throw TMemberFailure{ARC_ERROR_CANNOT_WRITE,
                                 "cannot rename into place: " + ErrnoText(errno)};
        }
        FCommitted = true;
        return true;
    }

private:
    int FDir;
    std::string FName;
    bool FMade = false, FCommitted = false;
};

class TExtractor {
public:
    TExtractor(TArchiveReader& reader, const TExtractOptions& options, TOutputText& log)
        : FReader(reader), FOpt(options), FLog(log) {}

    TExtractResult Run(int rootFd, const std::string& destFolder, TMember& first, TNext firstKind);

private:
    enum class TOutcome { Extracted, Kept, Skipped };

    TOutcome Member(const TMember& m, TNext kind);
    TOutcome Directory(const TMember& m, const TSafePath& path);
    TOutcome File(const TMember& m, const TSafePath& path);
    TOutcome Symlink(const TMember& m, const TSafePath& path);
    TOutcome Hardlink(const TMember& m, const TSafePath& path);
    // Decides about an existing entry at the final name: true = write (replacing it when it
    // exists), false = keep it. Throws TMemberFailure for what must not be replaced.
    bool MayWrite(const TMember& m, int dirFd, const std::string& leaf, bool& exists);
    void WriteData(int fd, const TMember& m);
    void Grow(int64_t bytes);
    void SetTimes(int dirFd, const char* name, const TMember& m);

    TArchiveReader& FReader;
    const TExtractOptions& FOpt;
    TOutputText& FLog;
    TDirCache* FDirs = nullptr;
    int FRoot = -1;
    int64_t FWritten = 0, FBudget = 0, FNextRecheck = kRecheckEvery;
    std::unordered_set<std::string> FDone;
    std::string FDest;
};

TExtractResult TExtractor::Run(int rootFd, const std::string& destFolder, TMember& m, TNext kind) {
    TExtractResult result;
    TDirCache dirs(rootFd);
    FDirs = &dirs;
    FRoot = rootFd;
    FDest = destFolder;
    struct statvfs vfs;
    FBudget = ::fstatvfs(rootFd, &vfs) == 0
                  ? int64_t(vfs.f_bavail) * int64_t(vfs.f_frsize) - FOpt.Limits.DiskMargin
                  : INT64_MAX;
    if (FOpt.Limits.MaxTotalBytes >= 0 && FOpt.Limits.MaxTotalBytes < FBudget)
        FBudget = FOpt.Limits.MaxTotalBytes;
    if (FBudget < 0) FBudget = 0;

    auto fail = [&](int code, const std::string& why, const std::string& name) {
        ++result.Failed;
        if (result.Code == 0) result.Code = code;
        FLog.Line("failed: " + PrintableName(name) + " (" + why + ")");
    };
    int64_t members = 0;
    try {
        while (kind != TNext::End) {
            if (++members > FOpt.Limits.MaxMembers)
                throw TStop{ARC_ERROR_CANNOT_WRITE,
                            "more members than " + std::to_string(FOpt.Limits.MaxMembers)};
            if (MatchAny(FOpt.Patterns, m.Name)) {
                const std::string dest = FDest + m.Name;
                if (FOpt.Progress && !FOpt.Progress(m, dest, FWritten, true))
                    throw TStop{ARC_ERROR_USER_CANCEL, "cancelled"};
                try {
                    switch (Member(m, kind)) {
                    case TOutcome::Extracted:
                        ++result.Extracted;
                        FLog.Line("extracted: " + PrintableName(m.Name));
                        break;
                    case TOutcome::Kept:
                        ++result.Kept;
                        FLog.Line("kept: " + PrintableName(m.Name) + " (existing file not older)");
                        break;
                    case TOutcome::Skipped:
                        break;
                    }
                } catch (const TMemberFailure& f) {
                    fail(f.Code, f.Why, m.Name);
                }
                if (FOpt.Progress && !FOpt.Progress(m, dest, FWritten, false))
                    throw TStop{ARC_ERROR_USER_CANCEL, "cancelled"};
            }
            kind = FReader.Next(m);
        }
    } catch (const TStop& stop) {
        if (result.Code == 0 || stop.Code == ARC_ERROR_USER_CANCEL) result.Code = stop.Code;
        FLog.Line("stopped: " + stop.Why);
    } catch (const EArcError& e) {
        if (result.Code == 0) result.Code = e.Code();
        FLog.Line(std::string("stopped: broken archive (") + e.what() + ")");
    }
    FLog.Line(std::to_string(result.Extracted) + " extracted, " + std::to_string(result.Kept) +
              " kept, " + std::to_string(result.Failed) + " failed");
    FDirs = nullptr;
    return result;
}

TExtractor::TOutcome TExtractor::Member(const TMember& m, TNext kind) {
    if (kind == TNext::BadMember)
        throw TMemberFailure{ARC_ERROR_CANNOT_READ, "unreadable member: " + FReader.ErrorText()};
    std::string why;
    auto path = SanitiseMemberPath(m.Name, why);
    if (!path) {
        if (why.empty()) return TOutcome::Skipped; // "./": the destination itself
        throw TMemberFailure{ARC_ERROR_CANNOT_WRITE, "refused: " + why};
    }
    if (FOpt.Flat) {
        if (m.IsDir()) return TOutcome::Skipped;
        path->Parts.erase(path->Parts.begin(), path->Parts.end() - 1);
    }
    const std::string key = path->Joined();
    if (!FDone.insert(key).second) FLog.Line("duplicate name: " + PrintableName(key));
    switch (m.Type) {
    case S_IFDIR:
        return Directory(m, *path);
    case S_IFLNK:
        return Symlink(m, *path);
    case 0:
    case S_IFREG:
        return m.Hardlink.empty() || m.Size > 0 ? File(m, *path) : Hardlink(m, *path);
    default:
        throw TMemberFailure{ARC_ERROR_CANNOT_WRITE, "refused: device, FIFO or socket"};
    }
}

TExtractor::TOutcome TExtractor::Directory(const TMember& m, const TSafePath& path) {
    // Owner access always: a read-only folder in the archive must still take its files.
    FDirs->Open(path.Parts, path.Parts.size(), true, (m.Perm & 0777) | 0700);
    return TOutcome::Extracted;
}

bool TExtractor::MayWrite(const TMember& m, int dirFd, const std::string& leaf, bool& exists) {
    struct stat st;
    exists = ::fstatat(dirFd, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
    if (!exists) return true;
    const struct stat& arc = FReader.FileStat();
    if (st.st_dev == arc.st_dev && st.st_ino == arc.st_ino)
        throw TMemberFailure{ARC_ERROR_CANNOT_WRITE,
                             "refused: it would replace the archive itself"};
    if (S_ISDIR(st.st_mode)) throw TMemberFailure{ARC_ERROR_CANNOT_WRITE, "a folder is in the way"};
    if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode))
        throw TMemberFailure{ARC_ERROR_CANNOT_WRITE, "a device, FIFO or socket is in the way"};
    switch (FOpt.Overwrite) {
    case TOverwrite::Always:
        return true;
    case TOverwrite::Never:
        return false;
    case TOverwrite::Update:
        return m.HasMTime && m.MTime > int64_t(st.st_mtim.tv_sec);
    }
    return false;
}

void TExtractor::Grow(int64_t bytes) {
    if (bytes <= 0) return;
    if (FWritten + bytes > FBudget)
        throw TStop{ARC_ERROR_DISK_SPACE, "not enough free space (or over the size cap)"};
    FWritten += bytes;
    const int64_t raw = std::max<int64_t>(FReader.RawBytesRead(), 1);
    if (FWritten > FOpt.Limits.RatioFloor && FWritten / raw >= FOpt.Limits.MaxRatio)
        throw TStop{ARC_ERROR_DISK_SPACE, "compression ratio over " +
                                              std::to_string(FOpt.Limits.MaxRatio) +
                                              ":1 (an archive bomb?)"};
    if (FWritten >= FNextRecheck) {
        FNextRecheck = FWritten + kRecheckEvery;
        struct statvfs vfs;
        if (::fstatvfs(FRoot, &vfs) == 0 &&
            int64_t(vfs.f_bavail) * int64_t(vfs.f_frsize) < FOpt.Limits.DiskMargin)
            throw TStop{ARC_ERROR_DISK_SPACE, "not enough free space"};
    }
}

void TExtractor::WriteData(int fd, const TMember& m) {
    int64_t end = 0;
    for (;;) {
        const void* buf = nullptr;
        size_t size = 0;
        int64_t offset = 0;
        const int r = FReader.ReadBlock(&buf, &size, &offset);
        if (r == ARCHIVE_EOF) break;
        if (r != ARCHIVE_OK) {
            const std::string why = FReader.ErrorText();
            if (r == ARCHIVE_FATAL) throw TStop{ARC_ERROR_CANNOT_READ, why};
            throw TMemberFailure{why.find("CRC") != std::string::npos ? ARC_ERROR_FILE_CRC
                                                                      : ARC_ERROR_CANNOT_READ,
                                 why};
        }
        if (offset < 0 || size > size_t(INT64_MAX - offset))
            throw TMemberFailure{ARC_ERROR_CANNOT_READ, "bad data offset"};
        if (offset + int64_t(size) > end) {
            Grow(offset + int64_t(size) - end);
            end = offset + int64_t(size);
        }
        const auto* p = static_cast<const char*>(buf);
        while (size > 0) {
            const ssize_t n = ::pwrite(fd, p, size, offset);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && (errno == ENOSPC || errno == EDQUOT))
                throw TStop{ARC_ERROR_DISK_SPACE, "disk full"};
            if (n <= 0) throw TMemberFailure{ARC_ERROR_CANNOT_WRITE, "write: " + ErrnoText(errno)};
            p += n;
            size -= size_t(n);
            offset += n;
        }
    }
    if (m.SizeKnown && m.Size > end) { // a sparse member ending in a hole
        if (m.Size - end > FBudget - FWritten)
            throw TMemberFailure{ARC_ERROR_DISK_SPACE, "size over the free space or the cap"};
        Grow(m.Size - end);
        if (::ftruncate(fd, m.Size) != 0)
            throw TMemberFailure{ARC_ERROR_CANNOT_WRITE, "truncate: " + ErrnoText(errno)};
    }
}

void TExtractor::SetTimes(int dirFd, const char* name, const TMember& m) {
    if (!m.HasMTime) return;
    const struct timespec times[2] = {{m.ATime, 0}, {m.MTime, 0}};
    ::utimensat(dirFd, name, times, AT_SYMLINK_NOFOLLOW);
}

TExtractor::TOutcome TExtractor::File(const TMember& m, const TSafePath& path) {
    const int dirFd = FDirs->Open(path.Parts, path.Parts.size() - 1, true);
    const std::string& leaf = path.Parts.back();
    bool exists = false;
    if (!MayWrite(m, dirFd, leaf, exists)) return TOutcome::Kept;
    // Permission bits only: no set-user-ID, set-group-ID or sticky bit; the umask applies.
    const mode_t mode = m.Perm ? (m.Perm & 0777) | 0600 : 0644;
    TTempName temp(dirFd);
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 16; ++attempt) {
        fd = ::openat(dirFd, temp.Name(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                      mode);
        if (fd < 0 && errno == EEXIST)
            temp.Retry();
        else if (fd < 0)
            break;
    }
    if (fd < 0) throw TMemberFailure{ARC_ERROR_CANNOT_WRITE, "cannot create: " + ErrnoText(errno)};
    temp.Made();
    try {
        WriteData(fd, m);
    } catch (...) {
        ::close(fd);
        throw;
    }
    if (m.HasMTime) {
        const struct timespec times[2] = {{m.ATime, 0}, {m.MTime, 0}};
        ::futimens(fd, times);
    }
    if (::close(fd) != 0)
        throw TMemberFailure{ARC_ERROR_CANNOT_WRITE, "close: " + ErrnoText(errno)};
    return temp.Commit(leaf, exists) ? TOutcome::Extracted : TOutcome::Kept;
}

TExtractor::TOutcome TExtractor::Symlink(const TMember& m, const TSafePath& path) {
    if (!SymlinkTargetAllowed(m.Symlink, path.Parts.size() - 1))
        throw TMemberFailure{ARC_ERROR_CANNOT_WRITE, "refused: link target leads outside (" +
                                                         PrintableName(m.Symlink) + ")"};
    const int dirFd = FDirs->Open(path.Parts, path.Parts.size() - 1, true);
    const std::string& leaf = path.Parts.back();
    bool exists = false;
    if (!MayWrite(m, dirFd, leaf, exists)) return TOutcome::Kept;
    TTempName temp(dirFd);
    int r = -1;
    for (int attempt = 0; r != 0 && attempt < 16; ++attempt) {
        r = ::symlinkat(m.Symlink.c_str(), dirFd, temp.Name());
        if (r != 0 && errno == EEXIST)
            temp.Retry();
        else if (r != 0)
            break;
    }
    if (r != 0)
        throw TMemberFailure{ARC_ERROR_CANNOT_WRITE, "cannot make link: " + ErrnoText(errno)};
    temp.Made();
    SetTimes(dirFd, temp.Name(), m);
    return temp.Commit(leaf, exists) ? TOutcome::Extracted : TOutcome::Kept;
}

TExtractor::TOutcome TExtractor::Hardlink(const TMember& m, const TSafePath& path) {
    std::string why;
    auto target = SanitiseMemberPath(m.Hardlink, why);
    if (!target)
        throw TMemberFailure{ARC_ERROR_CANNOT_WRITE,
                             "refused: hard link target " + (why.empty() ? "empty" : why)};
    if (FOpt.Flat) target->Parts.erase(target->Parts.begin(), target->Parts.end() - 1);
    // The target must be a plain file already below the destination, reached without links.
    const int targetDir = FDirs->Open(target->Parts, target->Parts.size() - 1, false);
    struct stat st;
    if (::fstatat(targetDir, target->Parts.back().c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(st.st_mode))
        throw TMemberFailure{ARC_ERROR_CANNOT_WRITE,
                             "refused: hard link target is not an extracted file"};
    const int dirFd = FDirs->Open(path.Parts, path.Parts.size() - 1, true);
    const std::string& leaf = path.Parts.back();
    bool exists = false;
    if (!MayWrite(m, dirFd, leaf, exists)) return TOutcome::Kept;
    TTempName temp(dirFd);
    int r = -1;
    for (int attempt = 0; r != 0 && attempt < 16; ++attempt) {
        r = ::linkat(targetDir, target->Parts.back().c_str(), dirFd, temp.Name(), 0);
        if (r != 0 && errno == EEXIST)
            temp.Retry();
        else if (r != 0)
            break;
    }
    if (r != 0)
        throw TMemberFailure{ARC_ERROR_CANNOT_WRITE, "cannot make hard link: " + ErrnoText(errno)};
    temp.Made();
    return temp.Commit(leaf, exists) ? TOutcome::Extracted : TOutcome::Kept;
}

} // namespace

TExtractLimits TExtractLimits::Defaults() {
    TExtractLimits l;
#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
    l.MaxTotalBytes = int64_t(16) << 20;
    l.MaxMembers = 100000;
#endif
    return l;
}

TExtractResult ExtractArchive(TArcKind kind, const std::string& archivePath,
                              const std::string& destFolder, const TExtractOptions& options,
                              TOutputText& log) {
    TArchiveReader reader(kind);
    reader.Open(archivePath);
    TMember first;
    const TNext firstKind = reader.Next(first); // not an archive: thrown before anything is made
    std::error_code ec;
    std::filesystem::create_directories(destFolder, ec);
    const int root = ::open(destFolder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (root < 0) throw EArcError(ARC_ERROR_CANNOT_WRITE, "cannot make the folder " + destFolder);
    TExtractor extractor(reader, options, log);
    std::string dest = destFolder;
    if (dest.empty() || dest.back() != '/') dest += '/';
    TExtractResult result;
    try {
        result = extractor.Run(root, dest, first, firstKind);
    } catch (...) {
        ::close(root);
        throw;
    }
    ::close(root);
    return result;
}

} // namespace pictor::arc
