#include "lha/LhaWriter.h"

#include "lha/MemberWriter.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

namespace pictor::lha {

namespace {

std::string Reason(int err) { return std::strerror(err); }

// ---- in memory -------------------------------------------------------------------------

class TVectorOutput : public TArchiveOutput {
public:
    std::vector<uint8_t> Bytes;
    void Append(const uint8_t* data, size_t size) override {
        Bytes.insert(Bytes.end(), data, data + size);
    }
    uint64_t Size() const override { return Bytes.size(); }
    void Overwrite(uint64_t offset, const uint8_t* data, size_t size) override {
        std::copy(data, data + size, Bytes.begin() + std::ptrdiff_t(offset));
    }
    void Truncate(uint64_t size) override { Bytes.resize(size_t(size)); }
};

class TMemorySource : public TMemberSource {
public:
    explicit TMemorySource(std::span<const uint8_t> data) : FData(data) {}
    size_t Read(uint8_t* buffer, size_t size) override {
        const size_t n = std::min(size, FData.size() - FAt);
        std::copy_n(FData.data() + FAt, n, buffer);
        FAt += n;
        return n;
    }
    void Rewind() override { FAt = 0; }
    uint64_t SizeHint() const override { return FData.size(); }

private:
    std::span<const uint8_t> FData;
    size_t FAt = 0;
};

// ---- on disk ---------------------------------------------------------------------------

class TFd {
public:
    explicit TFd(int fd = -1) : FFd(fd) {}
    ~TFd() { Close(); }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    int Get() const { return FFd; }
    int Close() {
        int r = 0;
        if (FFd >= 0) r = ::close(FFd);
        FFd = -1;
        return r;
    }

private:
    int FFd;
};

// The temporary archive: a buffered file whose errors are ELhaError naming the archive.
class TFileOutput : public TArchiveOutput {
public:
    TFileOutput(int fd, std::string name) : FFd(fd), FName(std::move(name)) {
        FBuffer.reserve(kBuffer);
    }
    void Append(const uint8_t* data, size_t size) override {
        FSize += size;
        if (FBuffer.size() + size > kBuffer) {
            Flush();
            if (size >= kBuffer) {
                WriteAll(data, size, FWritten);
                FWritten += size;
                return;
            }
        }
        FBuffer.insert(FBuffer.end(), data, data + size);
    }
    uint64_t Size() const override { return FSize; }
    void Overwrite(uint64_t offset, const uint8_t* data, size_t size) override {
        Flush();
        WriteAll(data, size, offset);
    }
    void Truncate(uint64_t size) override {
        Flush();
        if (::ftruncate(FFd, off_t(size)) != 0) Fail(errno);
        FSize = FWritten = size;
    }
    void Flush() {
        if (FBuffer.empty()) return;
        WriteAll(FBuffer.data(), FBuffer.size(), FWritten);
        FWritten += FBuffer.size();
        FBuffer.clear();
    }
    [[noreturn]] void Fail(int err) const {
        throw ELhaError("Cannot write file \"" + FName + "\": " + Reason(err));
    }

private:
    static constexpr size_t kBuffer = 1 << 20;
    void WriteAll(const uint8_t* data, size_t size, uint64_t offset) {
        while (size > 0) {
            const ssize_t n = ::pwrite(FFd, data, size, off_t(offset));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) Fail(n < 0 ? errno : ENOSPC);
            data += n;
            size -= size_t(n);
            offset += uint64_t(n);
        }
    }
    int FFd;
    std::string FName;
    std::vector<uint8_t> FBuffer;
    uint64_t FSize = 0, FWritten = 0;
};

class TFileSource : public TMemberSource {
public:
    TFileSource(int fd, std::string path, uint64_t size)
        : FFd(fd), FPath(std::move(path)), FSize(size) {}
    size_t Read(uint8_t* buffer, size_t size) override {
        for (;;) {
            const ssize_t n = ::read(FFd, buffer, size);
            if (n >= 0) return size_t(n);
            if (errno != EINTR) Fail(errno);
        }
    }
    void Rewind() override {
        if (::lseek(FFd, 0, SEEK_SET) != 0) Fail(errno);
    }
    uint64_t SizeHint() const override { return FSize; }

private:
    [[noreturn]] void Fail(int err) const {
        throw ESourceError("Cannot read file \"" + FPath + "\": " + Reason(err));
    }
    int FFd;
    std::string FPath;
    uint64_t FSize;
};

uint32_t ClampTime(int64_t t) { return uint32_t(std::clamp<int64_t>(t, 0, 0xFFFFFFFFLL)); }

// The permission bits new files get from this process's umask.
mode_t NewFileMode() {
    mode_t mask = 022;
    if (FILE* f = std::fopen("/proc/self/status", "re")) {
        char line[256];
        while (std::fgets(line, sizeof line, f))
            if (std::strncmp(line, "Umask:", 6) == 0) mask = mode_t(std::strtoul(line + 6, nullptr, 8));
        std::fclose(f);
    }
    return 0666 & ~mask;
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string KeyOf(const std::string& storedName) {
    std::string key = storedName;
    while (key.size() > 1 && key.back() == '/') key.pop_back();
    return key;
}

// A new member's header fields from a stat result.
THeaderFields FieldsFor(const std::string& storedName, bool directory, const struct stat& st) {
    THeaderFields f = MakeNameFields(storedName, directory);
    f.MTime = ClampTime(st.st_mtim.tv_sec);
    f.UnixMode = uint16_t(st.st_mode & 0xFFFF);
    return f;
}

} // namespace

// ---- TLhaWriter ----------------------------------------------------------------------------

TLhaWriter::TLhaWriter(std::string archivePath, const Lh5Options& options)
    : FPath(std::move(archivePath)), FOptions(options) {}

void TLhaWriter::AddFile(const std::string& diskPath, const std::string& storedName) {
    Queue(diskPath, storedName, false);
}

void TLhaWriter::AddDirectory(const std::string& diskPath, const std::string& storedName) {
    Queue(diskPath, storedName, true);
}

void TLhaWriter::Queue(const std::string& diskPath, const std::string& storedName,
                       bool directory) {
    if (FFinished) throw ELhaError("The LHA archive has already been written");
    MakeNameFields(storedName, directory); // refuses bad names now, before any work
    TPending p{diskPath, storedName, KeyOf(storedName), directory};
    for (const TPending& q : FPending)
        if (q.Key == p.Key)
            throw ELhaError("\"" + storedName + "\" is given twice for one LHA archive");
    FPending.push_back(std::move(p));
}

TLhaReport TLhaWriter::Finish() {
    if (FFinished) throw ELhaError("The LHA archive has already been written");
    FFinished = true;
    TLhaReport report;
    report.Entries.resize(FPending.size());
    for (size_t i = 0; i < FPending.size(); ++i) report.Entries[i].StoredName = FPending[i].StoredName;

    // Write through a symbolic link to the archive (even one whose target does not exist
    // yet), as editors do, so the link stays.
    std::string target = FPath;
    for (int depth = 0; depth < 40; ++depth) {
        struct stat lst {};
        if (::lstat(target.c_str(), &lst) != 0 || !S_ISLNK(lst.st_mode)) break;
        std::string link(size_t(lst.st_size > 0 ? lst.st_size : 4096) + 1, '\0');
        const ssize_t n = ::readlink(target.c_str(), link.data(), link.size());
        if (n <= 0 || size_t(n) >= link.size()) break;
        link.resize(size_t(n));
        target = link.front() == '/' ? link : FolderOf(target) + "/" + link;
    }

    // The existing archive, if any.
    std::vector<TArchiveMember> old;
    TFd oldFd(::open(target.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat oldSt {};
    if (oldFd.Get() < 0) {
        if (errno != ENOENT)
            throw ELhaError("Cannot open file \"" + FPath + "\": " + Reason(errno));
    } else {
        if (::fstat(oldFd.Get(), &oldSt) != 0 || !S_ISREG(oldSt.st_mode))
            throw ELhaError("\"" + FPath + "\" is not an LHA archive");
        const int fd = oldFd.Get();
        old = ScanArchive(
            [fd](uint64_t offset, void* buffer, size_t size) -> size_t {
                size_t got = 0;
                while (got < size) {
                    const ssize_t n = ::pread(fd, static_cast<char*>(buffer) + got, size - got,
                                              off_t(offset + got));
                    if (n < 0 && errno == EINTR) continue;
                    if (n < 0) throw ELhaError("Cannot read the LHA archive: " + Reason(errno));
                    if (n == 0) break;
                    got += size_t(n);
                }
                return got;
            },
            uint64_t(oldSt.st_size));
        // An empty file counts as a new archive, and a lone end mark as an empty one; other
        // files without members are not archives and are not replaced.
        if (old.empty() && oldSt.st_size > 1)
            throw ELhaError("\"" + FPath + "\" is not an LHA archive");
    }

    // Plan: which requests replace which old member, which are appended.
    std::unordered_map<std::string, size_t> oldByPath;
    for (size_t j = 0; j < old.size(); ++j) oldByPath.emplace(old[j].Path, j);
    std::vector<std::ptrdiff_t> replacement(old.size(), -1);
    std::vector<size_t> appended;
    for (size_t i = 0; i < FPending.size(); ++i) {
        const TPending& p = FPending[i];
        TLhaEntryReport& e = report.Entries[i];
        struct stat st {};
        if (::stat(p.DiskPath.c_str(), &st) != 0) {
            e.Error = "Cannot read \"" + p.DiskPath + "\": " + Reason(errno);
            continue;
        }
        if (p.Directory ? !S_ISDIR(st.st_mode) : !S_ISREG(st.st_mode)) {
            e.Error = "\"" + p.DiskPath + "\" is not a " + (p.Directory ? "folder" : "regular file");
            continue;
        }
        const auto found = oldByPath.find(p.Key);
        if (found == oldByPath.end()) {
            appended.push_back(i);
            continue;
        }
        const TArchiveMember& m = old[found->second];
        int64_t disk = st.st_mtim.tv_sec;
        if (m.DosTime) disk &= ~int64_t(1); // MS-DOS stamps have 2-second steps
        if (disk > m.MTime && replacement[found->second] < 0) {
            replacement[found->second] = std::ptrdiff_t(i);
        } else {
            e.Result = TEntryResult::Kept;
            e.Method = m.Method;
            e.OriginalSize = m.OriginalSize;
            e.PackedSize = m.PackedSize;
        }
    }
    if (appended.empty() && std::count(replacement.begin(), replacement.end(), -1) ==
                                std::ptrdiff_t(replacement.size()))
        return report; // nothing to do: the archive stays untouched

    // Build the new archive beside the old one.
    const size_t slash = target.rfind('/');
    const std::string baseName = slash == std::string::npos ? target : target.substr(slash + 1);
    std::string tempName = FolderOf(target) + "/." + baseName + ".XXXXXX";
    TFd tempFd(::mkstemp(tempName.data()));
    if (tempFd.Get() < 0)
        throw ELhaError("Cannot write file \"" + FPath + "\": " + Reason(errno));
    struct TRemoveTemp {
        std::string Name;
        bool Armed = true;
        ~TRemoveTemp() {
            if (Armed) ::unlink(Name.c_str());
        }
    } removeTemp{tempName};
    ::fcntl(tempFd.Get(), F_SETFD, FD_CLOEXEC);
    TFileOutput out(tempFd.Get(), FPath);

    // Writes request i at the end; returns false (entry marked Failed) if its source failed.
    auto writeRequest = [&](size_t i, TEntryResult success) {
        const TPending& p = FPending[i];
        TLhaEntryReport& e = report.Entries[i];
        const uint64_t start = out.Size();
        try {
            if (p.Directory) {
                struct stat st {};
                if (::stat(p.DiskPath.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
                    throw ESourceError("Cannot read \"" + p.DiskPath + "\"");
                WriteDirectoryMember(out, FieldsFor(p.StoredName, true, st));
                e.Method = "-lhd-";
            } else {
                TFd fd(::open(p.DiskPath.c_str(), O_RDONLY | O_CLOEXEC));
                struct stat st {};
                if (fd.Get() < 0 || ::fstat(fd.Get(), &st) != 0)
                    throw ESourceError("Cannot read file \"" + p.DiskPath + "\": " + Reason(errno));
                if (!S_ISREG(st.st_mode))
                    throw ESourceError("\"" + p.DiskPath + "\" is not a regular file");
                if (uint64_t(st.st_size) > 0xFFFFFFFFu)
                    throw ESourceError("\"" + p.DiskPath +
                                       "\" is too large for an LHA archive (the limit is 4 GiB)");
                TFileSource source(fd.Get(), p.DiskPath, uint64_t(st.st_size));
                const TMemberResult r =
                    WriteFileMember(out, FieldsFor(p.StoredName, false, st), source, FOptions, true);
                e.Method = r.Method;
                e.OriginalSize = r.OriginalSize;
                e.PackedSize = r.PackedSize;
            }
            e.Result = success;
            return true;
        } catch (const ESourceError& err) {
            out.Truncate(start);
            e.Result = TEntryResult::Failed;
            e.Method.clear();
            e.OriginalSize = e.PackedSize = 0;
            e.Error = err.what();
            return false;
        }
    };
    auto copyOld = [&](const TArchiveMember& m) {
        std::vector<uint8_t> buffer(1 << 20);
        uint64_t offset = m.Offset, left = m.End() - m.Offset;
        while (left > 0) {
            const size_t want = size_t(std::min<uint64_t>(left, buffer.size()));
            const ssize_t n = ::pread(oldFd.Get(), buffer.data(), want, off_t(offset));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0)
                throw ELhaError("Cannot read the LHA archive \"" + FPath +
                                "\": " + (n < 0 ? Reason(errno) : "it got shorter"));
            out.Append(buffer.data(), size_t(n));
            offset += uint64_t(n);
            left -= uint64_t(n);
        }
    };

    bool changed = false;
    for (size_t j = 0; j < old.size(); ++j) {
        if (replacement[j] >= 0 && writeRequest(size_t(replacement[j]), TEntryResult::Replaced))
            changed = true;
        else
            copyOld(old[j]);
    }
    for (size_t i : appended) changed = writeRequest(i, TEntryResult::Added) || changed;
    if (!changed) return report; // every source failed: leave the archive alone

    const uint8_t end = 0;
    out.Append(&end, 1);
    out.Flush();
    const mode_t mode = oldFd.Get() >= 0 ? (oldSt.st_mode & 07777) : NewFileMode();
    if (oldFd.Get() >= 0 && ::fchown(tempFd.Get(), oldSt.st_uid, oldSt.st_gid) != 0) {
        // Not allowed to give the file its old owner: it keeps ours, like any new file.
    }
    if (::fchmod(tempFd.Get(), mode) != 0 || ::fsync(tempFd.Get()) != 0) out.Fail(errno);
    if (tempFd.Close() != 0) out.Fail(errno);
    if (::rename(tempName.c_str(), target.c_str()) != 0) out.Fail(errno);
    removeTemp.Armed = false;
    // Make the rename itself durable.
    TFd dir(::open(FolderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.Get() >= 0) ::fsync(dir.Get());
    report.ArchiveWritten = true;
    return report;
}

// ---- in memory -------------------------------------------------------------------------

std::vector<uint8_t> BuildArchive(std::span<const TMemoryMember> members,
                                  const TBuildOptions& options) {
    TVectorOutput out;
    for (const TMemoryMember& m : members) {
        THeaderFields f = MakeNameFields(m.StoredName, m.Directory);
        f.MTime = m.MTime;
        f.UnixMode = m.Mode ? m.Mode : (m.Directory ? 040755 : 0100644);
        if (m.Directory) {
            WriteDirectoryMember(out, f);
        } else {
            TMemorySource source(m.Data);
            WriteFileMember(out, f, source, options.Lh5, options.AllowStored);
        }
    }
    out.Bytes.push_back(0);
    return out.Bytes;
}

} // namespace pictor::lha
