#pragma once

// The shell's context menu for rows of the list and nodes of the tree: open, cut, copy, paste,
// create link, delete, rename and properties, with the command codes callers react to (17
// link created, 18 deleted, 19 rename, 25 cut ...: a command's code is its offset plus one).

#include "shell/ShellActionRules.h"
#include "shell/ShellCtrls.h"

#include <QObject>
#include <QPoint>

#include <functional>
#include <vector>

class QAction;
class QMenu;
class QWidget;

namespace pictor {

// Codes of the menu's commands.
enum : int {
    ShellCodeOpen = 1,
    ShellCodeCreateLink = 17,
    ShellCodeDelete = 18,
    ShellCodeProperties = 20,
    ShellCodeCut = 25,
    ShellCodeCopy = 26,
    ShellCodePaste = 27,
};

class TShellPopupMenu : public QObject {
public:
    explicit TShellPopupMenu(QWidget* owner);

    bool ReadOnly = true; // without rename
    TShellContextType ContextType = TShellContextType::Explore;
    std::function<void(const TShellIDList& ids, QPoint pt, bool& allowPopup)> OnShBeforPopup;
    // Runs a command on the items; true on success. The owner supplies it.
    std::function<bool(int code, const TShellIDList& ids)> Invoke;
    // Whether the clipboard offers files (paste); the owner supplies it.
    std::function<bool()> ClipboardHasFiles;

    // Shows the menu at a screen point and runs the chosen command: its code, 19 for rename
    // (nothing run), 0 when nothing was chosen or the command failed.
    int Popup(const TShellIDList& ids, QPoint globalPos);
    // The menu for items with its actions' codes (tests look at it without showing it).
    QMenu* BuildMenu(const TShellIDList& ids);
    // What choosing the action with this code gives (as Popup does after the menu closes).
    int Choose(int code, const TShellIDList& ids);

private:
    QWidget* FOwner;
};

} // namespace pictor
