#pragma once

// Device notices: volumes appearing and disappearing, found by watching the mount table, and
// the process-wide registry of shell controls that forwards them to the folder trees.

#include "shell/MountTable.h"
#include "shell/ShellIDFunc.h"

#include <QPointer>

#include <map>
#include <memory>
#include <string>
#include <vector>

class QSocketNotifier;

namespace pictor {

class TShDirWatcher;

constexpr unsigned DBT_DEVICEARRIVAL = 0x8000;
constexpr unsigned DBT_DEVICEREMOVECOMPLETE = 0x8004;

constexpr int DeviceKindVolume = 1;  // a volume with media (disk, card, stick, image)
constexpr int DeviceKindNetwork = 2; // a network mount

struct TDeviceChangeData {
    // Kind 1: on arrival the label and the mount point ("Sd card (/media/u/SD)"), on removal
    // only " (/media/u/SD)". Kind 2: empty.
    std::string DisplayText;
    unsigned EventCode = 0; // DBT_DEVICEARRIVAL or DBT_DEVICEREMOVECOMPLETE
    int Kind = 0;
    // Kind 1: Computer/Volume(mount point). Kind 2: null (a network notice names no volume).
    TItemIDList Root = TItemIDList::Null();
};

// The notice for one volume that appeared (arrival) or went away.
TDeviceChangeData MakeDeviceNotice(const TVolume& volume, bool arrival);

// A shell control as the registry sees it.
class IShellCtrl {
public:
    virtual ~IShellCtrl() = default;
    // The watcher that receives device notices; null for controls that ignore them (lists).
    virtual TShDirWatcher* DeviceWatcher() = 0;
};

// The live shell controls of the process. While it holds at least one, it watches the mount
// table and posts a notice for each volume that appears or goes away to every control's device
// watcher. Used from the UI thread only.
class TShellCtrlList {
public:
    static TShellCtrlList& Instance();

    // Adds a control (again: no effect); the first one starts the mount watch.
    void Register(IShellCtrl* ctrl);
    // Removes a control; the last one stops the mount watch.
    void Unregister(IShellCtrl* ctrl);
    int Count() const { return int(FCtrls.size()); }
    // Re-reads the mount table now and posts notices for what changed since the last reading.
    // An unreadable or empty table is ignored (it does not make every volume "go away").
    void CheckMounts();

    ~TShellCtrlList();

private:
    TShellCtrlList() = default;
    void StartWatch();
    void StopWatch();
    bool ReadVolumes(std::map<std::string, TVolume>& out) const;

    std::vector<IShellCtrl*> FCtrls;
    int FFd = -1;
    QPointer<QSocketNotifier> FNotifier; // owned by the application object, so it never outlives it
    std::map<std::string, TVolume> FVolumes; // by mount point, as last read
    bool FHaveVolumes = false;
};

} // namespace pictor
