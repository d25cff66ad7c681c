#pragma once

// The status bar of the shell browser: panels whose texts the main window writes, the long
// hint of the control under the mouse across the whole bar, and a height that follows the font.
// And the window's system menu with a form's own items in it.

#include "core/Exception.h"
#include "shell/ShellActionRules.h"

#include <QMenu>
#include <QStatusBar>

#include <vector>

class QLabel;

namespace pictor {

class TShellStatusBar : public QStatusBar {
public:
    explicit TShellStatusBar(QWidget* parent = nullptr);

    // Panels left to right with these widths; the last one also takes what is left.
    void SetPanels(const std::vector<int>& widths);
    int PanelCount() const { return static_cast<int>(FPanels.size()); }
    QString PanelText(int index) const;
    void SetPanelText(int index, const QString& text);
    int PanelWidth(int index) const;
    // Whether a long hint covers the panels now.
    bool HintShown() const { return !currentMessage().isEmpty(); }
    // The control placed in the first panel (none by default).
    void SetEmbedded(QWidget* control);

    // The bar's height for a font: its pixel height plus 6 above 9 points, else 23.
    static int HeightForFont(const QFont& font);

protected:
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void AdjustToFont();
    void PlaceEmbedded();

    std::vector<QLabel*> FPanels;
    QWidget* FEmbedded = nullptr;
};

// A second system-menu component on one form.
class EShellSystemMenu : public Exception {
public:
    using Exception::Exception;
};

// The window system menu of a form, with the component's own items (its actions) inserted at
// InsertPos. X11 window managers draw the title bar and keep its menu to themselves, so the
// menu opens from the form instead (a right click on its menu bar, or Alt+Space), holding the
// standard commands carried out through the window system and the own items; EnableCommands
// also sets the title bar's minimise, maximise and close buttons. Only one may exist per form:
// making a second raises EShellSystemMenu. Destroying the component takes its items out.
class TShellSystemMenu : public QMenu {
public:
    // Own items are added with addAction() etc. on the component, like any menu's.
    explicit TShellSystemMenu(QWidget* form);
    ~TShellSystemMenu() override;

    TSysCommands EnableCommands() const { return FEnableCommands; }
    void SetEnableCommands(TSysCommands commands);
    TSysMenuPos InsertPos() const { return FInsertPos; }
    void SetInsertPos(TSysMenuPos pos) { FInsertPos = pos; }

    // The system menu as it would open now: standard commands (their identifiers in each
    // action's data(), enabled as the window's state allows) with the own items inserted.
    QMenu* SystemMenu();
    // Opens the system menu at a global position and carries out the command chosen.
    void PopupSystemMenu(const QPoint& globalPos);
    // Carries out a standard command by its identifier (SysClose ...).
    void RunSystemCommand(int id);

    // The component of a form, if it has one.
    static TShellSystemMenu* Of(const QWidget* form);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* FForm;
    QMenu* FSystemMenu = nullptr;
    TSysCommands FEnableCommands = AllSysCommands;
    TSysMenuPos FInsertPos = TSysMenuPos::mpTop;
};

} // namespace pictor
