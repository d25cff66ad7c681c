#include "core/SafeRename.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pictor {

namespace {

// The file system (or kernel) does not know the replace-free flag.
bool FlagRefused(int err) {
    return err == EINVAL || err == ENOSYS || err == EOPNOTSUPP || err == ENOTSUP;
}

// link(2) cannot make a second name here, though a rename might still work: no hard links on
// this file system (vfat, some FUSE ones answer EPERM), or the file has too many of them.
bool LinkImpossible(int err) {
    return err == EPERM || err == EOPNOTSUPP || err == ENOTSUP || err == ENOSYS || err == EMLINK;
}

// strerror_r comes in a GNU and an XSI flavour; accept either.
[[maybe_unused]] const char* ErrorTextOf(int result, const char* buffer) {
    return result == 0 ? buffer : nullptr;
}
[[maybe_unused]] const char* ErrorTextOf(const char* result, const char*) {
    return result;
}

} // namespace

int RenameNoReplace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    const int err = errno;
    // EINVAL also means "folder into itself"; the fallback's rename reports that again.
    if (!FlagRefused(err)) return err;
    return RenameNoReplaceFallback(from, to);
}

int RenameNoReplaceFallback(const std::string& from, const std::string& to) {
    struct stat st {};
    if (::lstat(from.c_str(), &st) != 0) return errno;
    if (!S_ISDIR(st.st_mode)) {
        // link(2) refuses an existing target atomically; a symbolic link is linked itself.
        if (::link(from.c_str(), to.c_str()) == 0) {
            if (::unlink(from.c_str()) == 0) return 0;
            const int err = errno;
            // The new name is the one we just made: drop it, the file stays where it was.
            ::unlink(to.c_str());
            return err;
        }
        const int err = errno;
        if (!LinkImpossible(err)) return err;
    }
    // Folders and link-less file systems: check, then rename. Another process creating `to`
    // between the two steps would lose its file; nothing better exists on such file systems.
    struct stat target {};
    if (::lstat(to.c_str(), &target) == 0) return EEXIST;
    if (errno != ENOENT) return errno;
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

std::string ErrnoText(int err) {
    char buffer[256] = {};
    const char* text = ErrorTextOf(::strerror_r(err, buffer, sizeof buffer), buffer);
    return text && *text ? std::string(text) : "Error " + std::to_string(err);
}

} // namespace pictor
