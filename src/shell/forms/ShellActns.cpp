#include "shell/forms/ShellActns.h"

#include <QAction>
#include <QMenu>
#include <QWidget>

namespace pictor {

TShellPopupMenu::TShellPopupMenu(QWidget* owner) : QObject(owner), FOwner(owner) {}

QMenu* TShellPopupMenu::BuildMenu(const TShellIDList& ids) {
    auto* menu = new QMenu(FOwner);
    menu->setObjectName(QStringLiteral("ShellPopupMenu"));
    const std::uint32_t attrs = ids.Attributes(0xFFFFFFFF);
    const bool files = ClipboardHasFiles && ClipboardHasFiles();
    auto add = [&](const char* caption, int code, bool enabled) {
        QAction* a = menu->addAction(QString::fromUtf8(caption));
        a->setData(code);
        a->setEnabled(enabled);
        return a;
    };
    QAction* open = add("開く(&O)", ShellCodeOpen, ids.Count() > 0);
    menu->setDefaultAction(open);
    if (ContextType == TShellContextType::DefaultOnly) return menu;
    menu->addSeparator();
    add("切り取り(&T)", ShellCodeCut, CommandAllowed(ShellCmdCut, attrs));
    add("コピー(&C)", ShellCodeCopy, CommandAllowed(ShellCmdCopy, attrs));
    // Paste goes into the one folder chosen.
    add("貼り付け(&P)", ShellCodePaste,
        ids.Count() == 1 && (attrs & SFGAO_FOLDER) && CommandAllowed(ShellCmdPaste, attrs, files));
    menu->addSeparator();
    add("リンクの作成(&S)", ShellCodeCreateLink, CommandAllowed(ShellCmdCreateShortcut, attrs));
    add("削除(&D)", ShellCodeDelete, CommandAllowed(ShellCmdDelete, attrs));
    if (!ReadOnly)
        add("名前の変更(&M)", PopupRename, ids.Count() == 1 && (attrs & SFGAO_CANRENAME));
    menu->addSeparator();
    add("プロパティ(&R)", ShellCodeProperties, CommandAllowed(ShellCmdProperties, attrs));
    return menu;
}

int TShellPopupMenu::Choose(int code, const TShellIDList& ids) {
    if (code <= 0) return 0;
    if (code == PopupRename) return code; // the caller starts editing
    return Invoke && Invoke(code, ids) ? code : 0;
}

int TShellPopupMenu::Popup(const TShellIDList& ids, QPoint globalPos) {
    bool allow = ids.Count() > 0;
    if (OnShBeforPopup) OnShBeforPopup(ids, globalPos, allow);
    if (!allow) return 0;
    QMenu* menu = BuildMenu(ids);
    QAction* chosen = menu->exec(globalPos);
    const int code = chosen ? chosen->data().toInt() : 0;
    menu->deleteLater();
    return Choose(code, ids);
}

} // namespace pictor
