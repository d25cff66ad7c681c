#include "shell/MountTable.h"

#include "core/Exception.h"
#include "core/FileIO.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace pictor {

namespace {

// The kernel's table is a few hundred KiB even with thousands of container mounts.
constexpr size_t MaxMountInfoSize = 16u << 20;
constexpr size_t MaxPathLength = 4096; // PATH_MAX; longer mount points cannot be real
constexpr int MaxLabelLinks = 4096;

// File systems that hold no user data of their own: kernel interfaces, memory-backed scratch
// space, container layers, snap images, automount triggers.
const std::set<std::string_view> PseudoTypes = {
    "proc",       "sysfs",           "tmpfs",       "devtmpfs",      "devpts",  "cgroup",
    "cgroup2",    "overlay",         "squashfs",    "autofs",        "mqueue",  "hugetlbfs",
    "debugfs",    "tracefs",         "securityfs",  "pstore",        "bpf",     "configfs",
    "fusectl",    "binfmt_misc",     "efivarfs",    "nsfs",          "ramfs",   "rpc_pipefs",
    "nfsd",       "selinuxfs",       "rootfs",      "aufs",          "shiftfs", "zonefs",
    "fuse.lxcfs", "fuse.gvfsd-fuse", "fuse.portal", "fuse.snapfuse", "swap",
};

// Mounts of other machines' files, shown under "Network". Not 9p and virtiofs: those carry a
// virtual machine's host folders, which the guest sees as local.
const std::set<std::string_view> NetworkTypes = {
    "nfs",   "nfs4",       "cifs",        "smb3",           "smbfs",          "ncpfs",
    "afs",   "ceph",       "glusterfs",   "fuse.glusterfs", "sshfs",          "fuse.sshfs",
    "davfs", "fuse.davfs", "fuse.rclone", "fuse.s3fs",      "fuse.curlftpfs",
};

// Places where the system keeps mounts a user never browses to (kernel interfaces, boot
// partitions, container storage). /run/media holds user-mounted media and is kept.
const std::string_view HiddenPlaces[] = {
    "/proc",
    "/sys",
    "/dev",
    "/run",
    "/snap",
    "/boot",
    "/efi",
    "/var/lib/docker",
    "/var/lib/containers",
    "/var/lib/kubelet",
    "/var/snap",
};

bool StartsWith(std::string_view s, std::string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

bool IsUnder(std::string_view path, std::string_view folder) {
    return path == folder ||
           (StartsWith(path, folder) && path.size() > folder.size() && path[folder.size()] == '/');
}

bool IsHiddenPlace(std::string_view mountPoint) {
    if (IsUnder(mountPoint, "/run/media")) return false;
    return std::any_of(std::begin(HiddenPlaces), std::end(HiddenPlaces),
                       [&](std::string_view p) { return IsUnder(mountPoint, p); });
}

bool ParseNumber(std::string_view s, int& out) {
    if (s.empty() || s.size() > 10) return false;
    long long v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    if (v > 0x7FFFFFFF) return false;
    out = int(v);
    return true;
}

bool IsMajorMinor(std::string_view s) {
    const size_t colon = s.find(':');
    int major, minor;
    return colon != std::string_view::npos && ParseNumber(s.substr(0, colon), major) &&
           ParseNumber(s.substr(colon + 1), minor);
}

// The table writes space, tab, newline and backslash in paths as \ooo.
std::string DecodeOctal(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] >= '0' && s[i + 1] <= '3' &&
            s[i + 2] >= '0' && s[i + 2] <= '7' && s[i + 3] >= '0' && s[i + 3] <= '7') {
            out.push_back(char((s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + (s[i + 3] - '0')));
            i += 3;
        } else {
            out.push_back(s[i]);
        }
    }
    return out;
}

// udev names label links with \xHH for bytes that cannot stand in a file name ("SD\x20CARD").
std::string DecodeHexEscapes(std::string_view s) {
    auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] == 'x' && hex(s[i + 2]) >= 0 &&
            hex(s[i + 3]) >= 0) {
            out.push_back(char(hex(s[i + 2]) * 16 + hex(s[i + 3])));
            i += 3;
        } else {
            out.push_back(s[i]);
        }
    }
    return out;
}

std::optional<TMountEntry> ParseLine(std::string_view line) {
    std::vector<std::string_view> f;
    for (size_t pos = 0;;) {
        const size_t sp = line.find(' ', pos);
        f.push_back(line.substr(pos, sp == std::string_view::npos ? sp : sp - pos));
        if (sp == std::string_view::npos) break;
        pos = sp + 1;
    }
    // id parent maj:min root mount-point options [optional fields...] - type source super
    size_t sep = 6;
    while (sep < f.size() && f[sep] != "-")
        ++sep;
    if (sep >= f.size() || f.size() - sep - 1 != 3) return std::nullopt;
    TMountEntry e;
    if (!ParseNumber(f[0], e.Id) || !ParseNumber(f[1], e.ParentId) || !IsMajorMinor(f[2]))
        return std::nullopt;
    e.MajorMinor = f[2];
    e.Root = DecodeOctal(f[3]);
    e.MountPoint = DecodeOctal(f[4]);
    if (e.MountPoint.empty() || e.MountPoint[0] != '/' ||
        e.MountPoint.find('\0') != std::string::npos)
        return std::nullopt;
    e.Options = f[5];
    e.FsType = DecodeOctal(f[sep + 1]);
    if (e.FsType.empty()) return std::nullopt;
    e.Source = DecodeOctal(f[sep + 2]);
    e.SuperOptions = f[sep + 3];
    return e;
}

// A whole kernel file (they report size 0 or 4096), at most cap bytes; nothing when it cannot
// be read or is larger.
std::optional<std::string> ReadBounded(const std::string& path, size_t cap) {
    try {
        TFileHead head = ReadFileHead(path, cap);
        if (head.Truncated) return std::nullopt;
        return std::move(head.Bytes);
    } catch (const EInOutError&) {
        return std::nullopt;
    }
}

bool HasOption(std::string_view options, std::string_view name) {
    for (size_t pos = 0; pos <= options.size();) {
        size_t comma = options.find(',', pos);
        if (comma == std::string_view::npos) comma = options.size();
        if (options.substr(pos, comma - pos) == name) return true;
        pos = comma + 1;
    }
    return false;
}

// Kernel device name ("sdb1", "dm-0") -> label, from the links of the by-label folder.
std::map<std::string, std::string> LabelsByDevice(const std::string& byLabelDir) {
    namespace fs = std::filesystem;
    std::map<std::string, std::string> labels;
    std::error_code ec;
    int seen = 0;
    for (fs::directory_iterator it(byLabelDir, ec), end; !ec && it != end && seen < MaxLabelLinks;
         it.increment(ec), ++seen) {
        const fs::path target = fs::read_symlink(it->path(), ec);
        if (ec) {
            ec.clear();
            continue;
        }
        const std::string device = target.filename().string();
        if (!device.empty()) labels[device] = DecodeHexEscapes(it->path().filename().string());
    }
    return labels;
}

// The kernel's name of a device node, through its links (/dev/mapper/x -> dm-0).
std::string KernelName(const std::string& device) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path real = fs::canonical(device, ec);
    return (ec ? fs::path(device) : real).filename().string();
}

bool IsRemovable(const TMountEntry& m, const TShellEnvironment& env) {
    if (IsUnder(m.MountPoint, "/media") || IsUnder(m.MountPoint, "/run/media")) return true;
    if (!IsMajorMinor(m.MajorMinor) || StartsWith(m.MajorMinor, "0:")) return false;
    // /sys/dev/block/MAJ:MIN links to the device; a partition's flag is its disk's.
    const std::string base = env.SysDir + "/dev/block/" + m.MajorMinor;
    struct stat st {};
    const bool partition = ::stat((base + "/partition").c_str(), &st) == 0;
    const auto flag = ReadBounded(base + (partition ? "/../removable" : "/removable"), 64);
    return flag && !flag->empty() && (*flag)[0] == '1';
}

} // namespace

std::vector<TMountEntry> ParseMountInfo(std::string_view text) {
    std::vector<TMountEntry> entries;
    for (size_t pos = 0; pos < text.size();) {
        size_t nl = text.find('\n', pos);
        if (nl == std::string_view::npos) nl = text.size();
        if (auto e = ParseLine(text.substr(pos, nl - pos))) entries.push_back(std::move(*e));
        pos = nl + 1;
    }
    return entries;
}

std::vector<TMountEntry> ReadMountInfo(const std::string& path) {
    TFileHead head = ReadFileHead(path, MaxMountInfoSize); // raises EInOutError
    if (head.Truncated)
        throw EInOutError("Cannot read file \"" + path + "\": " + std::strerror(EFBIG));
    return ParseMountInfo(head.Bytes);
}

std::vector<TVolume> UserVolumes(const std::vector<TMountEntry>& mounts,
                                 const TShellEnvironment& env) {
    // A later mount on the same place hides the earlier one.
    std::map<std::string_view, const TMountEntry*> byPlace;
    for (const auto& m : mounts)
        byPlace[m.MountPoint] = &m;

    std::vector<const TMountEntry*> shown;
    bool haveRoot = false;
    for (const auto& [place, m] : byPlace) {
        if (place.size() > MaxPathLength) continue;
        if (place == "/") {
            // The root is always there, whatever it is (an overlay in a container).
            haveRoot = true;
            shown.push_back(m);
            continue;
        }
        if (IsHiddenPlace(place) || PseudoTypes.count(m->FsType)) continue;
        if (NetworkTypes.count(m->FsType)) {
            shown.push_back(m);
            continue;
        }
        // A disk, card or image: a block device, and the whole file system (a bind mount of a
        // sub-folder is the same files seen twice).
        if (StartsWith(m->Source, "/dev/") && m->Root == "/") shown.push_back(m);
    }

    std::map<std::string, std::string> labels;
    bool labelsRead = false;
    std::vector<TVolume> volumes;
    if (!haveRoot) volumes.push_back(TVolume{"/", "", "", "", false, false, false});
    for (const TMountEntry* m : shown) {
        TVolume v;
        v.MountPoint = m->MountPoint;
        v.Device = m->Source;
        v.FsType = m->FsType;
        v.Network = NetworkTypes.count(m->FsType) > 0;
        v.ReadOnly = HasOption(m->Options, "ro") || HasOption(m->SuperOptions, "ro");
        if (!v.Network) {
            if (StartsWith(m->Source, "/dev/")) {
                if (!labelsRead) {
                    labels = LabelsByDevice(env.ByLabelDir);
                    labelsRead = true;
                }
                if (!labels.empty()) {
                    const auto it = labels.find(KernelName(m->Source));
                    if (it != labels.end()) v.Label = it->second;
                }
            }
            v.Removable = IsRemovable(*m, env);
        }
        volumes.push_back(std::move(v));
    }
    return volumes; // "/" sorts first: every other mount point is longer and starts with it
}

std::string VolumeNoticeText(const TVolume& volume, bool arrival) {
    std::string text;
    if (arrival) {
        text = volume.Label;
        for (char& c : text)
            if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
        if (!text.empty() && text[0] >= 'a' && text[0] <= 'z') text[0] = char(text[0] - 'a' + 'A');
    }
    return text + " (" + volume.MountPoint + ")";
}

} // namespace pictor
