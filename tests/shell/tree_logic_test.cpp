// The folder tree's and combo's decisions without widgets: merging children, the combo chain,
// which folders a node shows.

#include "shell/ShellTreeLogic.h"

#include "ShellTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

using namespace pictor;
namespace fs = std::filesystem;

namespace {

// Applies a script to the existing names the way the tree applies it to its nodes.
std::vector<std::string> Apply(const std::vector<TMergeStep>& script, std::vector<std::string> old,
                               const std::vector<std::string>& fresh) {
    std::vector<std::string> out;
    for (const TMergeStep& s : script) {
        if (s.Op == TMergeOp::Keep) out.push_back(old[s.Existing]);
        if (s.Op == TMergeOp::Insert) out.push_back(fresh[s.Fresh]);
    }
    return out;
}

std::vector<std::string> Names(const std::vector<TTreeChild>& children) {
    std::vector<std::string> out;
    for (const auto& c : children)
        out.push_back(DisplayNameOf(c.Absolute).toStdString());
    return out;
}

} // namespace

TEST(TreeLogic, MergeScripts) {
    using S = TMergeStep;
    const auto K = TMergeOp::Keep, I = TMergeOp::Insert, D = TMergeOp::Delete;
    struct Case {
        std::vector<std::string> old, fresh;
        std::vector<S> script;
    } cases[] = {
        {{"a", "b"}, {"a", "b"}, {{K, 0, 0}, {K, 1, 1}}},
        {{"a", "c"}, {"a", "b", "c"}, {{K, 0, 0}, {I, -1, 1}, {K, 1, 2}}},
        {{"a", "b", "c"}, {"a", "c"}, {{K, 0, 0}, {D, 1, -1}, {K, 2, 1}}},
        {{"b"}, {"a", "b", "c"}, {{I, -1, 0}, {K, 0, 1}, {I, -1, 2}}},
        {{"a", "b"}, {}, {{D, 0, -1}, {D, 1, -1}}},
        {{}, {"a"}, {{I, -1, 0}}},
        // "!b" cannot be compared: it goes, and the fresh "b" comes in after it.
        {{"a", "!b", "c"}, {"a", "b", "c"}, {{K, 0, 0}, {D, 1, -1}, {I, -1, 1}, {K, 2, 2}}},
    };
    for (const auto& c : cases) {
        auto cmp = [&](int e, int f) -> std::optional<int> {
            if (c.old[e][0] == '!') return std::nullopt;
            return c.old[e].compare(c.fresh[f]);
        };
        const auto script = MergeScript(int(c.old.size()), int(c.fresh.size()), cmp);
        EXPECT_EQ(script, c.script) << c.old.size() << " -> " << c.fresh.size();
        EXPECT_EQ(Apply(script, c.old, c.fresh), c.fresh);
    }
}

TEST(TreeLogic, ComboChainInsertsTheMissingAncestorsAtTheirPlaces) {
    const TItemIDList home(TIdKind::Home, {});
    const TItemIDList computer(TIdKind::Computer, {});
    const TItemIDList vol = computer.Append(TIdKind::Volume, "/");
    const TItemIDList m = home.Append(TIdKind::Entry, "m");
    std::vector<TComboEntry> entries = {
        {TItemIDList(), 0, true}, {home, 1, true}, {m, 2, false},
        {computer, 1, true},      {vol, 2, false}, {TItemIDList(TIdKind::Trash, {}), 1}};
    auto byLastName = [](const TItemIDList& a, const TItemIDList& b) -> std::optional<int> {
        return std::string(a.Last().Name).compare(b.Last().Name);
    };
    const TItemIDList d = home.Append(TIdKind::Entry, "a")
                              .Append(TIdKind::Entry, "b")
                              .Append(TIdKind::Entry, "c")
                              .Append(TIdKind::Entry, "d");
    EXPECT_EQ(InsertComboChain(entries, d, byLastName), 5);
    std::vector<std::string> names;
    std::vector<int> levels;
    for (const auto& e : entries) {
        names.push_back(e.Absolute.Count() ? std::string(e.Absolute.Last().Name) : "desktop");
        levels.push_back(e.Level);
    }
    // "a" sorts before the existing "m" under Home.
    EXPECT_EQ(names,
              (std::vector<std::string>{"desktop", "", "a", "b", "c", "d", "m", "", "/", ""}));
    EXPECT_EQ(levels, (std::vector<int>{0, 1, 2, 3, 4, 5, 2, 1, 2, 1}));
    EXPECT_TRUE(entries[4].Expanded && !entries[5].Expanded);
    // Selecting it again, or an ancestor, inserts nothing.
    EXPECT_EQ(InsertComboChain(entries, d, byLastName), 5);
    EXPECT_EQ(InsertComboChain(entries, d.Parent(), byLastName), 4);
    EXPECT_EQ(entries.size(), 10u);
    // A failed comparison puts the new item after its siblings; a sibling after "m" too.
    auto fails = [](const TItemIDList&, const TItemIDList&) -> std::optional<int> { return {}; };
    EXPECT_EQ(InsertComboChain(entries, home.Append(TIdKind::Entry, "0"), fails), 7);
    EXPECT_EQ(InsertComboChain(entries, home.Append(TIdKind::Entry, "z"), byLastName), 8);
    EXPECT_EQ(InsertComboChain(entries, TItemIDList::Null(), byLastName), -1);
    std::vector<TComboEntry> noDesktop = {{home, 1}};
    EXPECT_EQ(InsertComboChain(noDesktop, d, byLastName), -1);
}

TEST(TreeLogic, ChildrenAreFoldersFilteredAndSortedNaturally) {
    pictor_test::TShellSandbox box;
    for (const char* f : {"a10", "a2", "B1", ".hidden", "a2/sub"})
        fs::create_directories(box.Home / "t" / f);
    pictor_test::WriteFile(box.Home / "t/file.txt", "x");
    const TItemIDList home = TItemIDList(TIdKind::Home, {}).Append(TIdKind::Entry, "t");
    EXPECT_EQ(Names(EnumTreeChildren(home, false, DefaultShVirtuaItems)),
              (std::vector<std::string>{"a2", "a10", "B1"}));
    const auto all = EnumTreeChildren(home, true, DefaultShVirtuaItems);
    ASSERT_EQ(all.size(), 4u);
    EXPECT_EQ(Names(all)[0], ".hidden");
    EXPECT_FALSE(all[0].HasSubfolder);
    EXPECT_TRUE(all[1].HasSubfolder) << "a2 holds sub";
    EXPECT_EQ(all[1].Absolute, home.Append(TIdKind::Entry, "a2"));
    EXPECT_EQ(all[1].Relative, TItemIDList(TIdKind::Entry, "a2"));

    // The desktop: trash and network only when asked for.
    auto desktop = Names(EnumTreeChildren(TItemIDList(), true, {}));
    EXPECT_EQ(desktop, (std::vector<std::string>{"ホーム", "コンピュータ"}));
    desktop = Names(EnumTreeChildren(TItemIDList(), true, {itBitBucket, itNetWork, itVirtual}));
    EXPECT_EQ(desktop,
              (std::vector<std::string>{"ホーム", "コンピュータ", "ゴミ箱", "ネットワーク"}));
    // Under the network nothing unless itNetWork is in the set.
    box.WriteMounts({"40 21 0:50 / /mnt/share rw - nfs server:/export rw"});
    const TItemIDList net(TIdKind::Network, {});
    TShellEntry share;
    share.Id = TItemIDList(TIdKind::NetMount, "/mnt/share");
    EXPECT_FALSE(KeepByLevel(net, share, {itBitBucket, itVirtual}));
    EXPECT_TRUE(KeepByLevel(net, share, {itNetWork}));
    // A vanished folder still sorts by name among the folders (files come after folders).
    auto folder = TShellFolder::Bind(home);
    ASSERT_TRUE(folder);
    const TItemIDList gone(TIdKind::Entry, "a3"), a10(TIdKind::Entry, "a10");
    EXPECT_LT(*CompareTreeChildren(*folder, gone, a10), 0);
    EXPECT_GT(*CompareTreeChildren(*folder, gone, TItemIDList(TIdKind::Entry, "a2")), 0);
    EXPECT_EQ(*CompareTreeChildren(*folder, a10, a10), 0);
    EXPECT_FALSE(CompareTreeChildren(*folder, TItemIDList::Null(), a10));
    // Unreadable or missing parents give no children.
    EXPECT_TRUE(EnumTreeChildren(home.Append(TIdKind::Entry, "gone"), true, {}).empty());
    EXPECT_TRUE(EnumTreeChildren(TItemIDList::Null(), true, {}).empty());
}

TEST(TreeLogic, ComboBaseAndHoverExpansion) {
    pictor_test::TShellSandbox box;
    fs::create_directories(box.Home / "pics");
    const TItemIDList computer(TIdKind::Computer, {});
    const auto base = ComboBaseEntries(true, DefaultShVirtuaItems);
    std::vector<std::pair<std::string, int>> got;
    for (const auto& e : base)
        got.emplace_back(DisplayNameOf(e.Absolute).toStdString(), e.Level);
    const std::string vol = box.Volume.filename().string() + " (" + box.Volume.string() + ")";
    EXPECT_EQ(got, (std::vector<std::pair<std::string, int>>{{"デスクトップ", 0},
                                                             {"ホーム", 1},
                                                             {"コンピュータ", 1},
                                                             {vol, 2},
                                                             {"ファイルシステム (/)", 2},
                                                             {"ゴミ箱", 1},
                                                             {"ネットワーク", 1}}));

    const TItemIDList volume = computer.Append(TIdKind::Volume, box.Volume.string());
    EXPECT_FALSE(CanExpandOnHover(computer)) << "virtual";
    EXPECT_FALSE(CanExpandOnHover(TItemIDList(TIdKind::Trash, {})));
    EXPECT_TRUE(CanExpandOnHover(TItemIDList(TIdKind::Home, {}).Append(TIdKind::Entry, "pics")));
    EXPECT_TRUE(CanExpandOnHover(volume));
    fs::remove(box.Volume); // the mount point no longer answers
    EXPECT_FALSE(CanExpandOnHover(volume));

    EXPECT_EQ(ComboClosedText(TItemIDList(TIdKind::Home, {})),
              QString::fromStdString(box.Home.string()));
    EXPECT_EQ(ComboClosedText(computer), QStringLiteral("コンピュータ"));
    EXPECT_EQ(ComboClosedText(TItemIDList()), QStringLiteral("デスクトップ"));
    EXPECT_TRUE(FolderHasSubfolders(TItemIDList(TIdKind::Home, {})));
    EXPECT_FALSE(
        FolderHasSubfolders(TItemIDList(TIdKind::Home, {}).Append(TIdKind::Entry, "pics")));
}
