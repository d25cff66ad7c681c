#include "shell/Trash.h"

#include "core/Exception.h"
#include "core/FileIO.h"
#include "core/SafeRename.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pictor {

namespace {

constexpr uint64_t MaxInfoSize = 64 * 1024;
constexpr int MaxNameAttempts = 10000;
constexpr std::string_view InfoSuffix = ".trashinfo";
// No device has this number, so nothing counts as being on the home trash's file system.
constexpr uint64_t NoDevice = ~uint64_t(0);

bool IsUnreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::string StripTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

std::string JoinPath(const std::string& dir, const std::string& name) {
    if (dir.empty()) return name;
    return dir.back() == '/' ? dir + name : dir + "/" + name;
}

std::string BaseName(const std::string& path) {
    const std::string p = StripTrailingSlashes(path);
    const size_t slash = p.rfind('/');
    return slash == std::string::npos ? p : p.substr(slash + 1);
}

std::string ParentOf(const std::string& path) {
    const std::string p = StripTrailingSlashes(path);
    const size_t slash = p.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : p.substr(0, slash);
}

// Whether path is the mount point itself or below it (both absolute, without trailing "/").
bool IsWithin(const std::string& path, const std::string& mountPoint) {
    if (mountPoint == "/") return true;
    return path.size() > mountPoint.size() && path.compare(0, mountPoint.size(), mountPoint) == 0 &&
           path[mountPoint.size()] == '/';
}

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// $topdir/.Trash is shared by all users; it counts only as the administrator's real, sticky
// folder, never through a symbolic link someone could have planted.
bool IsSharedTrashRoot(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX);
}

// A user's trash on a volume must be that user's own real folder, so nobody else can read
// what is trashed there or redirect it.
bool IsOwnFolder(const std::string& path, unsigned uid) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == uid;
}

// 0 when the folder exists now (made here with mode 0700, or already there), else errno.
int MakeFolder(const std::string& path) {
    if (::mkdir(path.c_str(), 0700) == 0) return 0;
    const int err = errno;
    if (err != EEXIST) return err;
    return IsDirectory(path) ? 0 : ENOTDIR;
}

// Like mkdir -p, for $XDG_DATA_HOME that a fresh account may not have yet.
int MakeFolders(const std::string& path) {
    if (path.empty() || IsDirectory(path)) return 0;
    const std::string parent = ParentOf(path);
    if (parent != path && parent != "." && parent != "/") {
        if (const int err = MakeFolders(parent)) return err;
    }
    return MakeFolder(path);
}

int EnsureFilesAndInfo(const std::string& trashDir) {
    if (const int err = MakeFolder(JoinPath(trashDir, "files"))) return err;
    return MakeFolder(JoinPath(trashDir, "info"));
}

// The device of a path, or of its nearest existing ancestor (where it would be created).
uint64_t DeviceOfNearest(const std::string& path) {
    if (path.empty()) return NoDevice;
    std::string p = StripTrailingSlashes(path);
    for (int depth = 0; depth < 4096; ++depth) {
        struct stat st {};
        if (::stat(p.c_str(), &st) == 0) return uint64_t(st.st_dev);
        const std::string parent = ParentOf(p);
        if (parent == p) break;
        p = parent;
    }
    return NoDevice;
}

std::string HomeTrashDir(const TShellEnvironment& env) {
    return env.DataHome.empty() ? std::string() : JoinPath(env.DataHome, "Trash");
}

std::string SharedTrashRoot(const std::string& topDir) {
    return JoinPath(topDir, ".Trash");
}

std::string SharedTrashDir(const std::string& topDir, unsigned uid) {
    return JoinPath(SharedTrashRoot(topDir), std::to_string(uid));
}

std::string OwnTrashDir(const std::string& topDir, unsigned uid) {
    return JoinPath(topDir, ".Trash-" + std::to_string(uid));
}

std::string Trim(std::string_view s) {
    const size_t first = s.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    const size_t last = s.find_last_not_of(" \t");
    return std::string(s.substr(first, last - first + 1));
}

struct TInfoFields {
    std::optional<std::string> Path; // still encoded
    std::string DeletionDate;
};

// Desktop-entry style: blank and "#" lines may precede the first group, which must be
// [Trash Info]; in it, the first Path and DeletionDate count and other keys are ignored.
std::optional<TInfoFields> ParseTrashInfo(std::string_view text) {
    TInfoFields fields;
    bool inGroup = false;
    bool haveDate = false;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const bool blank = line.find_first_not_of(" \t") == std::string_view::npos;
        if (blank || line.front() == '#') continue;
        if (!inGroup) {
            if (line != "[Trash Info]") return std::nullopt;
            inGroup = true;
            continue;
        }
        if (line.front() == '[') break;
        const size_t eq = line.find('=');
        if (eq == std::string_view::npos) continue;
        const std::string key = Trim(line.substr(0, eq));
        if (key == "Path" && !fields.Path) {
            fields.Path = Trim(line.substr(eq + 1));
        } else if (key == "DeletionDate" && !haveDate) {
            fields.DeletionDate = Trim(line.substr(eq + 1));
            haveDate = true;
        }
    }
    if (!inGroup) return std::nullopt;
    return fields;
}

// The absolute original path from an encoded Path= value, or empty when unusable. A relative
// path belongs to a volume's trash and may not climb out of that volume.
std::string ResolveOriginal(const std::string& encoded, const std::string& topDir) {
    const auto decoded = PercentDecodePath(encoded);
    if (!decoded || decoded->empty() || decoded->find('\0') != std::string::npos) return {};
    if (decoded->front() == '/') return *decoded;
    if (topDir.empty()) return {};
    size_t start = 0;
    while (start <= decoded->size()) {
        size_t end = decoded->find('/', start);
        if (end == std::string::npos) end = decoded->size();
        if (decoded->compare(start, end - start, "..") == 0) return {};
        start = end + 1;
    }
    return JoinPath(topDir, *decoded);
}

TTrashEntry EntryFor(const std::string& trashDir, const std::string& topDir,
                     const std::string& name) {
    TTrashEntry entry;
    entry.FilesPath = JoinPath(JoinPath(trashDir, "files"), name);
    entry.InfoPath = JoinPath(JoinPath(trashDir, "info"), name + std::string(InfoSuffix));
    try {
        const auto bytes = ReadFileBytes(entry.InfoPath, MaxInfoSize);
        if (!bytes) return entry;
        const std::string_view text(reinterpret_cast<const char*>(bytes->data()), bytes->size());
        const auto fields = ParseTrashInfo(text);
        if (!fields) return entry;
        entry.DeletionDate = fields->DeletionDate;
        if (fields->Path) entry.OriginalPath = ResolveOriginal(*fields->Path, topDir);
    } catch (const Exception&) {
        // Missing or unreadable info: the item is listed under its trash name.
    }
    return entry;
}

// The trash of a volume for trashing into it, made when needed: the administrator's shared
// $topdir/.Trash/$uid when usable, else the user's own $topdir/.Trash-$uid.
int PrepareVolumeTrash(const std::string& topDir, unsigned uid, std::string& trashDir) {
    if (IsSharedTrashRoot(SharedTrashRoot(topDir))) {
        const std::string dir = SharedTrashDir(topDir, uid);
        if (MakeFolder(dir) == 0 && IsOwnFolder(dir, uid) && EnsureFilesAndInfo(dir) == 0) {
            trashDir = dir;
            return 0;
        }
    }
    const std::string dir = OwnTrashDir(topDir, uid);
    if (const int err = MakeFolder(dir)) return err;
    if (!IsOwnFolder(dir, uid)) return EACCES;
    if (const int err = EnsureFilesAndInfo(dir)) return err;
    trashDir = dir;
    return 0;
}

// Cuts a name to at most maxBytes without splitting a UTF-8 sequence.
std::string CutName(const std::string& name, size_t maxBytes) {
    if (name.size() <= maxBytes) return name;
    size_t n = maxBytes;
    while (n > 0 && (static_cast<unsigned char>(name[n]) & 0xC0) == 0x80)
        --n;
    return name.substr(0, n);
}

// The trash name for the n-th attempt: NAME, NAME.2, NAME.3 ..., shortened so that
// NAME.trashinfo still fits the file system's name limit.
std::string TrashName(const std::string& base, int attempt) {
    const std::string suffix = attempt == 1 ? std::string() : "." + std::to_string(attempt);
    const size_t limit = NAME_MAX - InfoSuffix.size() - suffix.size();
    return CutName(base, limit) + suffix;
}

std::string LocalTimestamp() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char text[32] = {};
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    return text;
}

int WriteAllAndSync(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) return EIO;
        done += size_t(n);
    }
    return ::fsync(fd) == 0 ? 0 : errno;
}

// The absolute path of the item with its folder resolved, so that Path= names where the item
// really was even when the given path runs through "..", "." or symbolic links; or an errno.
int AbsoluteItemPath(const std::string& path, std::string& result) {
    const std::string trimmed = StripTrailingSlashes(path);
    const std::string base = BaseName(trimmed);
    if (trimmed.empty() || trimmed == "/" || base.empty() || base == "." || base == "..")
        return EINVAL;
    char* real = ::realpath(ParentOf(trimmed).c_str(), nullptr);
    if (!real) return errno;
    result = JoinPath(real, base);
    std::free(real);
    return 0;
}

TTrashResult Failure(int err) {
    TTrashResult result;
    result.Error = err;
    return result;
}

} // namespace

std::string PercentEncodePath(std::string_view path) {
    static const char Hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(path.size());
    for (const char ch : path) {
        const auto c = static_cast<unsigned char>(ch);
        if (IsUnreserved(c) || c == '/') {
            out += ch;
        } else {
            out += '%';
            out += Hex[c >> 4];
            out += Hex[c & 15];
        }
    }
    return out;
}

std::optional<std::string> PercentDecodePath(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size()) return std::nullopt;
        const int high = HexValue(text[i + 1]);
        const int low = HexValue(text[i + 2]);
        if (high < 0 || low < 0) return std::nullopt;
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return out;
}

std::vector<TTrashDir> TrashDirectoriesForDevice(const TShellEnvironment& env,
                                                 const std::vector<std::string>& volumeMountPoints,
                                                 uint64_t homeDevice) {
    std::vector<TTrashDir> dirs;
    auto add = [&](const std::string& dir, const std::string& topDir) {
        for (const auto& d : dirs)
            if (d.Dir == dir) return;
        dirs.push_back({dir, topDir});
    };
    const std::string home = HomeTrashDir(env);
    if (!home.empty() && IsDirectory(home)) add(home, {});
    for (const auto& mountPoint : volumeMountPoints) {
        if (mountPoint.empty() || mountPoint.front() != '/') continue;
        const std::string topDir = StripTrailingSlashes(mountPoint);
        struct stat st {};
        if (::stat(topDir.c_str(), &st) != 0 || uint64_t(st.st_dev) == homeDevice) continue;
        if (IsSharedTrashRoot(SharedTrashRoot(topDir))) {
            const std::string shared = SharedTrashDir(topDir, env.Uid);
            if (IsOwnFolder(shared, env.Uid)) add(shared, topDir);
        }
        const std::string own = OwnTrashDir(topDir, env.Uid);
        if (IsOwnFolder(own, env.Uid)) add(own, topDir);
    }
    return dirs;
}

std::vector<TTrashDir> TrashDirectories(const TShellEnvironment& env,
                                        const std::vector<std::string>& volumeMountPoints) {
    return TrashDirectoriesForDevice(env, volumeMountPoints, DeviceOfNearest(env.DataHome));
}

std::vector<TTrashEntry> ListTrash(const std::vector<TTrashDir>& dirs) {
    std::vector<TTrashEntry> entries;
    for (const auto& dir : dirs) {
        DIR* handle = ::opendir(JoinPath(dir.Dir, "files").c_str());
        if (!handle) continue;
        std::vector<std::string> names;
        while (const dirent* e = ::readdir(handle)) {
            const std::string name = e->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        ::closedir(handle);
        std::sort(names.begin(), names.end());
        for (const auto& name : names)
            entries.push_back(EntryFor(dir.Dir, dir.TopDir, name));
    }
    return entries;
}

std::optional<TTrashEntry> ReadTrashEntry(const std::string& filesPath) {
    const std::string item = StripTrailingSlashes(filesPath);
    const std::string name = BaseName(item);
    if (item.empty() || item == "/" || name.empty() || name == "." || name == "..")
        return std::nullopt;
    const std::string filesDir = ParentOf(item);
    if (BaseName(filesDir) != "files" || filesDir == "files") return std::nullopt;
    const std::string trashDir = ParentOf(filesDir);
    // A volume's trash is $topdir/.Trash-$uid or $topdir/.Trash/$uid; anything else is taken
    // for a home trash, whose paths are absolute.
    std::string topDir;
    if (BaseName(trashDir).rfind(".Trash-", 0) == 0)
        topDir = ParentOf(trashDir);
    else if (BaseName(ParentOf(trashDir)) == ".Trash")
        topDir = ParentOf(ParentOf(trashDir));
    return EntryFor(trashDir, topDir, name);
}

std::string TrashDisplayName(const TTrashEntry& entry) {
    const std::string original = BaseName(entry.OriginalPath);
    if (!original.empty() && original != "/") return original;
    return BaseName(entry.FilesPath);
}

TTrashResult MoveToTrashForDevice(const std::string& path, const TShellEnvironment& env,
                                  const std::vector<std::string>& volumeMountPoints,
                                  uint64_t homeDevice) {
    std::string item;
    if (const int err = AbsoluteItemPath(path, item)) return Failure(err);
    struct stat st {};
    if (::lstat(item.c_str(), &st) != 0) return Failure(errno);

    std::string trashDir;
    std::string topDir;
    if (uint64_t(st.st_dev) == homeDevice) {
        trashDir = HomeTrashDir(env);
        if (const int err = MakeFolders(trashDir)) return Failure(err);
        if (const int err = EnsureFilesAndInfo(trashDir)) return Failure(err);
    } else {
        for (const auto& mountPoint : volumeMountPoints) {
            if (mountPoint.empty() || mountPoint.front() != '/') continue;
            const std::string candidate = StripTrailingSlashes(mountPoint);
            if (IsWithin(item, candidate) && candidate.size() >= topDir.size()) topDir = candidate;
        }
        if (topDir.empty()) return Failure(ENOTSUP);
        struct stat top {};
        if (::stat(topDir.c_str(), &top) != 0) return Failure(errno);
        // A volume mounted inside the chosen one but missing from the list: its files cannot
        // be renamed into this trash.
        if (top.st_dev != st.st_dev) return Failure(EXDEV);
        if (const int err = PrepareVolumeTrash(topDir, env.Uid, trashDir)) return Failure(err);
    }

    // In a volume's trash the path is kept relative to the mount point.
    const std::string recorded =
        topDir.empty() ? item : (topDir == "/" ? item.substr(1) : item.substr(topDir.size() + 1));
    const std::string info = "[Trash Info]\nPath=" + PercentEncodePath(recorded) +
                             "\nDeletionDate=" + LocalTimestamp() + "\n";
    const std::string base = BaseName(item);
    for (int attempt = 1; attempt <= MaxNameAttempts; ++attempt) {
        const std::string name = TrashName(base, attempt);
        const std::string infoPath =
            JoinPath(JoinPath(trashDir, "info"), name + std::string(InfoSuffix));
        // Creating the info file reserves the name against other programs trashing now.
        const int fd =
            ::open(infoPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return Failure(errno);
        }
        int err = WriteAllAndSync(fd, info);
        if (::close(fd) != 0 && err == 0) err = errno;
        if (err != 0) {
            ::unlink(infoPath.c_str());
            return Failure(err);
        }
        const std::string target = JoinPath(JoinPath(trashDir, "files"), name);
        err = RenameNoReplace(item, target);
        if (err == 0) {
            TTrashResult result;
            result.Ok = true;
            result.FilesPath = target;
            return result;
        }
        ::unlink(infoPath.c_str());
        // files/NAME left behind without info (another program, a crash): take the next name.
        if (err != EEXIST) return Failure(err);
    }
    return Failure(EEXIST);
}

TTrashResult MoveToTrash(const std::string& path, const TShellEnvironment& env,
                         const std::vector<std::string>& volumeMountPoints) {
    return MoveToTrashForDevice(path, env, volumeMountPoints, DeviceOfNearest(env.DataHome));
}

bool RestoreFromTrash(const TTrashEntry& entry, int* error) {
    int err = entry.OriginalPath.empty() || entry.FilesPath.empty()
                  ? EINVAL
                  : RenameNoReplace(entry.FilesPath, entry.OriginalPath);
    if (err == 0 && !entry.InfoPath.empty()) ::unlink(entry.InfoPath.c_str());
    if (error) *error = err;
    return err == 0;
}

} // namespace pictor
