#pragma once

#include "app/Settings.h"

#include <QDialog>
#include <array>
#include <functional>

class QCheckBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QTreeWidget;

namespace pictor {

class TRightEdit;

// The display-settings dialog. It is made once, hidden, when the main window first shows, and
// its controls are the program's live display settings: the preview, the image window, the
// thumbnails and the slideshow read them directly. Showing it only toggles its visibility.
class TFkind : public QDialog {
public:
    explicit TFkind(QWidget* mainForm);

    // File-kind switches, in the order of FileKindKeys.
    QCheckBox *cbdwg, *cbjpg, *cbjpeg, *cbbmp, *cbdib, *cbico, *cbwmf, *cbemf, *cbtxt, *cblog,
        *cbini, *cbhtm, *cbhtml, *cbgif, *cblzh, *cbzip, *cbcab, *cbtar, *cbavi, *cbmpg, *cbwav,
        *cbmid, *cbmp3;
    QCheckBox* FileKindBox(int index) const { return FKindBoxes[size_t(index)]; }
    // Whether the preview shows files of this kind ("jpg", without dot).
    bool FileKindEnabled(const std::string& key) const;

    QGroupBox* GroupBox1; // "表示ファイル"
    QGroupBox* GroupBox2; // "表示時間設定"
    TRightEdit* RightEdit;
    QCheckBox* cbLastDir;
    QLabel* Label3; // "Plug-in 設定"
    QGroupBox* GroupBox3; // "検索ディレクトリ"
    QCheckBox *cbsusdir, *cbviwdir, *cbcurdir, *cbsysdir, *cbwindir;
    QCheckBox* PluginDirBox(int index) const { return FDirBoxes[size_t(index)]; }
    QTreeWidget* ListView; // the plug-in list
    QPushButton* Button1;  // "設　　定": apply and close
    QPushButton* Button2;  // "キャンセル"
    QPushButton* Button3;  // "再　検　索": apply and stay open

    bool Changed = false;

    // Refills the plug-in list (one checked or unchecked row per plug-in).
    void SetPluginRows(const std::vector<TPluginRow>& rows);
    // Path and check mark of every row, in list order.
    std::vector<std::pair<std::string, bool>> PluginRowStates() const;

    // Wired by the main window: save then reload the settings; refresh its list and tree.
    std::function<void()> OnApply;
    std::function<void()> OnRefreshBrowser;

    void Button1Click();
    void Button2Click();
    void Button3Click();

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void done(int result) override;

private:
    void Apply();
    std::array<QCheckBox*, FileKindCount> FKindBoxes{};
    std::array<QCheckBox*, pdCount> FDirBoxes{};
};

} // namespace pictor
