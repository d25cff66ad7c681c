#include "core/FileIO.h"

#include "core/Exception.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pictor {

namespace {

class TFd {
public:
    explicit TFd(int fd) : FFd(fd) {}
    ~TFd() {
        if (FFd >= 0) ::close(FFd);
    }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    int Get() const { return FFd; }
    void Reset(int fd) {
        if (FFd >= 0) ::close(FFd);
        FFd = fd;
    }
    // Closes now and reports the result (a deferred write error can show here).
    int Close() {
        const int r = ::close(FFd);
        FFd = -1;
        return r;
    }

private:
    int FFd;
};

bool WriteAll(int fd, std::span<const uint8_t> data) {
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += size_t(n);
    }
    return true;
}

} // namespace

namespace {

// Opens a regular file for reading, non-blocking so that a FIFO named as a file cannot hang
// the program; raises EInOutError naming the file.
int OpenRegular(const std::string& path, struct stat& st) {
    auto fail = [&](int err) {
        throw EInOutError("Cannot read file \"" + path + "\": " + std::strerror(err));
    };
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) fail(errno);
    int err = 0;
    if (::fstat(fd, &st) != 0)
        err = errno;
    else if (!S_ISREG(st.st_mode))
        err = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    if (err != 0) {
        ::close(fd);
        fail(err);
    }
    return fd;
}

// Reads up to limit bytes into out (any byte container), growing it as the file goes on, and
// tells whether more follows. The size the file reports is only a first guess: it may be 0
// (kernel files), or change while being read.
template <typename TBytes>
bool ReadPrefix(const std::string& path, int fd, uint64_t sizeHint, size_t limit, TBytes& out) {
    out.resize(size_t(std::min<uint64_t>(sizeHint, limit)));
    size_t done = 0;
    for (;;) {
        if (done == out.size()) {
            if (done >= limit) break;
            out.resize(std::min(limit, done + 64 * 1024));
        }
        const ssize_t n = ::read(fd, reinterpret_cast<char*>(out.data()) + done, out.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw EInOutError("Cannot read file \"" + path + "\": " + std::strerror(errno));
        if (n == 0) break;
        done += size_t(n);
    }
    out.resize(done);
    if (done < limit) return false;
    char probe;
    ssize_t n;
    while ((n = ::read(fd, &probe, 1)) < 0 && errno == EINTR) {
    }
    return n > 0;
}

} // namespace

std::optional<std::vector<uint8_t>> ReadFileBytes(const std::string& path, uint64_t maxSize) {
    struct stat st {};
    TFd fd(OpenRegular(path, st));
    if (uint64_t(st.st_size) > maxSize) return std::nullopt;
    std::vector<uint8_t> data;
    const size_t limit = size_t(std::min<uint64_t>(maxSize, SIZE_MAX - 1));
    if (ReadPrefix(path, fd.Get(), uint64_t(st.st_size), limit, data))
        return std::nullopt; // grew past the limit
    return data;
}

TFileHead ReadFileHead(const std::string& path, size_t limit) {
    struct stat st {};
    TFd fd(OpenRegular(path, st));
    TFileHead head;
    head.Truncated = ReadPrefix(path, fd.Get(), uint64_t(st.st_size), limit, head.Bytes);
    head.FileSize =
        std::max<uint64_t>(uint64_t(st.st_size), head.Bytes.size() + (head.Truncated ? 1 : 0));
    return head;
}

void WriteFileAtomically(const std::string& path, std::span<const uint8_t> data) {
    auto fail = [&](int err) {
        throw EInOutError("Cannot write file \"" + path + "\": " + std::strerror(err));
    };
    if (path.empty()) fail(ENOENT);
    std::string target = path;
    if (char* real = ::realpath(path.c_str(), nullptr)) {
        target = real;
        std::free(real);
    }
    const size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? "./" : target.substr(0, slash + 1);
    // Shortened so that the temporary name stays within the file system's name limit.
    const std::string base =
        folder + "." +
        (slash == std::string::npos ? target : target.substr(slash + 1)).substr(0, 200);

    bool unnamed = true;
    TFd fd(::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
    std::string temp;
    if (fd.Get() < 0) {
        unnamed = false;
        temp = base + ".XXXXXX";
        fd.Reset(::mkostemp(temp.data(), O_CLOEXEC));
        if (fd.Get() < 0) fail(errno);
    }
    struct stat old {};
    if (::stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
        ::fchmod(fd.Get(), old.st_mode & 07777);
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(fd.Get(), 0666 & ~mask);
    }
    int err = 0;
    if (!WriteAll(fd.Get(), data) || ::fsync(fd.Get()) != 0) err = errno ? errno : EIO;
    if (!err && unnamed) {
        // Give the complete file a name; only now can a crash leave it behind.
        const std::string self = "/proc/self/fd/" + std::to_string(fd.Get());
        for (int attempt = 0; attempt < 100; ++attempt) {
            temp = base + "." + std::to_string(::getpid()) + "." + std::to_string(attempt);
            if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, temp.c_str(), AT_SYMLINK_FOLLOW) == 0)
                break;
            err = errno;
            temp.clear();
            if (err != EEXIST) break;
        }
        if (!temp.empty()) err = 0;
    }
    if (fd.Close() != 0 && !err) err = errno;
    if (!err && ::rename(temp.c_str(), target.c_str()) != 0) err = errno;
    if (err) {
        if (!temp.empty()) ::unlink(temp.c_str());
        fail(err);
    }
    const TFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.Get() >= 0) ::fsync(dir.Get());
}

} // namespace pictor
