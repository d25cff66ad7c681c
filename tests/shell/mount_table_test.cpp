// The mount table and the volumes a user sees.
#include "shell/MountTable.h"

#include "core/Exception.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace pictor;
using pictor_test::TempDir;
using pictor_test::WriteFile;
namespace fs = std::filesystem;

namespace {

// A container's table: overlay root, kernel file systems, a bind of a sub-folder, disks, media
// with a space in its name, a network mount, one mount hidden by a later one, and junk lines.
const char* const Table =
    "21 1 0:20 / / rw,relatime shared:1 - overlay overlay rw,lowerdir=/l,upperdir=/u\n"
    "22 21 0:21 / /proc rw,nosuid,nodev,noexec,relatime shared:2 - proc proc rw\n"
    "23 21 0:22 / /dev rw,nosuid master:3 - tmpfs tmpfs rw,size=65536k,mode=755\n"
    "24 21 0:23 / /tmp rw,nosuid,nodev shared:4 - tmpfs tmpfs rw\n"
    "25 21 8:2 /srv/data /data rw,relatime - ext4 /dev/sda2 rw\n"
    "26 21 8:2 / /home rw,relatime shared:5 - ext4 /dev/sda2 rw\n"
    "27 21 8:17 / /media/user/SD\\040CARD rw,nosuid,relatime shared:6 master:7 - vfat /dev/sdb1 "
    "rw,fmask=0022\n"
    "28 21 0:50 / /mnt/nas rw,relatime shared:8 - nfs4 nas.local:/export/photos rw,vers=4.2\n"
    "29 21 7:0 / /snap/core/123 ro,nodev,relatime shared:9 - squashfs /dev/loop0 ro\n"
    "30 21 8:1 / /boot/efi rw,relatime - vfat /dev/sda1 rw\n"
    "31 21 8:33 / /mnt/tab\\011name ro,relatime - ext4 /dev/sdc1 ro\n"
    "32 21 8:34 / /mnt/hidden rw - ext4 /dev/sdc2 rw\n"
    "33 32 0:70 / /mnt/hidden rw - tmpfs tmpfs rw\n"
    "34 21 8:49 / /mnt/back\\134slash\\012nl rw - ext4 /dev/sdd1 rw\n"
    "35 21 0:80 / /run/user/1000/gvfs rw - fuse.gvfsd-fuse gvfsd-fuse rw\n"
    "36 21 0:81 / /var/lib/docker/overlay2/x/merged rw - overlay overlay rw\n"
    "garbage\n"
    "\n"
    "1 2 3\n"
    "x 21 8:1 / /a rw - ext4 /dev/x rw\n"
    "40 21 8:1 / relative rw - ext4 /dev/x rw\n"
    "41 21 8:1 / /nosep rw ext4 /dev/x rw\n"
    "42 21 8:1 / /extra rw - ext4 /dev/x rw surplus\n"
    "43 21 8:1 / /short rw -\n"
    "44 21 81 / /badmm rw - ext4 /dev/x rw\n"
    "99999999999 21 8:1 / /huge rw - ext4 /dev/x rw\n"
    "45 21 8:1 / /last rw - ext4 /dev/sde1 rw"; // no final newline

TShellEnvironment FakeEnv(const fs::path& root) {
    TShellEnvironment env;
    env.ByLabelDir = (root / "by-label").string();
    env.SysDir = (root / "sys").string();
    fs::create_directories(env.ByLabelDir);
    fs::create_symlink("../../sdb1", root / "by-label" / "SD\\x20CARD");
    fs::create_symlink("../../sda2", root / "by-label" / "home");
    // sdc is a removable disk; /sys/dev/block/8:33 leads to its first partition.
    fs::create_directories(root / "sys/devices/sdc/sdc1");
    fs::create_directories(root / "sys/dev/block");
    WriteFile(root / "sys/devices/sdc/removable", "1\n");
    WriteFile(root / "sys/devices/sdc/sdc1/partition", "1\n");
    fs::create_symlink("../../devices/sdc/sdc1", root / "sys/dev/block/8:33");
    return env;
}

} // namespace

TEST(MountTable, ParsesLinesAndSkipsMalformedOnes) {
    const auto mounts = ParseMountInfo(Table);
    ASSERT_EQ(mounts.size(), 17u); // 16 good lines and the last one
    const TMountEntry& sd = mounts[6];
    EXPECT_EQ(sd.Id, 27);
    EXPECT_EQ(sd.ParentId, 21);
    EXPECT_EQ(sd.MajorMinor, "8:17");
    EXPECT_EQ(sd.Root, "/");
    EXPECT_EQ(sd.MountPoint, "/media/user/SD CARD");
    EXPECT_EQ(sd.Options, "rw,nosuid,relatime");
    EXPECT_EQ(sd.FsType, "vfat");
    EXPECT_EQ(sd.Source, "/dev/sdb1");
    EXPECT_EQ(sd.SuperOptions, "rw,fmask=0022");
    EXPECT_EQ(mounts[4].Root, "/srv/data");
    EXPECT_EQ(mounts[10].MountPoint, "/mnt/tab\tname");
    EXPECT_EQ(mounts[13].MountPoint, "/mnt/back\\slash\nnl");
    EXPECT_EQ(mounts.back().MountPoint, "/last");
    // Broken escapes stay as they are.
    EXPECT_EQ(ParseMountInfo("1 1 8:1 / /a\\09x\\4 rw - ext4 /dev/x rw")[0].MountPoint,
              "/a\\09x\\4");
}

TEST(MountTable, UserVolumes) {
    TempDir dir;
    const TShellEnvironment env = FakeEnv(dir.path);
    const auto volumes = UserVolumes(ParseMountInfo(Table), env);
    std::vector<std::string> places;
    for (const auto& v : volumes)
        places.push_back(v.MountPoint);
    EXPECT_EQ(places,
              (std::vector<std::string>{"/", "/home", "/last", "/media/user/SD CARD",
                                        "/mnt/back\\slash\nnl", "/mnt/nas", "/mnt/tab\tname"}));
    auto find = [&](const std::string& place) {
        return *std::find_if(volumes.begin(), volumes.end(),
                             [&](const TVolume& v) { return v.MountPoint == place; });
    };
    const TVolume root = find("/");
    EXPECT_EQ(root.FsType, "overlay");
    const TVolume sd = find("/media/user/SD CARD");
    EXPECT_EQ(sd.Label, "SD CARD");
    EXPECT_EQ(sd.Device, "/dev/sdb1");
    EXPECT_TRUE(sd.Removable);
    EXPECT_FALSE(sd.Network);
    const TVolume home = find("/home");
    EXPECT_EQ(home.Label, "home");
    EXPECT_FALSE(home.Removable);
    const TVolume nas = find("/mnt/nas");
    EXPECT_TRUE(nas.Network);
    EXPECT_EQ(nas.Device, "nas.local:/export/photos");
    EXPECT_FALSE(nas.Removable);
    const TVolume tab = find("/mnt/tab\tname");
    EXPECT_TRUE(tab.Removable); // from the disk's flag in sysfs
    EXPECT_TRUE(tab.ReadOnly);
    EXPECT_FALSE(find("/mnt/nas").ReadOnly);

    // Without any "/" line the root is still there, first.
    const auto bare = UserVolumes(ParseMountInfo("5 1 8:1 / /data rw - xfs /dev/sdf1 rw\n"), env);
    ASSERT_EQ(bare.size(), 2u);
    EXPECT_EQ(bare[0].MountPoint, "/");
    EXPECT_EQ(bare[1].MountPoint, "/data");
}

TEST(MountTable, ReadsFiles) {
    TempDir dir;
    WriteFile(dir.path / "mountinfo", Table);
    EXPECT_EQ(ReadMountInfo((dir.path / "mountinfo").string()).size(), 17u);
    EXPECT_THROW(ReadMountInfo((dir.path / "missing").string()), EInOutError);
    EXPECT_THROW(ReadMountInfo(dir.path.string()), EInOutError);
    // The kernel's own table reports a size of 0 and must still be read in full.
    const auto real = ReadMountInfo("/proc/self/mountinfo");
    ASSERT_FALSE(real.empty());
    EXPECT_EQ(UserVolumes(real, TShellEnvironment{}).front().MountPoint, "/");
}

TEST(MountTable, NoticeTexts) {
    struct TCase {
        const char* label;
        bool arrival;
        const char* text;
    } const cases[] = {
        {"SD CARD", true, "Sd card (/m)"},
        {"usb Stick", true, "Usb stick (/m)"},
        {"1TB DISK", true, "1tb disk (/m)"},
        {"ÄRGER", true, "Ärger (/m)"},
        {"", true, " (/m)"},
        {"SD CARD", false, " (/m)"},
    };
    for (const auto& c : cases) {
        TVolume v;
        v.MountPoint = "/m";
        v.Label = c.label;
        EXPECT_EQ(VolumeNoticeText(v, c.arrival), c.text) << c.label;
    }
}
