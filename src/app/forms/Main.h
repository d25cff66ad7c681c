#pragma once

#include "app/Settings.h"
#include "app/SystemInfo.h"
#include "app/WindowPosition.h"
#include "core/Bitmap.h"

#include <QMainWindow>
#include <functional>
#include <memory>
#include <optional>

class QAction;
class QActionGroup;
class QColor;
class QComboBox;
class QFrame;
class QLabel;
class QMediaPlayer;
class QMenu;
class QMovie;
class QSlider;
class QTimer;
class QWebEngineView;
class QPlainTextEdit;
class QPushButton;
class QSplitter;
class QToolBar;
class QUrl;

namespace pictor {

class TCloseSignals;
class TShellComboBox;
class TShellFileList;
class TShellIDList;
class TShellListView;
class TShellStatusBar;
class TShellTreeView;
class TFkind;
class TSPI;
class TSPIs;

// What the main window takes from its surroundings; tests set these, the program leaves
// them empty.
struct TMainFormOptions {
    std::string SettingsPath;                  // empty: beside the program, else the config folder
    std::vector<std::string> Arguments;        // command line without the program name
    std::function<TMediaSupport()> MediaProbe; // empty: ask the media backend
    std::optional<TOsVersion> OsVersion;       // empty: the running kernel's
    std::string AppDir;                        // plug-in "program folder"; empty: the program's
    std::string SystemDir, WindowsDir;         // plug-in system folders; empty: the defaults
    bool HandleSignals = false;                // turn SIGTERM/SIGINT into a close request
};

// The main window: folder tree, file list and preview panel under a menu, a tool bar with the
// folder box, and a status bar. It owns the plug-in registry and the display-settings dialog,
// reads the settings when first shown and writes them on every close request.
class TMainForm : public QMainWindow {
public:
    explicit TMainForm(TMainFormOptions options = {});
    ~TMainForm() override;

    // Controls.
    QToolBar* ToolBar;
    QToolBar* ComboBand;
    TShellComboBox* ShellComboBox;
    QAction *tbcut, *tbcopy, *tbpaste, *tbIcon, *tbSmallIcon, *tbList, *tbReport, *tbUp, *tblook;
    QComboBox* DrowCombo;
    QAction *tbbtoj, *tbjtob, *tbitob, *tbth, *tbco, *slideb, *brename;
    QSplitter* Splitter;
    TShellTreeView* ShellTreeView;
    TShellListView* ShellListView;
    QFrame* Panel;
    QLabel *Label1, *Label2, *Label3, *Label4, *Label5, *ImageIco, *Image;
    QLabel* Label7;       // "サムネイルクリックで編集画面", with picture previews
    QPushButton* bPictor; // opens the image window (issue of the image window)
    QPlainTextEdit* Memo; // text previews and archive listings
    QLabel* WebGif;       // animated GIF previews
    // Media previews (MainMedia.cpp): the player bar and its seven buttons, the position bar
    // (a TTrackBar, forms/Media.h) and its pending seek, the player, the video in the panel
    // (or in the media window while that is open), the two timers.
    enum class TMediaButton { Play, Pause, Stop, Next, Prev, Step, Back };
    QWidget* MediaPlayer = nullptr;
    QPushButton *MediaPlay = nullptr, *MediaPause = nullptr, *MediaStop = nullptr,
                *MediaNext = nullptr, *MediaPrev = nullptr, *MediaStep = nullptr,
                *MediaBack = nullptr;
    QSlider* TrackBar = nullptr;
    QSlider* TrackBarS = nullptr;
    QMediaPlayer* Player = nullptr;
    class TVideoView* Video = nullptr;
    class TMediaForm* MediaForm = nullptr; // the open media window, if any
    QTimer* MTimer = nullptr;              // follows playback, 200 ms
    QTimer* Timer = nullptr;               // 300 ms after a drag of the position bar
    // A press of a player button: its extra bookkeeping first, then the button's own action.
    void MediaPlayerClick(TMediaButton button);
    void MTimerTimer();
    void TimerTimer();
    void TrackBarScrollEnd(); // the end of a scroll of the position bar: seek there
    // The off-screen web page renderer (MainWeb.cpp), made on first use.
    QWebEngineView* WebBrowser = nullptr;
    // The page preview in flight (MainWeb.cpp). Every page and every newer selection takes a
    // new generation, so a late page never lands on a newer preview. Finished is the last
    // generation that ended (shown, failed or superseded); Capture the size last captured.
    struct TWebPreviewState {
        unsigned Generation = 0, Finished = 0;
        QSize Capture;
        bool Pending() const { return Finished != Generation; }
    } WebPreview;
    TShellStatusBar* ShellStatusBar;
    QAction *End1, *Cut1, *Copy1, *Paste1, *Delete1, *SelectAll1, *InvertSelection1;
    QAction *LargeIcon1, *SmallIcon1, *List1, *Report1, *Ctrl1, *Hidden1;
    QAction *SortByName1, *SortBySize1, *SortByType1, *SortByDate1, *ShowRefreshItem, *Filekind;
    QAction *Pics1, *Pics2, *Pics3, *Pics4;
    QAction *Help2, *About1, *Helphpme;

    // Yes/No questions (a message box; tests answer them).
    std::function<bool(const QString& question)> AskYesNo;
    // A line of text (an input box; tests answer it); nothing on Cancel.
    std::function<std::optional<QString>(const QString& title, const QString& prompt,
                                         const QString& text)>
        AskText;
    // A message to the user (a message box; tests collect them).
    std::function<void(const QString& message)> ShowMessage;
    // Opens a file with the desktop's default application (tests record it).
    std::function<void(const QUrl& url)> OpenDocument;
    // The file list's context menu and its items.
    QMenu* ViewPopup = nullptr;
    QAction *N11 = nullptr, *Paste2 = nullptr, *Folder1 = nullptr;
    // The shell's context menu of rows and tree nodes.
    class TShellPopupMenu* ShellPopupMenu = nullptr;
    // The thumbnail grid's context menu and its own items (cut and copy are Cut1, Copy1).
    QMenu* DrowPopupMenu = nullptr;
    QAction *DrowOpen = nullptr, *Delete2 = nullptr, *rename = nullptr, *Property1 = nullptr;
    // The window's system menu.
    class TShellSystemMenu* ShellSystemMenu = nullptr;

    // Owned state.
    TFkind* Fkind = nullptr; // made when the window is first shown
    std::unique_ptr<TSPIs> SPIs;
    std::vector<std::string> PluginSwitches;
    std::vector<std::string> PluginExts;
    unsigned OsMajorVersion = 0, OsMinorVersion = 0, OsBuildNumber = 0;
    std::vector<TRect> MonitorWorkAreas;

    const std::string& SettingsPath() const { return FSettingsPath; }
    // The file-system path of the folder selected in the tree (empty for a virtual folder).
    std::string CurrentFolder() const;
    // Selects a folder in the tree (and so shows it in the list).
    void NavigateTo(const std::string& folder);
    // Whether the preview shows files with this extension (".png" or "png"): an enabled
    // plug-in extension, looked up ignoring case.
    bool IsPluginExt(const std::string& ext) const;
    // 0..3: which of Pics1..Pics4 is checked.
    int FitMode() const;

    void FormShow();
    void LoadSettings();
    void SaveSettings();
    void SearchPlugins();
    void SPIsSearching(TSPIs& sender, const std::string& fileName, bool& accept);
    void SPIsSearch(TSPIs& sender, TSPI& aspi, bool& accept);
    // The close request: saves the settings; false keeps the window open.
    bool FormCloseQuery();

    void FilekindClick();
    void End1Click();
    void About1Click();

    // File commands (MainCommands.cpp).
    void CopyToClipboard(bool cut);
    void PasteClick();
    void Delete1Click();
    // Runs a command of the shell's context menu on items (code as the menu gives it).
    bool RunShellCommand(int code, const TShellIDList& ids);
    // Moves paths to the trash after asking; true when anything went there.
    bool TrashPaths(const std::vector<std::string>& paths);
    void Folder1Click();
    void renameClick();
    // Opens the selected file with the desktop's default application.
    void DrowOpenClick();
    void SelectAllClick();
    void InvertSelectionClick();
    void ViewPopupPopup();
    // What the list does after its shell context menu (refresh, edit a name ...).
    void ShellListViewPopup(int code);
    // What the tree does after its shell context menu (edit a caption, mark a cut node ...).
    void ShellTreeViewPopup(class TShellTreeNode* node, int code);
    // Cut, copy, delete follow the selection; paste follows the clipboard.
    void UpdateFileCommands();
    std::string SelectedPath() const;
    std::vector<std::string> SelectedPaths() const;

    // The browser.
    void ShellTreeViewChange();
    void ShellTreeViewClick();
    void ShellTreeViewShDragDrop(bool& defaultAction);
    void tbUpClick();
    void Ctrl1Click();
    void Hidden1Click();
    void ShowRefreshItemClick();
    void ShellListViewShListChange(TShellFileList& list);
    void ShellListViewShSelChange(std::uint64_t selSize);
    void ShellListViewColumnClick(int column);
    void ShellListViewCustomDrawItem(int row, QColor& textColour);
    // The preview of the list's first selected item (runs once the event queue is idle, so
    // a quick run of selections previews only the last one).
    void ShellListViewSelectItem();
    void SchedulePreview();
    void ResetPreview();
    void ShowFileInfo(const std::string& path);
    void ShowBitmap(const std::string& path);
    void ShowJpeg(const std::string& path);
    void ShowIcon(const std::string& path);
    void ShowMetafile(const std::string& path);
    void ShowText(const std::string& path);
    void ShowGif(const std::string& path);
    void ShowDwg(const std::string& path);
    void ShowByPlugin(const std::string& path);
    void ShowHtml(const std::string& path);  // MainWeb.cpp
    void ShowMedia(const std::string& path); // MainMedia.cpp
    void bPictorClick();
    void ImageClick();
    // The picture shown in Image (the image window takes it over); empty without one.
    const Bitmap& PreviewPicture() const { return FPreviewPicture; }
    // How many previews have run (a quick run of selections makes one).
    int PreviewCount() const { return FPreviewCount; }

    // The status texts of the list's folder and of a selection.
    std::string FolderSizeText() const;
    static std::string SelectionSizeText(std::uint64_t selSize);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void CreateMenus();
    void CreateToolBar();
    void CreatePanes();
    void CreatePreviewControls();
    void CreateFileCommands();  // MainCommands.cpp
    void CreateMediaControls(); // MainMedia.cpp
    void CloseMedia();          // MainMedia.cpp: stops and hides the player and the bars
    void OpenMediaWindow();     // MainMedia.cpp: the video in the always-on-top media window
    void ShowPicture(Bitmap picture, bool openable);
    void LinkBrowser();
    void ShowViewStyle();
    void RestorePosition(const TSettings& settings, bool fileExists);
    TSettings CollectSettings() const;
    void ApplyMediaChecks();

    TMainFormOptions FOptions;
    std::string FSettingsPath;
    bool FShown = false;
    QActionGroup* FFitGroup = nullptr;
    std::unique_ptr<TCloseSignals> FCloseSignals;
    Bitmap FPreviewPicture;
    QMovie* FGifMovie = nullptr;
    bool FPreviewPending = false;
    int FPreviewCount = 0;
};

} // namespace pictor
