#include "core/FileIO.h"

#include "core/Exception.h"

#include <cerrno>
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

std::optional<std::vector<uint8_t>> ReadFileBytes(const std::string& path, uint64_t maxSize) {
    auto fail = [&](int err) {
        throw EInOutError("Cannot read file \"" + path + "\": " + std::strerror(err));
    };
    // Non-blocking, so that a FIFO given as a picture cannot hang the program.
    TFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.Get() < 0) fail(errno);
    struct stat st{};
    if (::fstat(fd.Get(), &st) != 0) fail(errno);
    if (!S_ISREG(st.st_mode)) fail(S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
    if (uint64_t(st.st_size) > maxSize) return std::nullopt;
    std::vector<uint8_t> data(size_t(st.st_size));
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::read(fd.Get(), data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) fail(errno);
        if (n == 0) break;
        done += size_t(n);
    }
    data.resize(done);
    return data;
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
        folder + "." + (slash == std::string::npos ? target : target.substr(slash + 1)).substr(0, 200);

    bool unnamed = true;
    TFd fd(::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
    std::string temp;
    if (fd.Get() < 0) {
        unnamed = false;
        temp = base + ".XXXXXX";
        fd.Reset(::mkostemp(temp.data(), O_CLOEXEC));
        if (fd.Get() < 0) fail(errno);
    }
    struct stat old{};
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
