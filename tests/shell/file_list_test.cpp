// The file-list model over a sandboxed folder, driven through a stand-in list view.
#include "ShellTestSupport.h"

#include "shell/ShellCtrls.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <utime.h>

using namespace pictor;
using namespace pictor_test;

namespace {

struct FileListTest : testing::Test {
    TShellSandbox Box;
    TFakeListView View;
    std::filesystem::path Dir = Box.Home / "pics";
    FileListTest() { std::filesystem::create_directory(Dir); }
    TItemIDList DirList() const { return PathToIDList(Dir.string()); }
    void SetTime(const std::string& name, time_t t) {
        struct utimbuf times {
            t, t
        };
        ASSERT_EQ(::utime((Dir / name).c_str(), &times), 0);
    }
};

} // namespace

TEST_F(FileListTest, EmptyFolderStillRaisesListChange) {
    TShellFileList list(&View, false);
    list.OpenFolder(DirList());
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(View.ListChanges, 1);
    EXPECT_EQ(list.TotalSize(), 0u);
    EXPECT_EQ(list.FolderPath(), Dir.string());
    EXPECT_EQ(list.FolderKind(), itFolder);
    EXPECT_GT(list.FreeSpace(), 0u);
}

TEST_F(FileListTest, ColumnTexts) {
    WriteFile(Dir / "zero.bin", "");
    WriteFile(Dir / "one.bin", "x");
    WriteFile(Dir / "k.bin", std::string(1025, 'x'));
    WriteFile(Dir / "big.bin", std::string(1024 * 1024 + 1, 'x'));
    WriteFile(Dir / ".hidden.txt", "hh");
    std::filesystem::create_directory(Dir / "sub");
    SetTime("one.bin", 1700000000);
    TShellFileList list(&View, false);
    list.OpenFolder(DirList());
    ASSERT_EQ(list.Count(), 6);
    std::map<std::string, TShellFileItem*> items;
    for (int i = 0; i < list.Count(); ++i)
        items[list.Item(i)->DisplayName().toStdString()] = list.Item(i);
    EXPECT_EQ(items["zero.bin"]->SizeText().toStdString(), "0KB");
    EXPECT_EQ(items["one.bin"]->SizeText().toStdString(), "1KB");
    EXPECT_EQ(items["k.bin"]->SizeText().toStdString(), "2KB");
    EXPECT_EQ(items["big.bin"]->SizeText().toStdString(), "1,025KB");
    EXPECT_EQ(items["sub"]->SizeText().toStdString(), "") << "folders show no size";
    EXPECT_EQ(items[".hidden.txt"]->AttributeText().toStdString(), "H");
    EXPECT_FALSE(items["sub"]->TypeName().isEmpty());
    // yyyy/MM/dd H:mm in local time.
    std::tm tm{};
    const time_t t = 1700000000;
    localtime_r(&t, &tm);
    char want[40];
    std::snprintf(want, sizeof want, "%04d/%02d/%02d %d:%02d", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min);
    EXPECT_EQ(items["one.bin"]->DateText().toStdString(), want);
    EXPECT_EQ(list.TotalSize(), 0u + 1 + 1025 + 1024 * 1024 + 1 + 2);
    EXPECT_EQ(items["sub"]->AbsoluteIDList(), DirList().Append(TIdKind::Entry, "sub"));
    EXPECT_EQ(items["sub"]->Level(), Level(DirList()) + 1);
    EXPECT_GE(items["one.bin"]->IconIndex(vsReport), 0);

    View.Hidden = false;
    list.Refresh();
    EXPECT_EQ(list.Count(), 5) << "hidden entries left out";
}

TEST_F(FileListTest, SortingByKeysAndDirections) {
    for (const char* name : {"img10.jpg", "IMG2.jpg", "img1.jpg", "b.png"})
        WriteFile(Dir / name, name);
    std::filesystem::create_directory(Dir / "zfolder");
    SetTime("img10.jpg", 1000);
    SetTime("IMG2.jpg", 3000);
    SetTime("img1.jpg", 2000);
    SetTime("b.png", 4000);
    TShellFileList list(&View, false);
    list.OpenFolder(DirList());
    using V = std::vector<std::string>;
    EXPECT_EQ(Names(list), (V{"zfolder", "b.png", "img1.jpg", "IMG2.jpg", "img10.jpg"}))
        << "folders first, numbers by value, case ignored";
    list.ColumnClick(ColName);
    EXPECT_EQ(Names(list), (V{"img10.jpg", "IMG2.jpg", "img1.jpg", "b.png", "zfolder"}));
    list.ColumnClick(ColName);
    EXPECT_EQ(Names(list)[0], "zfolder") << "a second click reverses again";
    list.SortBy(ColDate, true);
    EXPECT_EQ(Names(list), (V{"zfolder", "img10.jpg", "img1.jpg", "IMG2.jpg", "b.png"}));
    list.SortBy(ColDate, true);
    EXPECT_EQ(Names(list)[1], "img10.jpg") << "a sort action is always ascending";
    list.SortBy(ColSize, false);
    EXPECT_EQ(Names(list), (V{"img10.jpg", "IMG2.jpg", "img1.jpg", "b.png", "zfolder"}))
        << "the direction turns the whole comparison, folders included";
    EXPECT_EQ(list.SortType(), ColSize);
    EXPECT_EQ(list.SortOrder(ColSize), -1);
}

TEST_F(FileListTest, SelectionAndFocusFollowTheItemsThroughASort) {
    for (int i = 0; i < 9; ++i)
        WriteFile(Dir / ("f" + std::to_string(i)), std::string(static_cast<std::size_t>(i), 'x'));
    TShellFileList list(&View, false);
    list.OpenFolder(DirList());
    ASSERT_EQ(list.Count(), 9);
    for (int selected :
         {0, 2, 9}) { // none, a few (selected set smaller), all (unselected set smaller)
        View.SetAllRowsSelected(false);
        std::set<std::string> chosen;
        for (int row = 0; row < selected; ++row) {
            View.SetRowSelected(row * (selected == 2 ? 3 : 1), true);
            chosen.insert(list.Item(row * (selected == 2 ? 3 : 1))->DisplayName().toStdString());
        }
        View.Focused = 4;
        TShellFileItem* focused = list.Item(4);
        list.ColumnClick(ColName);
        std::set<std::string> after;
        for (int row = 0; row < list.Count(); ++row)
            if (View.RowSelected(row)) after.insert(list.Item(row)->DisplayName().toStdString());
        EXPECT_EQ(after, chosen) << selected << " selected";
        EXPECT_EQ(list.Item(View.Focused), focused);
    }
}

TEST_F(FileListTest, SelectionSizeAndBatchUpdates) {
    WriteFile(Dir / "a", std::string(100, 'a'));
    WriteFile(Dir / "b", std::string(20, 'b'));
    std::filesystem::create_directory(Dir / "c");
    TShellFileList list(&View, false);
    list.OpenFolder(DirList());
    View.SelChanges.clear();
    const int a = list.Item(1)->DisplayName() == "a" ? 1 : 2;
    list.RowSelectionChanged(a, true);
    list.RowSelectionChanged(3 - a, true);
    list.RowSelectionChanged(a, false);
    EXPECT_EQ(View.SelChanges, (std::vector<std::uint64_t>{100, 120, 20}));
    list.BeginUpdate();
    list.BeginUpdate();
    list.RangeSelectionChanged(0, 2);
    list.EndUpdate();
    EXPECT_EQ(View.SelChanges.size(), 3u) << "nothing raised inside a batch";
    list.EndUpdate();
    EXPECT_EQ(View.SelChanges.back(), 120u) << "the outermost end reports the current size";
    View.SetAllRowsSelected(true);
    list.SelectionChangedAll();
    View.SetAllRowsSelected(false);
    list.SelectionChangedAll();
    EXPECT_EQ(View.SelChanges.back(), 0u);
}

TEST_F(FileListTest, RemoveSelectedAndRename) {
    for (const char* n : {"a.jpg", "b.jpg", "c.jpg"})
        WriteFile(Dir / n, n);
    TShellFileList list(&View, false);
    list.OpenFolder(DirList());
    View.SetRowSelected(1, true);
    EXPECT_EQ(list.SelectedIDList().Count(), 1);
    EXPECT_EQ(list.SelectedIDList().Path(0), (Dir / "b.jpg").string());
    list.RemoveSelected();
    EXPECT_EQ(Names(list), (std::vector<std::string>{"a.jpg", "c.jpg"}));
    EXPECT_EQ(View.Rows, 2);
    EXPECT_EQ(View.ListChanges, 2);
    int error = 0;
    EXPECT_FALSE(list.RenameItem(list.Item(0), QStringLiteral("c.jpg"), &error));
    EXPECT_EQ(error, EEXIST);
    EXPECT_EQ(ReadFile(Dir / "c.jpg"), "c.jpg");
    ASSERT_TRUE(list.RenameItem(list.Item(0), QStringLiteral("d.jpg"), &error));
    EXPECT_EQ(list.Item(0)->DisplayName().toStdString(), "d.jpg");
    EXPECT_EQ(list.Item(0)->Path(), (Dir / "d.jpg").string());
    EXPECT_EQ(ReadFile(Dir / "d.jpg"), "a.jpg");
}

TEST_F(FileListTest, VirtualFoldersAndTheDesktopFilter) {
    TShellFileList list(&View, false);
    list.OpenFolder(TItemIDList());
    auto has = [&](const char* name) {
        const auto n = Names(list);
        return std::find(n.begin(), n.end(), name) != n.end();
    };
    EXPECT_TRUE(has("ゴミ箱"));
    EXPECT_TRUE(has("ネットワーク"));
    View.Virtual = TShVirtuaItems{};
    list.Refresh();
    EXPECT_FALSE(has("ゴミ箱"));
    EXPECT_FALSE(has("ネットワーク"));
    EXPECT_TRUE(has("コンピュータ"));
    // Network mounts are listed only when the network kind is wanted.
    Box.WriteMounts(
        {"40 21 0:50 / " + (Box.Root.path / "net").string() + " rw - nfs4 srv:/export rw"});
    std::filesystem::create_directory(Box.Root.path / "net");
    list.OpenFolder(SpecialFolderIDList(CSIDL_NETWORK));
    EXPECT_EQ(list.Count(), 0);
    View.Virtual = DefaultShVirtuaItems;
    list.Refresh();
    EXPECT_EQ(list.Count(), 1);
    // An attribute sort on a virtual folder does nothing.
    list.OpenFolder(SpecialFolderIDList(CSIDL_DRIVES));
    EXPECT_EQ(View.Columns, 1) << "virtual folders show the name column only";
    list.SortBy(ColName, true);
    list.Sort(ColAttributes);
    EXPECT_EQ(list.SortType(), ColName);
    EXPECT_EQ(list.TotalSize(), 0u);
    EXPECT_EQ(list.FolderKind(), itMyComputer);
    list.OpenFolder(DirList());
    EXPECT_EQ(View.Columns, 5);
}

TEST_F(FileListTest, FilterEventAndUnbindableFolder) {
    for (const char* n : {"a.jpg", "b.txt", "c.jpg"})
        WriteFile(Dir / n, n);
    View.Filter = [](TShellFileItem& item, bool& accept) {
        accept = item.DisplayName().endsWith(".jpg");
    };
    TShellFileList list(&View, false);
    list.OpenFolder(DirList());
    EXPECT_EQ(Names(list), (std::vector<std::string>{"a.jpg", "c.jpg"}));
    // A folder that cannot be bound leaves the contents in place.
    std::filesystem::remove_all(Dir);
    EXPECT_EQ(list.Refresh(), 2);
}

TEST_F(FileListTest, WatchersRefreshAndFollowTheTreeWhenTheFolderGoes) {
    TShellFileList list(&View, true, 200);
    list.OpenFolder(DirList());
    const int changes = View.ListChanges;
    for (int i = 0; i < 50; ++i)
        WriteFile(Dir / ("n" + std::to_string(i)), "x");
    ASSERT_TRUE(PumpUntil([&] { return list.Count() == 50; }));
    EXPECT_EQ(View.ListChanges, changes + 1) << "one refresh for the burst";
    // A size change reaches the find data through the attribute watcher.
    WriteFile(Dir / "n0", std::string(5000, 'x'));
    ASSERT_TRUE(PumpUntil([&] { return list.TotalSize() == 49 + 5000; }));
    // The folder vanishes: the list moves to the tree's folder (or its nearest existing parent).
    View.Tree = DirList();
    std::filesystem::remove_all(Dir);
    ASSERT_TRUE(PumpUntil([&] { return list.Folder() == TItemIDList(TIdKind::Home, {}); }));
}
