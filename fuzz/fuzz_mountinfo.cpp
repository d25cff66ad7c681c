// Fuzz target for the mount-table parser and the choice of user-visible volumes. Besides "no
// crash", it checks that every entry and volume keeps the shape the callers rely on.
#include "shell/MountTable.h"
#include "shell/ShellDbt.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string_view>

using namespace pictor;

namespace {

[[noreturn]] void Broken(const char* what) {
    std::fprintf(stderr, "fuzz_mountinfo oracle failed: %s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // No label links and no sysfs: the target must not depend on the machine it runs on.
    static const TShellEnvironment env = [] {
        TShellEnvironment e;
        e.ByLabelDir = "/nonexistent/pictor-fuzz/by-label";
        e.SysDir = "/nonexistent/pictor-fuzz/sys";
        return e;
    }();
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto mounts = ParseMountInfo(text);
    if (mounts.size() > size_t(std::count(text.begin(), text.end(), '\n')) + 1)
        Broken("more entries than lines");
    for (const auto& m : mounts) {
        if (m.MountPoint.empty() || m.MountPoint[0] != '/') Broken("mount point not absolute");
        if (m.MajorMinor.find(':') == std::string::npos) Broken("device number without colon");
        if (m.FsType.empty() || m.Id < 0 || m.ParentId < 0) Broken("entry fields out of shape");
    }
    const auto volumes = UserVolumes(mounts, env);
    if (volumes.empty() || volumes[0].MountPoint != "/") Broken("root is not the first volume");
    for (size_t i = 1; i < volumes.size(); ++i)
        if (!(volumes[i - 1].MountPoint < volumes[i].MountPoint))
            Broken("volumes not unique and sorted");
    for (const auto& v : volumes) {
        const std::string text = VolumeNoticeText(v, true);
        if (text.size() < v.MountPoint.size() + 3) Broken("notice text too short");
        const TDeviceChangeData notice = MakeDeviceNotice(v, false);
        if (!v.Network && notice.Root.Count() != 2) Broken("volume notice without its ID list");
    }
    return 0;
}
