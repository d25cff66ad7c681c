#include "shell/ShellActionRules.h"

#include "shell/ShellFolder.h"

namespace pictor {

namespace {

using A = TShellAction;

constexpr std::array<TShellActionInfo, ShellActionCount> ActionTable = {{
    {A::FileCut, "TShellFileCut", "切り取り(&T)", "Ctrl+X",
     "切り取り|選択されたオブジェクトを削除し、クリップボードにコピーします。", ShellCmdCut, -1,
     -1},
    {A::FileCopy, "TShellFileCopy", "コピー(&C)", "Ctrl+C",
     "コピー|選択されたオブジェクトをクリップボードにコピーします。新しい位置に挿入するには "
     "[貼り付け] を選んでください。",
     ShellCmdCopy, -1, -1},
    {A::FilePaste, "TShellFilePaste", "貼り付け(&P)", "Ctrl+V",
     "貼り付け|コピーしたまたは切り取ったオブジェクトを、選択された位置に貼り付けます。",
     ShellCmdPaste, -1, -1},
    {A::FileDelete, "TShellFileDelete", "削除(&D)", "Del",
     "削除|選択されたオブジェクトを削除します。", ShellCmdDelete, -1, -1},
    {A::FileProperty, "TShellFileProperty", "プロパティ(&R)", "",
     "プロパティ|選択されたオブジェクトのプロパティを表示します。", ShellCmdProperties, -1, -1},
    {A::SortByName, "TShellFileSortByName", "名前順(&N)", "",
     "名前順|オブジェクトを名前順に並び替えます。", -1, 0, -1},
    {A::SortBySize, "TShellFileSortBySize", "サイズ順(&Z)", "",
     "サイズ順|オブジェクトをサイズ順に並び替えます。", -1, 1, -1},
    {A::SortByType, "TShellFileSortByType", "種類順(&N)", "",
     "種類順|オブジェクトを種類順に並び替えます。", -1, 2, -1},
    {A::SortByLastWrite, "TShellFileSortByLastWrite", "日付順(&D)", "",
     "日付順|オブジェクトを日付順に並び替えます。", -1, 3, -1},
    {A::SortByAttr, "TShellFileSortByAttr", "属性順", "",
     "属性順|オブジェクトを属性順に並び替えます。", -1, 4, -1},
    {A::LargeIcon, "TLargeIcon", "大きいアイコン(&G)", "",
     "大きいアイコン|オブジェクトを大きいアイコンで表示します。", -1, -1, 0},
    {A::SmallIcon, "TSmallIcon", "小さいアイコン(&M)", "",
     "小さいアイコン|オブジェクトを小さいアイコンで表示します。", -1, -1, 1},
    {A::ListIcon, "TListIcon", "一覧(&L)", "", "一覧|オブジェクトを一覧表示します。", -1, -1, 2},
    {A::ReportIcon, "TReportIcon", "詳細(&D)", "",
     "詳細|ウインドウ内の各オブジェクトの情報を表示します。", -1, -1, 3},
    {A::SwitchViewStyle, "TSwitchViewStyle", "表示", "", "", -1, -1, -1},
    {A::SelectAllItem, "TSelectAllItem", "すべて選択(&A)", "",
     "すべて選択|ウインドウ内のすべてのオブジェクトを選択します。", -1, -1, -1},
    {A::ReverseSelectedItem, "TReverseSelectedItem", "選択の切り替え(&I)", "",
     "選択の切り替え|選択されているオブジェクトと選択されていないオブジェクトを切り替えます。", -1,
     -1, -1},
}};

constexpr std::array<TShellCommand, 6> CommandTable = {{
    {ShellCmdCut, "cut", 4, 24},
    {ShellCmdCopy, "copy", 0, 25},
    {ShellCmdPaste, "paste", 16, 26},
    {ShellCmdCreateShortcut, "create shortcut", 2, 16},
    {ShellCmdDelete, "delete", 4, 17},
    {ShellCmdProperties, "properties", 5, 19},
}};

// Lookups index the tables directly, so their order must follow the numbering.
constexpr bool TableInOrder() {
    for (int i = 0; i < ShellActionCount; ++i)
        if (static_cast<int>(ActionTable[i].Action) != i) return false;
    for (int i = 0; i < static_cast<int>(CommandTable.size()); ++i)
        if (CommandTable[i].Number != i) return false;
    return true;
}
static_assert(TableInOrder());

} // namespace

const std::array<TShellActionInfo, ShellActionCount>& ShellActionTable() {
    return ActionTable;
}

const TShellActionInfo& ShellActionInfo(TShellAction action) {
    return ActionTable.at(static_cast<std::size_t>(action));
}

std::string_view ShortHint(TShellAction action) {
    const std::string_view hint = ShellActionInfo(action).Hint;
    return hint.substr(0, hint.find('|'));
}

std::string_view LongHint(TShellAction action) {
    const std::string_view hint = ShellActionInfo(action).Hint;
    const std::size_t bar = hint.find('|');
    return bar == std::string_view::npos ? hint : hint.substr(bar + 1);
}

bool InMainActionList(TShellAction action) {
    return action != A::FileDelete;
}

bool ActionEnabled(TShellAction action, const TActionContext& context) {
    if (!context.HasTarget) return false;
    const bool selected = context.SelectedCount > 0;
    switch (action) {
    case A::FileCut:
    case A::FileCopy:
    case A::FileProperty:
        return selected;
    case A::FileDelete:
        return selected && !context.EditingCaption;
    case A::FilePaste:
        return context.FolderHasPath && context.ClipboardHasFiles;
    case A::SortBySize:
    case A::SortByType:
    case A::SortByLastWrite:
    case A::SortByAttr:
        return context.FolderHasPath;
    default:
        return true;
    }
}

bool ActionChecked(TShellAction action, const TActionContext& context) {
    const int style = ShellActionInfo(action).ViewStyle;
    return context.HasTarget && style >= 0 && context.ViewStyle == style;
}

bool ActionRuns(TShellAction action, const TActionContext& context) {
    if (!ActionEnabled(action, context)) return false;
    const int command = ShellActionInfo(action).Command;
    if (command < 0) return true;
    // Paste acts on the shown folder itself, the others on the selected items.
    if (command == ShellCmdPaste)
        return CommandAllowed(command, context.FolderAttributes, context.ClipboardHasFiles);
    return CommandAllowed(command, context.CommonAttributes);
}

int NextViewStyle(int viewStyle) {
    return viewStyle >= 0 && viewStyle < 3 ? viewStyle + 1 : 0;
}

const std::array<TShellCommand, 6>& ShellCommandTable() {
    return CommandTable;
}

const TShellCommand* FindShellCommand(int number) {
    if (number < 0 || number >= static_cast<int>(CommandTable.size())) return nullptr;
    return &CommandTable[static_cast<std::size_t>(number)];
}

bool CommandAllowed(int number, std::uint32_t commonAttributes, bool clipboardHasFiles) {
    const TShellCommand* command = FindShellCommand(number);
    if (!command) return false;
    const std::uint32_t required = ShellAttributeFlags[command->RequiredAttributeIndex];
    if ((commonAttributes & required) != required) return false;
    return number != ShellCmdPaste || clipboardHasFiles;
}

std::uint32_t PopupMenuFlags(TShellContextType type, bool readOnly) {
    std::uint32_t flags = 0;
    switch (type) {
    case TShellContextType::Explore:
        flags = 4;
        break;
    case TShellContextType::Normal:
        flags = 0;
        break;
    case TShellContextType::DefaultOnly:
        flags = 1;
        break;
    }
    return readOnly ? flags : flags | 0x10;
}

TPopupChoice InterpretPopupChoice(int chosenId, int lastOwnId) {
    TPopupChoice choice;
    if (chosenId <= 0) return choice;
    if (chosenId <= lastOwnId) {
        choice.OwnItem = true;
        choice.Code = chosenId;
        return choice;
    }
    choice.Code = chosenId - (lastOwnId > 0 ? lastOwnId : 0);
    // Rename is left to the view's in-place editing.
    if (choice.Code != PopupRename) {
        choice.Invoke = true;
        choice.Offset = choice.Code - 1;
    }
    return choice;
}

int PopupResult(const TPopupChoice& choice, bool invokeSucceeded) {
    if (choice.Invoke && !invokeSucceeded) return 0;
    return choice.Code;
}

// ---- The window's system menu ----

namespace {

struct TSysCommandText {
    int Id;
    TSysCommand Bit;
    TSysMenuPos Pos;
    std::string_view Caption, Hint;
};

// In the order of the standard menu.
constexpr TSysCommandText SysCommandTexts[] = {
    {SysRestore, scRestore, TSysMenuPos::mpRestore, "元のサイズに戻す(&R)",
     "このウインドウを通常の大きさに戻します。"},
    {SysMove, scMove, TSysMenuPos::mpMove, "移動(&M)",
     "このウインドウを画面の別の位置に移動します。"},
    {SysSize, scSize, TSysMenuPos::mpSize, "サイズ変更(&S)",
     "このウインドウのサイズを変更します。"},
    {SysMinimize, scMinimize, TSysMenuPos::mpMinimize, "最小化(&N)",
     "このウインドウを最小化します。"},
    {SysMaximize, scMaximize, TSysMenuPos::mpMaximize, "最大化(&X)",
     "このウインドウを最大化します。"},
    {SysClose, scClose, TSysMenuPos::mpClose, "閉じる(&C)", "このウインドウを閉じます。"},
};

const TSysCommandText* FindSysCommand(int id) {
    for (const auto& c : SysCommandTexts)
        if (c.Id == id) return &c;
    return nullptr;
}

} // namespace

std::vector<TSysMenuEntry> StandardSystemMenu(TSysCommands enabled) {
    std::vector<TSysMenuEntry> menu;
    for (const auto& c : SysCommandTexts) {
        if (c.Id == SysClose) {
            menu.push_back({0, true});
            menu.push_back({SysClose, (enabled & scClose) != 0});
        } else if (enabled & c.Bit) {
            menu.push_back({c.Id, true});
        }
    }
    return menu;
}

int SystemMenuInsertIndex(const std::vector<TSysMenuEntry>& menu, TSysMenuPos pos) {
    if (pos == TSysMenuPos::mpTop) return 0;
    for (const auto& c : SysCommandTexts) {
        if (c.Pos != pos) continue;
        for (size_t i = 0; i < menu.size(); ++i)
            if (menu[i].Id == c.Id) return static_cast<int>(i);
    }
    return static_cast<int>(menu.size());
}

std::string_view SystemCommandCaption(int id) {
    const auto* c = FindSysCommand(id);
    return c ? c->Caption : std::string_view();
}

std::string_view SystemCommandHint(int id) {
    const auto* c = FindSysCommand(id);
    return c ? c->Hint : std::string_view();
}

} // namespace pictor
