#pragma once

// Where the namespace finds the user's folders, the trash and the mount table. Read once from
// the process environment; tests replace it so they never touch the real home.

#include <string>

namespace pictor {

struct TShellEnvironment {
    std::string HomeDir;    // $HOME
    std::string DesktopDir; // the XDG desktop folder (user-dirs.dirs, else $HOME/Desktop)
    std::string DataHome;   // $XDG_DATA_HOME, else $HOME/.local/share (home trash lives there)
    std::string MountInfoPath = "/proc/self/mountinfo";
    std::string ByLabelDir = "/dev/disk/by-label"; // volume labels: links named by label
    std::string SysDir = "/sys";                   // removable flags of block devices
    unsigned Uid = 0;

    static TShellEnvironment FromProcess();
};

// The environment in use (FromProcess() until replaced).
const TShellEnvironment& ShellEnvironment();
void SetShellEnvironment(const TShellEnvironment& env);

} // namespace pictor
