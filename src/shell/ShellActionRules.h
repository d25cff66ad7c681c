#pragma once

// The shell actions of the main window (clipboard, delete, properties, sorting, view style,
// selection) as data, with the rules for their enabled state and check marks; the shell
// command table with the attribute each command needs; and the result codes of the shell
// context menu. No widgets: the views feed a TActionContext and apply the answers.

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

namespace pictor {

enum class TShellAction {
    FileCut,
    FileCopy,
    FilePaste,
    FileDelete,
    FileProperty,
    SortByName,
    SortBySize,
    SortByType,
    SortByLastWrite,
    SortByAttr,
    LargeIcon,
    SmallIcon,
    ListIcon,
    ReportIcon,
    SwitchViewStyle,
    SelectAllItem,
    ReverseSelectedItem,
};
inline constexpr int ShellActionCount = 17;

struct TShellActionInfo {
    TShellAction Action;
    const char* ClassName; // "TShellFileCut" ...
    const char* Caption;
    const char* Shortcut; // portable key text ("Ctrl+X", "Del"); empty when none
    const char* Hint;     // short hint, "|", long hint; empty when none
    int Command;          // shell command number, or -1
    int SortKey;          // sort key (always ascending), or -1
    int ViewStyle;        // view style set, or -1
};

// The table in declaration order of TShellAction.
const std::array<TShellActionInfo, ShellActionCount>& ShellActionTable();
const TShellActionInfo& ShellActionInfo(TShellAction action);
// The parts of the hint before and after "|" (the whole hint when there is no "|").
std::string_view ShortHint(TShellAction action);
std::string_view LongHint(TShellAction action);
// The main window's action list holds every action but delete (its own command there).
bool InMainActionList(TShellAction action);

// What the rules look at, taken from the action's target list.
struct TActionContext {
    bool HasTarget = true; // a visible control the action serves
    int SelectedCount = 0; // selected rows
    bool EditingCaption = false;
    bool FolderHasPath = false;         // the shown folder has a file-system path (not virtual)
    std::uint32_t CommonAttributes = 0; // SFGAO bits all selected items have
    std::uint32_t FolderAttributes = 0; // SFGAO bits of the shown folder
    bool ClipboardHasFiles = false;
    int ViewStyle = 0;
};

bool ActionEnabled(TShellAction action, const TActionContext& context);
// Only the four view-style actions carry a check mark: the one of the current style.
bool ActionChecked(TShellAction action, const TActionContext& context);
// Enabled, and for the command actions the items have what the command needs, so running
// it would reach the shell.
bool ActionRuns(TShellAction action, const TActionContext& context);
// The style after a switch: 0, 1, 2, 3, then 0 again (an unknown style also gives 0).
int NextViewStyle(int viewStyle);

// ---- shell commands ----

struct TShellCommand {
    int Number;
    const char* Name;
    int RequiredAttributeIndex; // into ShellAttributeFlags
    int Offset;                 // command offset in the item's context menu
};

enum : int {
    ShellCmdCut = 0,
    ShellCmdCopy = 1,
    ShellCmdPaste = 2,
    ShellCmdCreateShortcut = 3,
    ShellCmdDelete = 4,
    ShellCmdProperties = 5,
};

const std::array<TShellCommand, 6>& ShellCommandTable();
// Nullptr for an unknown number.
const TShellCommand* FindShellCommand(int number);
// Whether every item has the command's required attribute (commonAttributes are the bits all
// of them share); paste additionally needs files on the clipboard. Unknown numbers: false.
bool CommandAllowed(int number, std::uint32_t commonAttributes, bool clipboardHasFiles = false);

// ---- shell context menu ----

// Codes the popup returns, as the views react to them.
inline constexpr int PopupCreateShortcut = 17;
inline constexpr int PopupDelete = 18;
inline constexpr int PopupRename = 19;
inline constexpr int PopupCut = 25;

enum class TShellContextType { Explore, Normal, DefaultOnly };
// The flags the shell part of the menu is built with: explore 4, normal 0, default-only 1,
// plus 0x10 (can rename) when not read-only.
std::uint32_t PopupMenuFlags(TShellContextType type, bool readOnly);

// What a chosen menu identifier means, given the largest identifier of the menu's own items.
struct TPopupChoice {
    bool OwnItem = false; // one of the component's own items: Code is the identifier
    int Code = 0;         // 0 = nothing chosen
    bool Invoke = false;  // the shell command at Offset must be invoked
    int Offset = -1;
};
TPopupChoice InterpretPopupChoice(int chosenId, int lastOwnId);
// The popup's result for a shell code: the code itself, unless an invocation failed (0).
int PopupResult(const TPopupChoice& choice, bool invokeSucceeded);

// ---- The window's system menu ----

// Standard commands a system-menu component may leave enabled (bits of TSysCommands).
enum TSysCommand : unsigned { scSize = 1, scMove = 2, scMinimize = 4, scMaximize = 8,
                              scClose = 16, scRestore = 32 };
using TSysCommands = unsigned;
inline constexpr TSysCommands AllSysCommands = 63;
// Where the component's own items go.
enum class TSysMenuPos { mpTop, mpLast, mpSize, mpMove, mpMinimize, mpMaximize, mpClose, mpRestore };
// Identifiers of the standard commands.
enum : int { SysSize = 0xF000, SysMove = 0xF010, SysMinimize = 0xF020, SysMaximize = 0xF030,
             SysClose = 0xF060, SysRestore = 0xF120 };

struct TSysMenuEntry {
    int Id = 0; // 0: a separator
    bool Enabled = true;
    bool operator==(const TSysMenuEntry&) const = default;
};

// The standard system menu (restore, move, size, minimise, maximise, a line, close) with the
// enabled commands applied: close greyed when scClose is missing, each other command whose bit
// is missing deleted.
std::vector<TSysMenuEntry> StandardSystemMenu(TSysCommands enabled);
// Index in that menu at which the own items are inserted: 0 for mpTop, the end for mpLast,
// else the position of the named command (the end when it was deleted).
int SystemMenuInsertIndex(const std::vector<TSysMenuEntry>& menu, TSysMenuPos pos);
// Caption and hint of a standard command ("" for other identifiers).
std::string_view SystemCommandCaption(int id);
std::string_view SystemCommandHint(int id);

} // namespace pictor
