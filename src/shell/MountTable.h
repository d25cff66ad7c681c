#pragma once

// The mount table (/proc/self/mountinfo) and the volumes a user sees under "Computer" and
// "Network".

#include "shell/ShellEnv.h"

#include <string>
#include <string_view>
#include <vector>

namespace pictor {

// One line of the mount table, paths decoded (\040 and the like become bytes).
struct TMountEntry {
    int Id = 0;
    int ParentId = 0;
    std::string MajorMinor; // "8:17"
    std::string Root;       // the folder of the file system that is mounted ("/" for all of it)
    std::string MountPoint;
    std::string Options; // per-mount options ("rw,nosuid,relatime")
    std::string FsType;
    std::string Source;
    std::string SuperOptions;
};

// Parses mount-table text. Lines that do not have the expected shape are skipped.
std::vector<TMountEntry> ParseMountInfo(std::string_view text);

// Reads and parses the mount table at path. Raises EInOutError when it cannot be read or is
// implausibly large.
std::vector<TMountEntry> ReadMountInfo(const std::string& path);

struct TVolume {
    std::string MountPoint;
    std::string Label;  // file-system label, empty when it has none
    std::string Device; // the mount's source ("/dev/sdb1", "server:/export")
    std::string FsType;
    bool Network = false;
    bool Removable = false;
    bool ReadOnly = false;
};

// The volumes a user sees: "/" first (always present), then disks and network mounts by mount
// point. Labels come from env.ByLabelDir, the removable flag from env.SysDir.
std::vector<TVolume> UserVolumes(const std::vector<TMountEntry>& mounts,
                                 const TShellEnvironment& env);

// The text of a volume notice: on arrival "Label (/mount/point)" (the label lower-cased with its
// first letter upper-cased), on removal " (/mount/point)".
std::string VolumeNoticeText(const TVolume& volume, bool arrival);

} // namespace pictor
