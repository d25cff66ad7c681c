// Device notices: their settle time in the tree's watcher, and the registry that finds them in
// the mount table.
#include "shell/ShellDbt.h"
#include "shell/ShellEnv.h"
#include "shell/ShellNotify.h"

#include "ShellTestSupport.h"
#include "support/TempDir.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <unistd.h>

using namespace pictor;
using pictor_test::PumpFor;
using pictor_test::PumpUntil;
using pictor_test::TempDir;
using pictor_test::WriteFile;
namespace fs = std::filesystem;

namespace {

std::unique_ptr<TDeviceChangeData> Notice(const std::string& text, unsigned code) {
    auto d = std::make_unique<TDeviceChangeData>();
    d->DisplayText = text;
    d->EventCode = code;
    d->Kind = DeviceKindVolume;
    return d;
}

// A tree as the registry sees it: its watcher's device reports are recorded.
struct TFakeTree : IShellCtrl {
    std::vector<TDeviceChangeData> Seen;
    TShDirWatcher Watcher{std::nullopt,
                          2,
                          [this](TShDirWatcher*, const TDeviceChangeData& d) { Seen.push_back(d); },
                          nullptr,
                          nullptr,
                          300,
                          200};
    TShDirWatcher* DeviceWatcher() override { return &Watcher; }
};

struct TFakeList : IShellCtrl {
    TShDirWatcher* DeviceWatcher() override { return nullptr; }
};

} // namespace

// Notices in quick succession: only the last is reported, after its own quiet time.
TEST(DeviceNotice, LaterNoticeWins) {
    std::vector<std::string> seen;
    TShDirWatcher w(
        std::nullopt, 2,
        [&](TShDirWatcher*, const TDeviceChangeData& d) { seen.push_back(d.DisplayText); }, nullptr,
        nullptr, 300, 400);
    w.PostDeviceNotice(Notice("A (/a)", DBT_DEVICEARRIVAL));
    w.PostDeviceNotice(Notice(" (/b)", DBT_DEVICEREMOVECOMPLETE));
    ASSERT_TRUE(PumpUntil([&] { return seen.size() == 1; }));
    PumpFor(900);
    EXPECT_EQ(seen, std::vector<std::string>{" (/b)"});
    w.PostDeviceNotice(Notice("C (/c)", DBT_DEVICEARRIVAL));
    ASSERT_TRUE(PumpUntil([&] { return seen.size() == 2; }));
    EXPECT_EQ(seen.back(), "C (/c)");

    // Without a device handler notices are not taken.
    int folderCalls = 0;
    TShDirWatcher bare(
        std::nullopt, 2, nullptr, [&](TShDirWatcher*) { ++folderCalls; }, nullptr, 300, 100);
    bare.PostDeviceNotice(Notice("D (/d)", DBT_DEVICEARRIVAL));
    PumpFor(500);
    EXPECT_EQ(folderCalls, 0);
}

// A volume appearing and going in the mount table reaches the trees (not the lists).
TEST(ShellCtrlList, MountChangesBecomeNotices) {
    TempDir dir;
    const TShellEnvironment saved = ShellEnvironment();
    TShellEnvironment env = saved;
    env.MountInfoPath = (dir.path / "mountinfo").string();
    env.ByLabelDir = (dir.path / "by-label").string();
    env.SysDir = (dir.path / "sys").string();
    fs::create_directories(env.ByLabelDir);
    fs::create_symlink("../../sdc1", dir.path / "by-label" / "MY\\x20STICK");
    SetShellEnvironment(env);
    struct TRestore {
        TShellEnvironment env;
        ~TRestore() { SetShellEnvironment(env); }
    } restore{saved};

    const std::string base = "1 0 8:1 / / rw - ext4 /dev/sda1 rw\n"
                             "2 1 0:5 / /proc rw - proc proc rw\n";
    const std::string stick = "3 1 8:33 / /media/u/USB rw - vfat /dev/sdc1 rw\n";
    const std::string nas = "4 1 0:60 / /mnt/nas rw - nfs4 nas:/photos rw\n";
    WriteFile(env.MountInfoPath, base);

    TShellCtrlList& list = TShellCtrlList::Instance();
    TFakeTree tree;
    TFakeList files;
    list.Register(&tree);
    list.Register(&files);
    list.Register(&tree);
    EXPECT_EQ(list.Count(), 2);

    struct TStep {
        std::string table;
        unsigned code;
        int kind;
        std::string text;
        TItemIDList root;
    };
    const TItemIDList usb =
        TItemIDList(TIdKind::Computer, "").Append(TIdKind::Volume, "/media/u/USB");
    const TStep steps[] = {
        {base + stick, DBT_DEVICEARRIVAL, DeviceKindVolume, "My stick (/media/u/USB)", usb},
        {base, DBT_DEVICEREMOVECOMPLETE, DeviceKindVolume, " (/media/u/USB)", usb},
        {base + nas, DBT_DEVICEARRIVAL, DeviceKindNetwork, "", TItemIDList::Null()},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.text);
        tree.Seen.clear();
        WriteFile(env.MountInfoPath, s.table);
        list.CheckMounts();
        ASSERT_TRUE(PumpUntil([&] { return tree.Seen.size() == 1; }));
        EXPECT_EQ(tree.Seen[0].EventCode, s.code);
        EXPECT_EQ(tree.Seen[0].Kind, s.kind);
        EXPECT_EQ(tree.Seen[0].DisplayText, s.text);
        EXPECT_EQ(tree.Seen[0].Root, s.root);
    }

    // An unreadable or empty table is not "every volume went away".
    tree.Seen.clear();
    fs::remove(env.MountInfoPath);
    list.CheckMounts();
    WriteFile(env.MountInfoPath, "");
    list.CheckMounts();
    PumpFor(500);
    EXPECT_TRUE(tree.Seen.empty());

    list.Unregister(&files);
    list.Unregister(&tree);
    EXPECT_EQ(list.Count(), 0);
}

// The kernel's own table: a real mount and unmount reach the tree through the table's POLLPRI.
TEST(ShellCtrlList, RealMountIsNoticed) {
    if (::getuid() != 0 || std::system("command -v mkfs.ext4 >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "needs root and mkfs.ext4 to mount a loop image";
    TempDir dir;
    const fs::path image = dir.path / "vol.img", place = dir.path / "vol";
    fs::create_directory(place);
    const std::string mkfs = "truncate -s 2M '" + image.string() + "' && mkfs.ext4 -q '" +
                             image.string() + "' >/dev/null 2>&1";
    ASSERT_EQ(std::system(mkfs.c_str()), 0);
    const std::string mount = "mount -o loop '" + image.string() + "' '" + place.string() + "'";
    const std::string umount = "umount '" + place.string() + "' 2>/dev/null";

    TFakeTree tree;
    TShellCtrlList::Instance().Register(&tree);
    struct TCleanup {
        std::string umount;
        IShellCtrl* ctrl;
        ~TCleanup() {
            TShellCtrlList::Instance().Unregister(ctrl);
            [[maybe_unused]] int r = std::system(umount.c_str());
        }
    } cleanup{umount, &tree};
    if (std::system(mount.c_str()) != 0) GTEST_SKIP() << "loop mounts are not permitted here";
    ASSERT_TRUE(PumpUntil([&] { return !tree.Seen.empty(); }));
    EXPECT_EQ(tree.Seen.back().EventCode, DBT_DEVICEARRIVAL);
    EXPECT_EQ(tree.Seen.back().Root,
              TItemIDList(TIdKind::Computer, "").Append(TIdKind::Volume, place.string()));
    tree.Seen.clear();
    ASSERT_EQ(std::system(umount.c_str()), 0);
    ASSERT_TRUE(PumpUntil([&] { return !tree.Seen.empty(); }));
    EXPECT_EQ(tree.Seen.back().EventCode, DBT_DEVICEREMOVECOMPLETE);
    EXPECT_EQ(tree.Seen.back().DisplayText, " (" + place.string() + ")");
}
