// Enabled states, check marks and texts of the shell actions; the command and popup rules.

#include "shell/ShellActionRules.h"
#include "shell/ShellFolder.h"

#include <gtest/gtest.h>

#include <string>

using namespace pictor;
using A = TShellAction;

namespace {

// One character per action in table order ('x' when pred holds), grouped as
// "cut copy paste delete prop|5 sorts|4 styles|switch all reverse".
template <class Pred> std::string Marks(Pred pred) {
    std::string out;
    for (int i = 0; i < ShellActionCount; ++i) {
        if (i == 5 || i == 10 || i == 14) out += '|';
        out += pred(static_cast<A>(i)) ? 'x' : '.';
    }
    return out;
}

} // namespace

TEST(ShellActionRules, EnabledStatesAndCheckMarks) {
    const std::pair<TActionContext, const char*> cases[] = {
        {{.SelectedCount = 0, .FolderHasPath = true}, ".....|xxxxx|xxxx|xxx"},
        {{.SelectedCount = 1, .FolderHasPath = true}, "xx.xx|xxxxx|xxxx|xxx"},
        {{.SelectedCount = 2, .EditingCaption = true, .FolderHasPath = true},
         "xx..x|xxxxx|xxxx|xxx"},
        {{.FolderHasPath = true, .ClipboardHasFiles = true}, "..x..|xxxxx|xxxx|xxx"},
        // A virtual folder: only the name sort, and no paste even with files to paste.
        {{.SelectedCount = 1, .ClipboardHasFiles = true}, "xx.xx|x....|xxxx|xxx"},
        {{.HasTarget = false, .SelectedCount = 3, .FolderHasPath = true, .ClipboardHasFiles = true},
         ".....|.....|....|..."},
    };
    for (const auto& [context, expected] : cases)
        EXPECT_EQ(Marks([&](A a) { return ActionEnabled(a, context); }), expected);

    const char* checked[] = {".....|.....|x...|...", ".....|.....|.x..|...", ".....|.....|..x.|...",
                             ".....|.....|...x|..."};
    for (int style = 0; style < 4; ++style)
        EXPECT_EQ(Marks([&](A a) { return ActionChecked(a, {.ViewStyle = style}); }),
                  checked[style]);
    EXPECT_FALSE(ActionChecked(A::LargeIcon, {.HasTarget = false, .ViewStyle = 0}));
    for (const auto& [from, to] : {std::pair{0, 1}, {1, 2}, {2, 3}, {3, 0}, {7, 0}, {-1, 0}})
        EXPECT_EQ(NextViewStyle(from), to) << from;
}

TEST(ShellActionRules, TableTexts) {
    EXPECT_STREQ(ShellActionInfo(A::FileCopy).ClassName, "TShellFileCopy");
    EXPECT_STREQ(ShellActionInfo(A::FileCopy).Caption, "コピー(&C)");
    EXPECT_EQ(ShortHint(A::FileCopy), "コピー");
    EXPECT_EQ(LongHint(A::FileCopy), "選択されたオブジェクトをクリップボードにコピーします。"
                                     "新しい位置に挿入するには [貼り付け] を選んでください。");
    EXPECT_STREQ(ShellActionInfo(A::SortByType).Caption, "種類順(&N)");
    EXPECT_STREQ(ShellActionInfo(A::SortByAttr).Caption, "属性順");
    EXPECT_EQ(ShortHint(A::SwitchViewStyle), "");
    EXPECT_EQ(Marks([](A a) { return *ShellActionInfo(a).Shortcut != 0; }), "xxxx.|.....|....|...");
    EXPECT_EQ(Marks(InMainActionList), "xxx.x|xxxxx|xxxx|xxx");
    EXPECT_EQ(Marks([](A a) { return ShellActionInfo(a).Command >= 0; }), "xxxxx|.....|....|...");
    EXPECT_STREQ(ShellActionInfo(A::FileDelete).Shortcut, "Del");
    for (int i = 0; i < ShellActionCount; ++i) {
        const TShellActionInfo& info = ShellActionInfo(static_cast<A>(i));
        EXPECT_EQ(static_cast<int>(info.Action), i);
        EXPECT_EQ(info.SortKey, i >= 5 && i < 10 ? i - 5 : -1);
        EXPECT_EQ(info.ViewStyle, i >= 10 && i < 14 ? i - 10 : -1);
    }
}

TEST(ShellActionRules, CommandsNeedTheirAttribute) {
    const std::uint32_t all = 0xFFFFFFFFu;
    const std::tuple<int, std::uint32_t, int> cases[] = {
        {0, SFGAO_CANDELETE, 24}, {1, SFGAO_CANCOPY, 25},   {2, SFGAO_FILESYSTEM, 26},
        {3, SFGAO_CANLINK, 16},   {4, SFGAO_CANDELETE, 17}, {5, SFGAO_HASPROPSHEET, 19}};
    for (const auto& [number, required, offset] : cases) {
        ASSERT_NE(FindShellCommand(number), nullptr);
        EXPECT_EQ(FindShellCommand(number)->Offset, offset);
        EXPECT_TRUE(CommandAllowed(number, required, true)) << number;
        EXPECT_FALSE(CommandAllowed(number, all & ~required, true)) << number;
    }
    EXPECT_FALSE(CommandAllowed(ShellCmdPaste, all, false));
    EXPECT_TRUE(CommandAllowed(ShellCmdCopy, SFGAO_CANCOPY, false));
    for (const int bad : {-1, 6, 100}) {
        EXPECT_EQ(FindShellCommand(bad), nullptr);
        EXPECT_FALSE(CommandAllowed(bad, all, true));
    }
    // An action runs only when enabled and its items have what the command needs.
    const TActionContext copyOnly{
        .SelectedCount = 1, .FolderHasPath = true, .CommonAttributes = SFGAO_CANCOPY};
    EXPECT_EQ(Marks([&](A a) { return ActionRuns(a, copyOnly); }), ".x...|xxxxx|xxxx|xxx");
    TActionContext paste{.FolderHasPath = true, .ClipboardHasFiles = true};
    EXPECT_FALSE(ActionRuns(A::FilePaste, paste));
    paste.FolderAttributes = SFGAO_FILESYSTEM;
    EXPECT_TRUE(ActionRuns(A::FilePaste, paste));
}

TEST(ShellActionRules, PopupChoices) {
    EXPECT_EQ(PopupMenuFlags(TShellContextType::Explore, true), 4u);
    EXPECT_EQ(PopupMenuFlags(TShellContextType::Explore, false), 0x14u);
    EXPECT_EQ(PopupMenuFlags(TShellContextType::Normal, false), 0x10u);
    EXPECT_EQ(PopupMenuFlags(TShellContextType::DefaultOnly, true), 1u);
    // chosen, last own id -> own, code, offset (-1: nothing invoked), result when it fails
    const std::tuple<int, int, bool, int, int, int> cases[] = {
        {0, 5, false, 0, -1, 0},
        {3, 5, true, 3, -1, 3},
        {5 + PopupRename, 5, false, PopupRename, -1, PopupRename},
        {5 + PopupDelete, 5, false, PopupDelete, 17, 0},
        {PopupCut, 0, false, PopupCut, 24, 0},
        {2 + PopupCreateShortcut, 2, false, PopupCreateShortcut, 16, 0},
    };
    for (const auto& [chosen, lastOwn, own, code, offset, onFailure] : cases) {
        const TPopupChoice choice = InterpretPopupChoice(chosen, lastOwn);
        EXPECT_EQ(choice.OwnItem, own) << chosen;
        EXPECT_EQ(choice.Code, code) << chosen;
        EXPECT_EQ(choice.Invoke, offset >= 0) << chosen;
        EXPECT_EQ(choice.Offset, offset) << chosen;
        EXPECT_EQ(PopupResult(choice, true), code) << chosen;
        EXPECT_EQ(PopupResult(choice, false), onFailure) << chosen;
    }
}

// The standard system menu after EnableCommands, and where the own items go.
TEST(SystemMenuRules, EnableCommandsAndInsertPositions) {
    using E = TSysMenuEntry;
    const std::vector<E> all = {{SysRestore, true}, {SysMove, true},     {SysSize, true},
                                {SysMinimize, true}, {SysMaximize, true}, {0, true},
                                {SysClose, true}};
    EXPECT_EQ(StandardSystemMenu(AllSysCommands), all);
    // Close is greyed, never deleted; the others go.
    const std::vector<E> bare = {{0, true}, {SysClose, false}};
    EXPECT_EQ(StandardSystemMenu(0), bare);
    const auto noMax = StandardSystemMenu(AllSysCommands & ~scMaximize & ~scSize);
    const std::vector<E> expectNoMax = {{SysRestore, true}, {SysMove, true}, {SysMinimize, true},
                                        {0, true},          {SysClose, true}};
    EXPECT_EQ(noMax, expectNoMax);

    EXPECT_EQ(SystemMenuInsertIndex(all, TSysMenuPos::mpTop), 0);
    EXPECT_EQ(SystemMenuInsertIndex(all, TSysMenuPos::mpLast), 7);
    EXPECT_EQ(SystemMenuInsertIndex(all, TSysMenuPos::mpRestore), 0);
    EXPECT_EQ(SystemMenuInsertIndex(all, TSysMenuPos::mpSize), 2);
    EXPECT_EQ(SystemMenuInsertIndex(all, TSysMenuPos::mpMaximize), 4);
    EXPECT_EQ(SystemMenuInsertIndex(all, TSysMenuPos::mpClose), 6);
    // Before a deleted command: at the end.
    EXPECT_EQ(SystemMenuInsertIndex(noMax, TSysMenuPos::mpMaximize), 5);
    EXPECT_EQ(SystemMenuInsertIndex(noMax, TSysMenuPos::mpClose), 4);

    EXPECT_EQ(SystemCommandHint(SysClose), "このウインドウを閉じます。");
    EXPECT_EQ(SystemCommandHint(SysSize), "このウインドウのサイズを変更します。");
    EXPECT_EQ(SystemCommandHint(SysMove), "このウインドウを画面の別の位置に移動します。");
    EXPECT_EQ(SystemCommandHint(SysMinimize), "このウインドウを最小化します。");
    EXPECT_EQ(SystemCommandHint(SysMaximize), "このウインドウを最大化します。");
    EXPECT_EQ(SystemCommandHint(SysRestore), "このウインドウを通常の大きさに戻します。");
    EXPECT_EQ(SystemCommandHint(0x1234), "");
}
