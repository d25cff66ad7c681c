#include "shell/ShellDbt.h"

#include "core/Exception.h"
#include "shell/ShellEnv.h"
#include "shell/ShellNotify.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <algorithm>
#include <fcntl.h>
#include <unistd.h>

namespace pictor {

TDeviceChangeData MakeDeviceNotice(const TVolume& volume, bool arrival) {
    TDeviceChangeData data;
    data.EventCode = arrival ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE;
    if (volume.Network) {
        // The tree refreshes its network part as a whole; the notice names no volume.
        data.Kind = DeviceKindNetwork;
        return data;
    }
    data.Kind = DeviceKindVolume;
    data.DisplayText = VolumeNoticeText(volume, arrival);
    data.Root = TItemIDList(TIdKind::Computer, "").Append(TIdKind::Volume, volume.MountPoint);
    return data;
}

TShellCtrlList& TShellCtrlList::Instance() {
    static TShellCtrlList list;
    return list;
}

TShellCtrlList::~TShellCtrlList() {
    StopWatch();
}

void TShellCtrlList::Register(IShellCtrl* ctrl) {
    if (!ctrl || std::find(FCtrls.begin(), FCtrls.end(), ctrl) != FCtrls.end()) return;
    FCtrls.push_back(ctrl);
    if (FCtrls.size() == 1) StartWatch();
}

void TShellCtrlList::Unregister(IShellCtrl* ctrl) {
    const auto it = std::find(FCtrls.begin(), FCtrls.end(), ctrl);
    if (it == FCtrls.end()) return;
    FCtrls.erase(it);
    if (FCtrls.empty()) StopWatch();
}

void TShellCtrlList::StartWatch() {
    FHaveVolumes = ReadVolumes(FVolumes);
    // The kernel flags the open table with POLLPRI after every mount and unmount; it is always
    // readable, so only the exception condition says something.
    FFd = ::open(ShellEnvironment().MountInfoPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (FFd >= 0 && QCoreApplication::instance()) {
        FNotifier =
            new QSocketNotifier(FFd, QSocketNotifier::Exception, QCoreApplication::instance());
        QObject::connect(FNotifier.data(), &QSocketNotifier::activated, FNotifier.data(),
                         [this] { CheckMounts(); });
    }
}

void TShellCtrlList::StopWatch() {
    delete FNotifier.data();
    FNotifier = nullptr;
    if (FFd >= 0) ::close(FFd);
    FFd = -1;
    FVolumes.clear();
    FHaveVolumes = false;
}

bool TShellCtrlList::ReadVolumes(std::map<std::string, TVolume>& out) const {
    const TShellEnvironment& env = ShellEnvironment();
    std::vector<TMountEntry> mounts;
    try {
        mounts = ReadMountInfo(env.MountInfoPath);
    } catch (const Exception&) {
        return false;
    }
    // A table caught while being rewritten, or unreadable: keep what we knew.
    if (mounts.empty()) return false;
    out.clear();
    for (auto& v : UserVolumes(mounts, env))
        out[v.MountPoint] = std::move(v);
    return true;
}

void TShellCtrlList::CheckMounts() {
    std::map<std::string, TVolume> now;
    if (!ReadVolumes(now)) return;
    if (!FHaveVolumes) {
        FVolumes = std::move(now);
        FHaveVolumes = true;
        return;
    }
    auto same = [](const TVolume& a, const TVolume& b) {
        return a.Device == b.Device && a.FsType == b.FsType;
    };
    // Removals first: a watcher keeps only its latest notice, and when another medium took a
    // mount point's place, its arrival is what the tree must show.
    std::vector<TDeviceChangeData> notices;
    for (const auto& [place, v] : FVolumes) {
        const auto it = now.find(place);
        if (it == now.end() || !same(it->second, v)) notices.push_back(MakeDeviceNotice(v, false));
    }
    for (const auto& [place, v] : now) {
        const auto it = FVolumes.find(place);
        if (it == FVolumes.end() || !same(it->second, v))
            notices.push_back(MakeDeviceNotice(v, true));
    }
    FVolumes = std::move(now);
    const std::vector<IShellCtrl*> ctrls = FCtrls; // a control may leave while we post
    for (const auto& notice : notices)
        for (IShellCtrl* ctrl : ctrls)
            if (TShDirWatcher* watcher = ctrl->DeviceWatcher())
                watcher->PostDeviceNotice(std::make_unique<TDeviceChangeData>(notice));
}

} // namespace pictor
