#include "shell/Trash.h"

#include "support/TempDir.h"

#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <cerrno>
#include <map>
#include <regex>
#include <sys/stat.h>
#include <unistd.h>

using namespace pictor;
using pictor_test::ReadFile;
using pictor_test::TempDir;
using pictor_test::WriteFile;
namespace fs = std::filesystem;

namespace {

// No file is on this device: every folder of the test counts as a separate volume.
constexpr uint64_t OtherDevice = ~uint64_t(0);

const std::regex InfoFormat("\\[Trash Info\\]\nPath=([^\n]*)\nDeletionDate="
                            "\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\n");

unsigned Mode(const fs::path& p) {
    struct stat st {};
    return ::lstat(p.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

std::string PathLine(const std::string& info) {
    std::smatch m;
    return std::regex_match(info, m, InfoFormat) ? m[1].str() : "<bad format: " + info + ">";
}

std::map<std::string, TTrashEntry> ByTrashName(const std::vector<TTrashEntry>& entries) {
    std::map<std::string, TTrashEntry> map;
    for (const auto& e : entries)
        map[fs::path(e.FilesPath).filename().string()] = e;
    return map;
}

class TrashTest : public testing::Test {
protected:
    TempDir Root{"pictor-trash"};
    TShellEnvironment Env;
    fs::path Home = Root.path / "home";
    fs::path HomeTrash = Root.path / "data" / "Trash";

    void SetUp() override {
        fs::create_directories(Home);
        Env.HomeDir = Home.string();
        Env.DataHome = (Root.path / "data").string(); // made by the first trashing
        Env.Uid = ::getuid();
    }
    fs::path Make(const fs::path& p, const std::string& content = "x") {
        fs::create_directories(p.parent_path());
        WriteFile(p, content);
        return p;
    }
};

} // namespace

TEST(TrashPercent, EncodesLikeAUrlPathAndDecodesStrictly) {
    EXPECT_EQ(PercentEncodePath("/a b%ü.txt"), "/a%20b%25%C3%BC.txt");
    EXPECT_EQ(PercentEncodePath("/AZaz09-._~/x"), "/AZaz09-._~/x");
    EXPECT_EQ(PercentEncodePath("!$&'()*+,;=:@[]#?\n\xff"),
              "%21%24%26%27%28%29%2A%2B%2C%3B%3D%3A%40%5B%5D%23%3F%0A%FF");
    std::string all;
    for (int c = 0; c < 256; ++c)
        all += char(c);
    EXPECT_EQ(PercentDecodePath(PercentEncodePath(all)), all);
    EXPECT_EQ(PercentDecodePath("%c3%BCa+b"), "üa+b");
    for (const char* bad : {"%G1", "/x%4", "%", "a%", "%%41", "%4g"})
        EXPECT_EQ(PercentDecodePath(bad), std::nullopt) << bad;
}

TEST_F(TrashTest, HomeTrashNamesCollisionsListingAndRestore) {
    const std::vector<std::string> names = {"a b.txt", "100%.jpg", "写真ü.png"};
    for (const auto& name : names) {
        const fs::path file = Make(Home / name, name);
        const auto r = MoveToTrash(file.string(), Env, {});
        ASSERT_TRUE(r.Ok) << name << ": " << r.Error;
        EXPECT_EQ(r.FilesPath, (HomeTrash / "files" / name).string());
        EXPECT_FALSE(fs::exists(file));
        EXPECT_EQ(ReadFile(r.FilesPath), name);
        const fs::path info = HomeTrash / "info" / (name + ".trashinfo");
        EXPECT_EQ(PathLine(ReadFile(info)), PercentEncodePath(file.string()));
        EXPECT_EQ(Mode(info), 0600u);
    }
    EXPECT_EQ(Mode(HomeTrash / "files"), 0700u);
    EXPECT_EQ(Mode(HomeTrash / "info"), 0700u);
    // Same name again: the trash names go on with .2, .3.
    for (const char* expected : {"a b.txt.2", "a b.txt.3"}) {
        const auto r = MoveToTrash(Make(Home / "a b.txt", expected).string(), Env, {});
        ASSERT_TRUE(r.Ok);
        EXPECT_EQ(fs::path(r.FilesPath).filename().string(), expected);
    }
    // A volume trash on the home trash's own file system is not a second trash.
    fs::create_directories(Root.path / (".Trash-" + std::to_string(Env.Uid)));
    const auto dirs = TrashDirectories(Env, {Root.path.string()});
    ASSERT_EQ(dirs.size(), 1u);
    EXPECT_EQ(dirs[0].Dir, HomeTrash.string());
    auto entries = ByTrashName(ListTrash(dirs));
    ASSERT_EQ(entries.size(), 5u);
    for (const auto& [trashName, e] : entries) {
        EXPECT_EQ(fs::path(e.OriginalPath).parent_path().string(), Home.string()) << trashName;
        EXPECT_EQ(TrashDisplayName(e), fs::path(e.OriginalPath).filename().string());
        EXPECT_EQ(e.DeletionDate.size(), 19u);
        const auto single = ReadTrashEntry(e.FilesPath);
        ASSERT_TRUE(single);
        EXPECT_EQ(single->OriginalPath, e.OriginalPath);
        EXPECT_EQ(single->InfoPath, e.InfoPath);
    }
    // Round trip, then a second restore onto the now existing file is refused.
    int err = -1;
    ASSERT_TRUE(RestoreFromTrash(entries["a b.txt.2"], &err));
    EXPECT_EQ(err, 0);
    EXPECT_EQ(ReadFile(Home / "a b.txt"), "a b.txt.2");
    EXPECT_FALSE(fs::exists(entries["a b.txt.2"].InfoPath));
    EXPECT_FALSE(RestoreFromTrash(entries["a b.txt"], &err));
    EXPECT_EQ(err, EEXIST);
    EXPECT_EQ(ReadFile(Home / "a b.txt"), "a b.txt.2");
    EXPECT_EQ(ReadFile(entries["a b.txt"].FilesPath), "a b.txt");
    EXPECT_TRUE(fs::exists(entries["a b.txt"].InfoPath));
}

TEST_F(TrashTest, WritesWhatGioWritesAndReadsGiosTrash) {
    const QString gio = QStandardPaths::findExecutable("gio");
    if (gio.isEmpty()) GTEST_SKIP() << "gio is not installed";
    const fs::path gioData = Root.path / "giodata";
    fs::create_directories(gioData);
    QProcessEnvironment penv = QProcessEnvironment::systemEnvironment();
    penv.insert("HOME", QString::fromStdString(Home.string()));
    penv.insert("XDG_DATA_HOME", QString::fromStdString(gioData.string()));
    const std::vector<std::string> names = {"a b%ü.txt", "x!$&()*+,;=:@[]#~-_.y", "q'r 写真"};
    for (const auto& name : names) {
        const fs::path file = Make(Home / name);
        QProcess p;
        p.setProcessEnvironment(penv);
        p.start(gio, {"trash", QString::fromStdString(file.string())});
        if (!p.waitForFinished(60000) || p.exitCode() != 0 || fs::exists(file))
            GTEST_SKIP() << "gio trash failed: " << p.readAllStandardError().toStdString();
        const auto ours = MoveToTrash(Make(file).string(), Env, {});
        ASSERT_TRUE(ours.Ok);
        const std::string theirs = ReadFile(gioData / "Trash" / "info" / (name + ".trashinfo"));
        EXPECT_EQ(PathLine(ReadFile(HomeTrash / "info" / (name + ".trashinfo"))), PathLine(theirs));
    }
    const auto entries = ListTrash({{(gioData / "Trash").string(), ""}});
    ASSERT_EQ(entries.size(), names.size());
    for (const auto& e : entries) {
        EXPECT_EQ(fs::path(e.OriginalPath).parent_path().string(), Home.string());
        EXPECT_EQ(TrashDisplayName(e), fs::path(e.FilesPath).filename().string());
    }
    int err = -1;
    EXPECT_TRUE(RestoreFromTrash(entries[0], &err)) << err;
    EXPECT_TRUE(fs::exists(entries[0].OriginalPath));
}

TEST_F(TrashTest, BrokenInfoFilesStillListTheItem) {
    struct TCase {
        const char* Name;
        std::optional<std::string> Info; // nothing: no info file
        std::string Original;
    };
    const std::string big = "[Trash Info]\nPath=/ok\n" + std::string(70000, '#') + "\n";
    const std::vector<TCase> cases = {
        {"good", "# note\r\n\r\n[Trash Info]\r\nX=1\r\nPath = /a%20b\r\nPath=/2\r\n", "/a b"},
        {"nogroup", "Path=/x\n", ""},
        {"othergroup", "[Other]\nPath=/x\n[Trash Info]\nPath=/y\n", ""},
        {"badescape", "[Trash Info]\nPath=/x%G1\n", ""},
        {"nul", "[Trash Info]\nPath=/x%00y\n", ""},
        {"relative", "[Trash Info]\nPath=x\n", ""},
        {"nopath", "[Trash Info]\nDeletionDate=2024-01-02T03:04:05\n", ""},
        {"laterpath", "[Trash Info]\n[Next]\nPath=/x\n", ""},
        {"huge", big, ""},
        {"junk", std::string("\x00\xff[Trash Info]\x01\nPath=/x\n", 23), ""},
        {"missing", std::nullopt, ""},
    };
    const fs::path t = Root.path / "t";
    fs::create_directories(t / "info" / "isdir.trashinfo");
    Make(t / "files" / "isdir");
    ::mkfifo((t / "info" / "fifo.trashinfo").c_str(), 0600);
    Make(t / "files" / "fifo");
    for (const auto& c : cases) {
        Make(t / "files" / c.Name);
        if (c.Info) WriteFile(t / "info" / (std::string(c.Name) + ".trashinfo"), *c.Info);
    }
    auto entries = ByTrashName(ListTrash({{t.string(), ""}}));
    ASSERT_EQ(entries.size(), cases.size() + 2);
    for (const auto& c : cases) {
        EXPECT_EQ(entries[c.Name].OriginalPath, c.Original) << c.Name;
        EXPECT_EQ(TrashDisplayName(entries[c.Name]), c.Original.empty() ? c.Name : "a b");
    }
    EXPECT_EQ(entries["nopath"].DeletionDate, "2024-01-02T03:04:05");
    EXPECT_EQ(entries["fifo"].OriginalPath, "");
    EXPECT_EQ(entries["isdir"].OriginalPath, "");
    int err = 0;
    EXPECT_FALSE(RestoreFromTrash(entries["junk"], &err));
    EXPECT_EQ(err, EINVAL);
    EXPECT_TRUE(fs::exists(entries["junk"].FilesPath));
    for (const char* notInFiles : {"/x/y/z", "files", "/files/..", "/t/files/"})
        EXPECT_EQ(ReadTrashEntry(notInFiles), std::nullopt) << notInFiles;
}

TEST_F(TrashTest, VolumeTrashChoiceAndRelativePaths) {
    const fs::path vol = Root.path / "vol";
    const fs::path sticky = Root.path / "sticky";
    const std::string uid = std::to_string(Env.Uid);
    fs::create_directories(sticky / uid);
    ::chmod(sticky.c_str(), 01777);
    fs::create_directories(vol);
    const std::vector<std::string> mounts = {vol.string(), (vol / "inner").string()};
    // Nothing exists yet, and listing creates nothing.
    EXPECT_TRUE(TrashDirectoriesForDevice(Env, mounts, OtherDevice).empty());
    EXPECT_TRUE(fs::is_empty(vol));
    // A symbolic link to a sticky folder, or a folder without the sticky bit, is no .Trash.
    for (bool asLink : {true, false}) {
        if (asLink) {
            fs::create_directory_symlink(sticky, vol / ".Trash");
        } else {
            fs::create_directories(vol / ".Trash" / uid);
            ::chmod((vol / ".Trash").c_str(), 0777);
        }
        const auto r =
            MoveToTrashForDevice(Make(vol / "sub" / "p q.jpg").string(), Env, mounts, OtherDevice);
        ASSERT_TRUE(r.Ok) << r.Error;
        EXPECT_EQ(fs::path(r.FilesPath).parent_path().string(),
                  (vol / (".Trash-" + uid) / "files").string());
        fs::remove_all(vol / ".Trash");
    }
    EXPECT_EQ(Mode(vol / (".Trash-" + uid)), 0700u);
    EXPECT_TRUE(fs::is_empty(sticky / uid));
    // The administrator's sticky .Trash is used, with a subfolder made for this user.
    fs::create_directories(vol / ".Trash");
    ::chmod((vol / ".Trash").c_str(), 01777);
    const auto r =
        MoveToTrashForDevice(Make(vol / "sub" / "p q.jpg").string(), Env, mounts, OtherDevice);
    ASSERT_TRUE(r.Ok);
    EXPECT_EQ(r.FilesPath, (vol / ".Trash" / uid / "files" / "p q.jpg").string());
    EXPECT_EQ(PathLine(ReadFile(vol / ".Trash" / uid / "info" / "p q.jpg.trashinfo")),
              "sub/p%20q.jpg");
    // The longest containing mount point decides.
    const auto inner =
        MoveToTrashForDevice(Make(vol / "inner" / "i").string(), Env, mounts, OtherDevice);
    ASSERT_TRUE(inner.Ok);
    EXPECT_EQ(inner.FilesPath, (vol / "inner" / (".Trash-" + uid) / "files" / "i").string());

    const auto dirs = TrashDirectoriesForDevice(Env, mounts, OtherDevice);
    ASSERT_EQ(dirs.size(), 3u);
    const auto entries = ListTrash(dirs);
    ASSERT_EQ(entries.size(), 4u);
    for (const auto& e : entries) {
        EXPECT_TRUE(e.OriginalPath == (vol / "sub" / "p q.jpg").string() ||
                    e.OriginalPath == (vol / "inner" / "i").string())
            << e.OriginalPath;
        EXPECT_EQ(ReadTrashEntry(e.FilesPath)->OriginalPath, e.OriginalPath);
    }
    int err = -1;
    EXPECT_TRUE(RestoreFromTrash(entries.back(), &err)) << err;
    EXPECT_TRUE(fs::exists(entries.back().OriginalPath));
    // A file on no listed volume has no trash: it stays.
    const fs::path stray = Make(Root.path / "stray");
    EXPECT_EQ(MoveToTrashForDevice(stray.string(), Env, mounts, OtherDevice).Error, ENOTSUP);
    EXPECT_TRUE(fs::exists(stray));
    // Another user's trash folders (owned by us, not by them) are neither listed nor used.
    TShellEnvironment other = Env;
    other.Uid = Env.Uid + 1;
    fs::create_directories(vol / ".Trash" / std::to_string(other.Uid));
    fs::create_directories(vol / (".Trash-" + std::to_string(other.Uid)));
    EXPECT_TRUE(TrashDirectoriesForDevice(other, mounts, OtherDevice).empty());
    const fs::path mine = Make(vol / "mine");
    EXPECT_EQ(MoveToTrashForDevice(mine.string(), other, mounts, OtherDevice).Error, EACCES);
    EXPECT_TRUE(fs::exists(mine));
}

TEST_F(TrashTest, FailuresLeaveTheFileWhereItWas) {
    EXPECT_EQ(MoveToTrash((Home / "none").string(), Env, {}).Error, ENOENT);
    EXPECT_FALSE(fs::exists(HomeTrash)); // nothing made for a missing file
    for (const char* bad : {"/", "x/..", "/tmp/."})
        EXPECT_EQ(MoveToTrash(bad, Env, {}).Error, EINVAL) << bad;
    // A file where files/ should be.
    fs::create_directories(HomeTrash);
    WriteFile(HomeTrash / "files", "not a folder");
    const fs::path keep = Make(Home / "keep");
    EXPECT_EQ(MoveToTrash(keep.string(), Env, {}).Error, ENOTDIR);
    EXPECT_TRUE(fs::exists(keep));
    fs::remove(HomeTrash / "files");
    // The rename fails after the info is written (a folder into itself): the info goes again.
    const auto self = MoveToTrash(Env.DataHome, Env, {});
    EXPECT_EQ(self.Error, EINVAL);
    EXPECT_TRUE(fs::is_empty(HomeTrash / "info"));
    // files/NAME left without info by someone else is neither replaced nor reused.
    WriteFile(HomeTrash / "files" / "keep", "orphan");
    const auto r = MoveToTrash(keep.string(), Env, {});
    ASSERT_TRUE(r.Ok);
    EXPECT_EQ(fs::path(r.FilesPath).filename().string(), "keep.2");
    EXPECT_EQ(ReadFile(HomeTrash / "files" / "keep"), "orphan");
    EXPECT_FALSE(fs::exists(HomeTrash / "info" / "keep.trashinfo"));
    // A name at the length limit is shortened (not inside a UTF-8 sequence) so its info fits.
    std::string longName = "ab";
    while (longName.size() < 250)
        longName += "é";
    const auto shortened = MoveToTrash(Make(Home / longName).string(), Env, {});
    ASSERT_TRUE(shortened.Ok) << shortened.Error;
    const std::string trashName = fs::path(shortened.FilesPath).filename().string();
    EXPECT_EQ(trashName.size(), 244u);
    EXPECT_EQ(longName.compare(0, trashName.size(), trashName), 0);
    EXPECT_EQ(ReadTrashEntry(shortened.FilesPath)->OriginalPath, (Home / longName).string());
}
