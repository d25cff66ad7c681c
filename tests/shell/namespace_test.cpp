// Item ID lists and the namespace answered from a sandboxed file system.
#include "ShellTestSupport.h"

#include "shell/ShellFolder.h"
#include "shell/ShellUtils.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace pictor;
using namespace pictor_test;

TEST(ItemIDList, ValueOperations) {
    const TItemIDList a = TItemIDList(TIdKind::Home, {}).Append(TIdKind::Entry, "pics");
    const TItemIDList b(TIdKind::Entry, "x.jpg");
    const TItemIDList ab = a.Concat(b);
    EXPECT_EQ(ab.Count(), 3);
    EXPECT_EQ(Level(ab), 3);
    EXPECT_EQ(Level(TItemIDList()), 0);
    EXPECT_EQ(Level(TItemIDList::Null()), -1);
    EXPECT_EQ(ab.Parent(), a);
    EXPECT_EQ(ab.LastID(), b);
    EXPECT_EQ(ab.FirstID(), TItemIDList(TIdKind::Home, {}));
    EXPECT_EQ(ab.Last().Name, "x.jpg");
    // Each ID: 2 length bytes, a kind byte, the name; plus 2 for the terminator.
    EXPECT_EQ(ab.ByteSize(), 3u + (3 + 4) + (3 + 5) + 2);
    EXPECT_EQ(TItemIDList().ByteSize(), 2u);
    EXPECT_TRUE(TItemIDList().Parent().IsEmpty());
    TItemIDList copy = ab;
    copy = copy.Append(TIdKind::Entry, "more");
    EXPECT_EQ(ab.Count(), 3) << "copies are independent values";
    EXPECT_EQ(TItemIDList::FromBytes(ab.Bytes() + std::string(2, '\0')), ab);
}

TEST(ItemIDList, MalformedBytesGiveANullList) {
    const std::string good = TItemIDList(TIdKind::Entry, "abc").Bytes();
    for (const std::string& bad :
         {std::string("\x01", 1), std::string("\x02\x00", 2), std::string("\xFF\x00\x06x", 4),
          std::string("\x04\x00\x09x", 4), good + std::string("\0\0junk", 6)})
        EXPECT_TRUE(TItemIDList::FromBytes(bad).IsNull()) << testing::PrintToString(bad);
}

TEST(Namespace, DesktopHoldsTheFixedItemsThenTheDesktopFolder) {
    TShellSandbox box;
    std::filesystem::create_directory(box.Desktop / "zeta");
    WriteFile(box.Desktop / "a.txt", "x");
    auto desktop = TShellFolder::Desktop();
    std::vector<TShellEntry> entries;
    ASSERT_TRUE(desktop->EnumObjects(SHCONTF_FOLDERS | SHCONTF_NONFOLDERS, entries, true));
    std::sort(entries.begin(), entries.end(), [&](const auto& x, const auto& y) {
        return desktop->CompareEntries(ColName, x, y) < 0;
    });
    std::vector<std::string> names;
    for (const auto& e : entries)
        names.push_back(desktop->GetDisplayNameOf(e.Id).toStdString());
    EXPECT_EQ(names, (std::vector<std::string>{"ホーム", "コンピュータ", "ゴミ箱", "ネットワーク",
                                               "zeta", "a.txt"}));
    EXPECT_EQ(desktop->Path(), box.Desktop.string());
}

TEST(Namespace, PathsAndListsRoundTrip) {
    TShellSandbox box;
    std::filesystem::create_directories(box.Home / "pics/2024");
    std::filesystem::create_directories(box.Volume / "photos");
    std::filesystem::create_directories(box.Desktop / "work");
    const std::string inVolume = (box.Volume / "photos").string();
    for (const std::string& path :
         {(box.Home / "pics/2024").string(), inVolume, (box.Desktop / "work").string(),
          box.Home.string(), std::string("/")}) {
        const TItemIDList list = PathToIDList(path);
        ASSERT_FALSE(list.IsNull()) << path;
        EXPECT_EQ(GetPathFromIDList(list), path);
        ASSERT_TRUE(TShellFolder::Bind(list)) << path;
    }
    EXPECT_EQ(PathToIDList(inVolume).Count(), 3) << "computer, volume, folder";
    EXPECT_EQ(PathToIDList((box.Desktop / "work").string()).Count(), 1) << "through the desktop";
    EXPECT_EQ(GetPathFromIDList(TItemIDList()), box.Desktop.string());
    EXPECT_EQ(GetPathFromIDList(SpecialFolderIDList(CSIDL_DRIVES)), "");
    EXPECT_EQ(GetPathFromIDList(SpecialFolderIDList(CSIDL_DESKTOPDIRECTORY)), box.Desktop.string());
    EXPECT_TRUE(PathToIDList("relative/path").IsNull());
    EXPECT_TRUE(PathToIDList("/a/../b").IsNull());
    // Lists no folder can have do not bind.
    EXPECT_FALSE(TShellFolder::Bind(TItemIDList(TIdKind::Volume, "/")));
    EXPECT_FALSE(TShellFolder::Bind(TItemIDList(TIdKind::Home, {}).Append(TIdKind::Entry, "..")));
    EXPECT_FALSE(TShellFolder::Bind(PathToIDList((box.Home / "missing").string())));
}

TEST(Namespace, ItemKindsAndComparison) {
    TShellSandbox box;
    std::filesystem::create_directories(box.Home / "dir");
    WriteFile(box.Home / "f.jpg", "x");
    const TItemIDList computer = SpecialFolderIDList(CSIDL_DRIVES);
    EXPECT_EQ(ItemIDType(TItemIDList()), itDeskTop);
    EXPECT_EQ(ItemIDType(computer), itMyComputer);
    EXPECT_EQ(ItemIDType(SpecialFolderIDList(CSIDL_BITBUCKET)), itBitBucket);
    EXPECT_EQ(ItemIDType(SpecialFolderIDList(CSIDL_NETWORK)), itNetWork);
    EXPECT_EQ(ItemIDType(computer.Append(TIdKind::Volume, box.Volume.string())), itRootDrive);
    EXPECT_EQ(ItemIDType(PathToIDList((box.Home / "dir").string())), itFolder);
    EXPECT_EQ(ItemIDType(PathToIDList((box.Home / "f.jpg").string())), itFile);
    EXPECT_EQ(ItemIDType(TItemIDList::Null()), itUnknown);

    const TItemIDList a = PathToIDList((box.Home / "dir").string());
    const TItemIDList b = PathToIDList((box.Home / "f.jpg").string());
    EXPECT_EQ(ComparePIDLs(a, a), 0);
    EXPECT_EQ(ComparePIDLs(a, b), 2) << "folders sort before files";
    EXPECT_EQ(ComparePIDLs(b, a), 1);
    EXPECT_EQ(ComparePIDLs(a, TItemIDList::Null()), 3);
    EXPECT_EQ(DisplayNameOf(TItemIDList()).toStdString(), "デスクトップ");
    EXPECT_EQ(DisplayNameOf(b).toStdString(), "f.jpg");
    EXPECT_TRUE(ItemHasAttribute(a, 15)); // folder
    EXPECT_FALSE(ItemHasAttribute(b, 15));
    EXPECT_TRUE(ItemHasAttribute(b, 16)); // file system
    EXPECT_FALSE(ItemHasAttribute(computer, 16));
}

TEST(Namespace, VolumesShowTheirLabelsAndTheTrashItsOriginalNames) {
    TShellSandbox box;
    std::filesystem::create_symlink("../../sdb1", box.Root.path / "by-label" / "PHOTOS");
    // The label link resolves to the device named in the mount table.
    auto computer = TShellFolder::Bind(SpecialFolderIDList(CSIDL_DRIVES));
    ASSERT_TRUE(computer);
    std::vector<TShellEntry> volumes;
    computer->EnumObjects(SHCONTF_FOLDERS, volumes);
    ASSERT_EQ(volumes.size(), 2u);
    std::vector<std::string> names;
    for (const auto& v : volumes)
        names.push_back(computer->GetDisplayNameOf(v.Id).toStdString());
    EXPECT_NE(std::find(names.begin(), names.end(), "ファイルシステム (/)"), names.end());
    EXPECT_NE(std::find(names.begin(), names.end(), "PHOTOS (" + box.Volume.string() + ")"),
              names.end());

    const auto trash = box.DataHome / "Trash";
    std::filesystem::create_directories(trash / "files");
    std::filesystem::create_directories(trash / "info");
    WriteFile(trash / "files" / "photo.jpg.2", "abc");
    WriteFile(
        trash / "info" / "photo.jpg.2.trashinfo",
        "[Trash Info]\nPath=/home/u/%E5%86%99%E7%9C%9F.jpg\nDeletionDate=2026-01-02T03:04:05\n");
    auto bin = TShellFolder::Bind(SpecialFolderIDList(CSIDL_BITBUCKET));
    ASSERT_TRUE(bin);
    std::vector<TShellEntry> items;
    bin->EnumObjects(SHCONTF_FOLDERS | SHCONTF_NONFOLDERS, items);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(bin->GetDisplayNameOf(items[0].Id).toStdString(), "写真.jpg");
    EXPECT_EQ(bin->ChildPath(items[0].Id), "") << "trashed items are not in the file system";
    EXPECT_EQ(
        ClassifyItem(SpecialFolderIDList(CSIDL_BITBUCKET).Concat(items[0].Id), items[0].Attributes),
        itVirtual);
}

TEST(Namespace, OddEntriesAreListedWithoutHarm) {
    TShellSandbox box;
    const auto dir = box.Home / "odd";
    std::filesystem::create_directory(dir);
    WriteFile(dir / "bad\xff\xfe.jpg", "12345");
    std::filesystem::create_symlink(dir / "nowhere", dir / "dangling");
    ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
    auto folder = TShellFolder::Bind(PathToIDList(dir.string()));
    ASSERT_TRUE(folder);
    std::vector<TShellEntry> entries;
    ASSERT_TRUE(folder->EnumObjects(SHCONTF_FOLDERS | SHCONTF_NONFOLDERS, entries, true));
    ASSERT_EQ(entries.size(), 3u);
    for (const auto& e : entries) {
        const std::string raw(e.Id.Last().Name);
        if (raw == "dangling") {
            EXPECT_TRUE(e.Attributes & SFGAO_LINK);
        }
        if (raw == "pipe") {
            EXPECT_TRUE(e.Find.FileAttributes & FILE_ATTRIBUTE_SYSTEM);
        }
        if (raw.find('\xff') != std::string::npos) {
            EXPECT_EQ(e.Find.FileSize, 5u) << "the raw name reaches the file";
            EXPECT_TRUE(folder->GetDisplayNameOf(e.Id).contains(QChar(0xFFFD)));
        }
    }
    // An unreadable folder binds but enumerates nothing (root reads everything, so only then).
    if (::geteuid() != 0) {
        std::filesystem::permissions(dir, std::filesystem::perms::none);
        entries.clear();
        EXPECT_FALSE(folder->EnumObjects(SHCONTF_FOLDERS | SHCONTF_NONFOLDERS, entries));
        EXPECT_TRUE(entries.empty());
    }
}

TEST(Namespace, RenameNeverReplaces) {
    TShellSandbox box;
    WriteFile(box.Home / "a.jpg", "A");
    WriteFile(box.Home / "b.jpg", "B");
    auto home = TShellFolder::Bind(TItemIDList(TIdKind::Home, {}));
    int error = 0;
    EXPECT_FALSE(
        home->SetNameOf(TItemIDList(TIdKind::Entry, "a.jpg"), QStringLiteral("b.jpg"), &error));
    EXPECT_EQ(error, EEXIST);
    EXPECT_EQ(ReadFile(box.Home / "b.jpg"), "B");
    EXPECT_FALSE(
        home->SetNameOf(TItemIDList(TIdKind::Entry, "a.jpg"), QStringLiteral("x/y"), &error));
    auto renamed =
        home->SetNameOf(TItemIDList(TIdKind::Entry, "a.jpg"), QStringLiteral("新しい.jpg"), &error);
    ASSERT_TRUE(renamed);
    EXPECT_EQ(ReadFile(box.Home / "新しい.jpg"), "A");
    EXPECT_FALSE(home->SetNameOf(TItemIDList(TIdKind::Computer, {}), QStringLiteral("x"), &error));
}
