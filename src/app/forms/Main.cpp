#include "app/forms/Main.h"

#include "app/CloseSignals.h"
#include "app/HelpBook.h"
#include "app/VersionInfo.h"
#include "app/LongPath.h"
#include "app/MediaSupport.h"
#include "app/PictureSetup.h"
#include "app/SizeTexts.h"
#include "app/forms/Application.h"
#include "app/forms/HelpWindow.h"
#include "app/forms/RightEdit.h"
#include "app/forms/Ver.h"
#include "app/forms/kind.h"
#include "core/IniFile.h"
#include "core/PathRules.h"
#include "plugins/SPIs.h"
#include "shell/ShellActionRules.h"
#include "shell/ShellCtrls.h"
#include "shell/forms/ShellAdditns.h"
#include "shell/forms/ShellCombo.h"
#include "shell/forms/ShellListView.h"
#include "shell/forms/ShellTree.h"

#include <QActionGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QSplitter>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QUrl>

namespace pictor {

namespace {
constexpr int panelWidth = 202;

QIcon ThemeIcon(const char* name, QStyle::StandardPixmap fallback) {
    return QIcon::fromTheme(name, QApplication::style()->standardIcon(fallback));
}

QLabel* PanelLabel(QWidget* parent, int left, int top, int pixelSize, bool bold,
                   const QColor& color = QColor()) {
    auto* label = new QLabel(parent);
    QFont font = label->font();
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    label->setFont(font);
    if (color.isValid()) {
        QPalette pal = label->palette();
        pal.setColor(QPalette::WindowText, color);
        label->setPalette(pal);
    }
    label->move(left, top);
    label->resize(panelWidth - left - 4, pixelSize + 6);
    return label;
}
} // namespace

TMainForm::TMainForm(TMainFormOptions options) : FOptions(std::move(options)) {
    setObjectName("MainForm");
    setWindowTitle("Pictor[MainForm]");
    AskYesNo = [this](const QString& question) {
        return QMessageBox::question(this, QApplication::applicationName(), question,
                                     QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
    };
    setMinimumSize(800, 200);
    resize(800, 600);

    FSettingsPath =
        FOptions.SettingsPath.empty() ? SettingsFilePath(ProgramPath()) : FOptions.SettingsPath;

    // The built-in picture formats; plug-ins add theirs when they are found.
    RegisterPictureFormats();

    SPIs = std::make_unique<TSPIs>();
    SPIs->GraphicPreview = false;
    SPIs->AutoSearch = false;
    SPIs->SearchOptions = {spsSusieDir, spsAppDir};
    if (!FOptions.AppDir.empty()) SPIs->AppDir = FOptions.AppDir;
    if (!FOptions.SystemDir.empty()) SPIs->SystemDir = FOptions.SystemDir;
    if (!FOptions.WindowsDir.empty()) SPIs->WindowsDir = FOptions.WindowsDir;
    SPIs->OnSearching = [this](TSPIs& s, const std::string& f, bool& a) { SPIsSearching(s, f, a); };
    SPIs->OnSearch = [this](TSPIs& s, TSPI& p, bool& a) { SPIsSearch(s, p, a); };

    CreateMenus();
    CreateToolBar();
    CreatePanes();

    if (FOptions.HandleSignals)
        FCloseSignals = std::make_unique<TCloseSignals>([this] { close(); });
}

TMainForm::~TMainForm() {
    // The tree and the list point at each other; unlink them before either goes.
    ShellTreeView->SetShellListView(nullptr);
    ShellListView->SetTreeLink(nullptr);
}

void TMainForm::CreateMenus() {
    auto makeAction = [this](const QString& caption, const char* name, bool enabled = false) {
        auto* a = new QAction(caption, this);
        a->setObjectName(name);
        // Commands of the browser that arrive with the file list stay greyed until then.
        a->setEnabled(enabled);
        return a;
    };
    QMenu* file = menuBar()->addMenu("ファイル(&F)");
    End1 = makeAction("終了(&X)", "End1", true);
    connect(End1, &QAction::triggered, this,
            [this] { TApplication::Guard([this] { End1Click(); }); });
    file->addAction(End1);

    QMenu* edit = menuBar()->addMenu("編集(&E)");
    Cut1 = makeAction("切り取り(&T)", "Cut1");
    Cut1->setShortcut(QKeySequence("Ctrl+X"));
    Copy1 = makeAction("コピー(&C)", "Copy1");
    Copy1->setShortcut(QKeySequence("Ctrl+C"));
    Paste1 = makeAction("貼り付け(&P)", "Paste1");
    Paste1->setShortcut(QKeySequence("Ctrl+V"));
    Delete1 = makeAction("削除(&D)", "Delete1");
    SelectAll1 = makeAction("すべて選択(&A)", "SelectAll1");
    InvertSelection1 = makeAction("選択の切り替え(&I)", "InvertSelection1");
    edit->addActions({Cut1, Copy1, Paste1, Delete1});
    edit->addSeparator();
    edit->addActions({SelectAll1, InvertSelection1});

    QMenu* view = menuBar()->addMenu("表示(&V)");
    LargeIcon1 = makeAction("大きいアイコン(&G)", "LargeIcon1");
    SmallIcon1 = makeAction("小さいアイコン(&M)", "SmallIcon1");
    List1 = makeAction("一覧(&L)", "List1");
    Report1 = makeAction("詳細(&D)", "Report1");
    view->addActions({LargeIcon1, SmallIcon1, List1, Report1});
    view->addSeparator();
    Ctrl1 = makeAction("コントロールパネルも表示", "Ctrl1");
    Hidden1 = makeAction("隠しフォルダも表示", "Hidden1");
    view->addActions({Ctrl1, Hidden1});
    QMenu* sort = view->addMenu("ソート順(&S)");
    SortByName1 = makeAction("名前順(&N)", "SortByName1");
    SortBySize1 = makeAction("サイズ順(&Z)", "SortBySize1");
    SortByType1 = makeAction("種類順(&N)", "SortByType1");
    SortByDate1 = makeAction("日付順(&D)", "SortByDate1");
    sort->addActions({SortByName1, SortBySize1, SortByType1, SortByDate1});
    ShowRefreshItem = makeAction("最新の状態に更新(&R)", "ShowRefreshItem");
    ShowRefreshItem->setShortcut(QKeySequence(Qt::Key_F5));
    view->addAction(ShowRefreshItem);
    view->addSeparator();
    Filekind = makeAction("表示設定", "Filekind", true);
    connect(Filekind, &QAction::triggered, this,
            [this] { TApplication::Guard([this] { FilekindClick(); }); });
    view->addAction(Filekind);
    QMenu* pics = view->addMenu("イメージ表示(&P)");
    FFitGroup = new QActionGroup(this);
    FFitGroup->setExclusive(true);
    Pics1 = makeAction("ウィンドウを画像に合わせる(&C)", "Pics1", true);
    Pics2 = makeAction("画像をウィンドウに合わせる(&W)", "Pics2", true);
    Pics3 = makeAction("そのままのサイズで表示(&A)", "Pics3", true);
    Pics4 = makeAction("ウィンドウに画像を合わせる(&F)", "Pics4", true);
    for (QAction* a : {Pics1, Pics2, Pics3, Pics4}) {
        a->setCheckable(true);
        FFitGroup->addAction(a);
        pics->addAction(a);
    }
    Pics2->setChecked(true);

    QMenu* help = menuBar()->addMenu("ヘルプ(&H)");
    Help2 = makeAction("ヘルプ(&D)...", "Help2", true);
    connect(Help2, &QAction::triggered, this, [this] {
        TApplication::Guard([this] { THelpWindow::ShowHelp(this, ProgramHelpBookPath()); });
    });
    About1 = makeAction("バージョン情報(&A)...", "About1", true);
    connect(About1, &QAction::triggered, this,
            [this] { TApplication::Guard([this] { About1Click(); }); });
    Helphpme = makeAction("ホームページへ", "Helphpme", true);
    connect(Helphpme, &QAction::triggered, this, [] {
        // The desktop's web browser.
        QDesktopServices::openUrl(QUrl(QString::fromUtf8(HomePageUrl)));
    });
    help->addActions({Help2, About1, Helphpme});
}

void TMainForm::CreateToolBar() {
    ToolBar = addToolBar("ToolBar");
    ToolBar->setObjectName("ToolBar");
    ToolBar->setMovable(false);
    ToolBar->setIconSize(QSize(16, 16));
    // A slightly smaller caption font, so every tool fits the 800-pixel window.
    QFont toolFont = ToolBar->font();
    toolFont.setPointSizeF(toolFont.pointSizeF() * 0.85);
    ToolBar->setFont(toolFont);
    ToolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    auto tool = [this](QAction*& field, const char* name, const QString& hint, const QIcon& icon) {
        field = ToolBar->addAction(icon, hint);
        field->setObjectName(name);
        field->setToolTip(hint);
        field->setEnabled(false);
    };
    tool(tbcut, "tbcut", "切り取り", ThemeIcon("edit-cut", QStyle::SP_DialogDiscardButton));
    tool(tbcopy, "tbcopy", "コピー", ThemeIcon("edit-copy", QStyle::SP_FileIcon));
    tool(tbpaste, "tbpaste", "貼り付け", ThemeIcon("edit-paste", QStyle::SP_DialogApplyButton));
    ToolBar->addSeparator();
    tool(tbIcon, "tbIcon", "大きいアイコン",
         ThemeIcon("view-list-icons", QStyle::SP_FileDialogContentsView));
    tool(tbSmallIcon, "tbSmallIcon", "小さいアイコン",
         ThemeIcon("view-list-compact", QStyle::SP_FileDialogListView));
    tool(tbList, "tbList", "一覧", ThemeIcon("view-list", QStyle::SP_FileDialogListView));
    tool(tbReport, "tbReport", "詳細",
         ThemeIcon("view-list-details", QStyle::SP_FileDialogDetailedView));
    ToolBar->addSeparator();
    tool(tbUp, "tbUp", "上のフォルダへ", ThemeIcon("go-up", QStyle::SP_FileDialogToParent));
    tool(tblook, "tblook", "画像一覧表示", ThemeIcon("view-preview", QStyle::SP_DirIcon));
    DrowCombo = new QComboBox(ToolBar);
    DrowCombo->setObjectName("DrowCombo");
    DrowCombo->addItems({"50 pixel", "100 pixel", "150 pixel", "200 pixel"});
    DrowCombo->setEnabled(false);
    ToolBar->addWidget(DrowCombo);
    ToolBar->addSeparator();
    ToolBar->setToolButtonStyle(Qt::ToolButtonTextOnly);
    auto textTool = [this](QAction*& field, const char* name, const QString& caption) {
        field = ToolBar->addAction(caption);
        field->setObjectName(name);
        field->setEnabled(false);
    };
    // Mixed icon and text buttons: icon actions show their icon, the rest their caption.
    ToolBar->setToolButtonStyle(Qt::ToolButtonFollowStyle);
    textTool(tbbtoj, "tbbtoj", "BMP to JPG");
    textTool(tbjtob, "tbjtob", "JPG to BMP");
    textTool(tbitob, "tbitob", "ICO to BMP");
    ToolBar->addSeparator();
    textTool(tbth, "tbth", "解 凍");
    textTool(tbco, "tbco", "圧 縮");
    ToolBar->addSeparator();
    textTool(slideb, "slideb", "Slide");
    textTool(brename, "brename", "ReName");

    addToolBarBreak();
    ComboBand = addToolBar("ComboBand");
    ComboBand->setObjectName("ComboBand");
    ComboBand->setMovable(false);
    ShellComboBox = new TShellComboBox(ComboBand);
    ShellComboBox->setObjectName("ShellComboBox");
    ShellComboBox->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    ShellComboBox->setEditable(false);
    ComboBand->addWidget(ShellComboBox);
}

void TMainForm::CreatePanes() {
    Splitter = new QSplitter(Qt::Horizontal, this);
    Splitter->setObjectName("Splitter1");
    Splitter->setChildrenCollapsible(false);
    ShellTreeView = new TShellTreeView(Splitter);
    ShellTreeView->setObjectName("ShellTreeView");
    ShellListView = new TShellListView(Splitter);
    ShellListView->setObjectName("ShellListView");

    Panel = new QFrame(Splitter);
    Panel->setObjectName("Panel");
    Panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Panel->setLineWidth(2);
    Panel->setFixedWidth(panelWidth);
    Panel->setAutoFillBackground(true);
    QPalette pal = Panel->palette();
    pal.setColor(QPalette::Window, pal.color(QPalette::Base));
    Panel->setPalette(pal);
    Label1 = PanelLabel(Panel, 16, 8, 16, true);
    ImageIco = new QLabel(Panel);
    ImageIco->setGeometry(16, 32, 41, 41);
    Label2 = PanelLabel(Panel, 16, 80, 13, true);
    Label3 = PanelLabel(Panel, 16, 96, 13, false, palette().color(QPalette::Highlight));
    Label4 = PanelLabel(Panel, 16, 112, 13, true);
    Label5 = PanelLabel(Panel, 16, 176, 13, true, Qt::red);
    Image = new QLabel(Panel);
    Image->setGeometry(2, 234, 200, 150);
    Image->setScaledContents(true);
    const char* names[] = {"Label1", "Label2", "Label3", "Label4", "Label5"};
    QLabel* labels[] = {Label1, Label2, Label3, Label4, Label5};
    for (int i = 0; i < 5; ++i)
        labels[i]->setObjectName(names[i]);
    ImageIco->setObjectName("ImageIco");
    Image->setObjectName("Image");

    Splitter->setStretchFactor(0, 0);
    Splitter->setStretchFactor(1, 1);
    Splitter->setStretchFactor(2, 0);
    Splitter->setSizes({225, 361, panelWidth});
    setCentralWidget(Splitter);

    ShellStatusBar = new TShellStatusBar(this);
    ShellStatusBar->SetPanels({250, 50});
    setStatusBar(ShellStatusBar);
    LinkBrowser();
    CreatePreviewControls();
}

void TMainForm::LinkBrowser() {
    // The main window shows virtual folders everywhere; the tree passes its set on.
    ShellTreeView->SetShVirtuaItems({itBitBucket, itNetWork, itVirtual});
    ShellTreeView->SetShellComboBox(ShellComboBox);
    ShellTreeView->SetShellListView(ShellListView);
    // The menu's check marks show the actual state.
    Ctrl1->setCheckable(true);
    Ctrl1->setChecked(ShellTreeView->ShVirtuaItems().Contains(itVirtual));
    Hidden1->setCheckable(true);
    Hidden1->setChecked(false); // the list starts without hidden entries (FormShow)

    ShellTreeView->OnChange = [this](TShellTreeNode*) {
        TApplication::Guard([this] { ShellTreeViewChange(); });
    };
    ShellTreeView->OnShDragDrop = [this](const QMimeData*, TShellTreeNode*, Qt::KeyboardModifiers,
                                         QPoint, bool& defaultAction) {
        TApplication::Guard([&] { ShellTreeViewShDragDrop(defaultAction); });
    };
    connect(ShellTreeView, &QTreeWidget::itemClicked, this,
            [this] { TApplication::Guard([this] { ShellTreeViewClick(); }); });
    ShellListView->OnShListChange = [this](TShellFileList& list) {
        TApplication::Guard([&] { ShellListViewShListChange(list); });
    };
    ShellListView->OnShSelChange = [this](std::uint64_t size) {
        TApplication::Guard([&] { ShellListViewShSelChange(size); });
    };
    ShellListView->OnColumnClick = [this](int column) {
        TApplication::Guard([&] { ShellListViewColumnClick(column); });
    };
    ShellListView->OnCustomDrawItem = [this](int row, QColor& colour) {
        TApplication::Guard([&] { ShellListViewCustomDrawItem(row, colour); });
    };

    auto command = [this](QAction* action, auto fn) {
        action->setEnabled(true);
        connect(action, &QAction::triggered, this,
                [this, fn] { TApplication::Guard([&] { (this->*fn)(); }); });
    };
    command(tbUp, &TMainForm::tbUpClick);
    command(Ctrl1, &TMainForm::Ctrl1Click);
    command(Hidden1, &TMainForm::Hidden1Click);
    command(ShowRefreshItem, &TMainForm::ShowRefreshItemClick);
    const std::pair<QAction*, int> styles[] = {
        {tbIcon, vsIcon},          {LargeIcon1, vsIcon}, {tbSmallIcon, vsSmallIcon},
        {SmallIcon1, vsSmallIcon}, {tbList, vsList},     {List1, vsList},
        {tbReport, vsReport},      {Report1, vsReport}};
    for (const auto& [action, style] : styles) {
        action->setEnabled(true);
        const int viewStyle = style;
        connect(action, &QAction::triggered, this, [this, viewStyle] {
            TApplication::Guard([&] {
                ShellListView->SetViewStyle(viewStyle);
                ShowViewStyle();
            });
        });
    }
    auto* styleGroup = new QActionGroup(this);
    for (QAction* a : {LargeIcon1, SmallIcon1, List1, Report1}) {
        a->setCheckable(true);
        styleGroup->addAction(a);
    }
    ShowViewStyle();
    // Two-part hints: the short one as tool tip, the long one across the status bar.
    const std::pair<QAction*, TShellAction> hints[] = {
        {tbcut, TShellAction::FileCut},
        {Cut1, TShellAction::FileCut},
        {tbcopy, TShellAction::FileCopy},
        {Copy1, TShellAction::FileCopy},
        {tbpaste, TShellAction::FilePaste},
        {Paste1, TShellAction::FilePaste},
        {SortByName1, TShellAction::SortByName},
        {SortBySize1, TShellAction::SortBySize},
        {SortByType1, TShellAction::SortByType},
        {SortByDate1, TShellAction::SortByLastWrite},
        {tbIcon, TShellAction::LargeIcon},
        {LargeIcon1, TShellAction::LargeIcon},
        {tbSmallIcon, TShellAction::SmallIcon},
        {SmallIcon1, TShellAction::SmallIcon},
        {tbList, TShellAction::ListIcon},
        {List1, TShellAction::ListIcon},
        {tbReport, TShellAction::ReportIcon},
        {Report1, TShellAction::ReportIcon},
        {SelectAll1, TShellAction::SelectAllItem},
        {InvertSelection1, TShellAction::ReverseSelectedItem},
    };
    for (const auto& [action, shellAction] : hints) {
        action->setToolTip(QString::fromUtf8(ShortHint(shellAction)));
        action->setStatusTip(QString::fromUtf8(LongHint(shellAction)));
    }
    const std::pair<QAction*, int> sorts[] = {{SortByName1, ColName},
                                              {SortBySize1, ColSize},
                                              {SortByType1, ColType},
                                              {SortByDate1, ColDate}};
    for (const auto& [action, key] : sorts) {
        action->setEnabled(true);
        const int sortKey = key;
        connect(action, &QAction::triggered, this, [this, sortKey] {
            TApplication::Guard([&] { ShellListView->SortBy(sortKey, true); });
        });
    }
}

void TMainForm::ShowViewStyle() {
    const int style = ShellListView->ViewStyle();
    LargeIcon1->setChecked(style == vsIcon);
    SmallIcon1->setChecked(style == vsSmallIcon);
    List1->setChecked(style == vsList);
    Report1->setChecked(style == vsReport);
}

std::string TMainForm::CurrentFolder() const {
    return ShellTreeView->CurrentPath().toStdString();
}

void TMainForm::NavigateTo(const std::string& folder) {
    const TItemIDList list = PathToIDList(folder);
    if (!list.IsNull()) ShellTreeView->SelectFolder(list);
}

void TMainForm::ShellTreeViewChange() {
    setWindowTitle(ShellTreeView->CurrentPath());
    TShellTreeNode* node = ShellTreeView->SelectedNode();
    Label1->setText(node ? node->text(0) : QString());
}

void TMainForm::ShellTreeViewClick() {
    if (TShellTreeNode* node = ShellTreeView->SelectedNode()) {
        const QIcon icon = TShellTreeView::IconOf(node->Item().ImageIndex(), style());
        ImageIco->setPixmap(icon.pixmap(32, 32));
    }
    Label2->clear();
}

void TMainForm::ShellTreeViewShDragDrop(bool& defaultAction) {
    if (!AskYesNo(QStringLiteral("ファイルをドロップしますか?"))) defaultAction = false;
}

void TMainForm::tbUpClick() {
    TShellTreeNode* node = ShellTreeView->SelectedNode();
    if (!node || node == ShellTreeView->RootNode() || !node->parent()) return;
    ShellTreeView->setCurrentItem(node->parent());
}

void TMainForm::Ctrl1Click() {
    TShVirtuaItems items = ShellTreeView->ShVirtuaItems();
    if (items.Contains(itVirtual))
        items.Exclude(itVirtual);
    else
        items.Include(itVirtual);
    ShellTreeView->SetShVirtuaItems(items);
    Ctrl1->setChecked(items.Contains(itVirtual));
}

void TMainForm::Hidden1Click() {
    // The check mark says whether the list shows hidden entries; the tree passes the switch on.
    const bool show = !ShellListView->IncludeHidden();
    ShellTreeView->SetIncludeHidden(show);
    ShellListView->SetIncludeHidden(show); // the tree passes on changes only, and may agree already
    Hidden1->setChecked(show);
}

void TMainForm::ShowRefreshItemClick() {
    ShellListView->RefreshList();
    ShellTreeView->RefreshTree();
}

std::string TMainForm::FolderSizeText() const {
    TShellFileList& list = ShellListView->FileList();
    return pictor::FolderSizeText(list.TotalSize(), list.FreeSpace());
}

std::string TMainForm::SelectionSizeText(std::uint64_t selSize) {
    return pictor::SelectionSizeText(selSize);
}

void TMainForm::ShellListViewShListChange(TShellFileList& list) {
    ShellStatusBar->SetPanelText(
        1, list.FolderPath().empty() ? QString() : QString::fromStdString(FolderSizeText()));
    ShellStatusBar->SetPanelText(0, QString::fromStdString(ObjectCountText(list.Count())));
    ShellStatusBar->repaint();
    ShellListViewSelectItem();
}

void TMainForm::ShellListViewShSelChange(std::uint64_t selSize) {
    Label2->clear();
    Label3->clear();
    Label4->clear();
    const int selected = ShellListView->SelectedCount();
    if (selected > 0) {
        const QString size = QString::fromStdString(SelectionSizeText(selSize));
        ShellStatusBar->SetPanelText(1, size);
        Label4->setText(QStringLiteral("ｻｲｽﾞ = ") + size);
        ShellStatusBar->SetPanelText(0, QString::fromStdString(SelectedCountText(selected)));
    } else {
        Label4->clear();
        ShellStatusBar->SetPanelText(
            0, QString::fromStdString(ObjectCountText(ShellListView->FileList().Count())));
        ShellStatusBar->SetPanelText(1, QString::fromStdString(FolderSizeText()));
    }
    ShellStatusBar->repaint();
}

void TMainForm::ShellListViewColumnClick(int) {
    // The thumbnail grid follows the new order once it exists.
}

void TMainForm::ShellListViewCustomDrawItem(int row, QColor& textColour) {
    TShellFileItem* item = ShellListView->FileList().Item(row);
    if (!item) return;
    const std::uint32_t attrs = item->FindData().FileAttributes;
    // Tested in this order: the last attribute that matches decides.
    if (attrs & FILE_ATTRIBUTE_HIDDEN) textColour = QColor(0x80, 0x80, 0x80);
    if (attrs & FILE_ATTRIBUTE_READONLY) textColour = QColor(0xFF, 0, 0);
    if (attrs & FILE_ATTRIBUTE_SYSTEM) textColour = QColor(0, 0x80, 0);
}

bool TMainForm::IsPluginExt(const std::string& ext) const {
    const std::string dotted = !ext.empty() && ext[0] == '.' ? ext : "." + ext;
    for (const std::string& e : PluginExts)
        if (SameTextAscii(e, dotted)) return true;
    return false;
}

int TMainForm::FitMode() const {
    const QAction* items[] = {Pics1, Pics2, Pics3, Pics4};
    for (int i = 0; i < 4; ++i)
        if (items[i]->isChecked()) return i;
    return 1;
}

void TMainForm::showEvent(QShowEvent* event) {
    // The start-up runs before the window reaches the screen, so it appears where it belongs.
    if (!FShown) {
        FShown = true;
        TApplication::Guard([this] { FormShow(); });
    }
    QMainWindow::showEvent(event);
}

void TMainForm::FormShow() {
    const TOsVersion os = FOptions.OsVersion ? *FOptions.OsVersion : ReadOsVersion();
    OsMajorVersion = os.Major;
    OsMinorVersion = os.Minor;
    OsBuildNumber = os.Build;

    // The file list's own layout; it leaves out hidden files and virtual items of the computer.
    {
        // Without a stored layout the columns keep their even split (stored widths default to
        // 30 pixels, far too narrow for a first start).
        const TIniFile ini(FSettingsPath);
        if (ini.SectionExists("ShellFileSetting"))
            ShellListView->LoadSettings(ini, "ShellFileSetting");
        ShowViewStyle();
    }
    ShellListView->SetIncludeHidden(false);
    TShVirtuaItems listItems = ShellTreeView->ShVirtuaItems();
    listItems.Exclude(itVirtual);
    ShellListView->SetShVirtuaItems(listItems);

    if (!FOptions.Arguments.empty()) {
        NavigateTo(StartFolderFromArgument(FOptions.Arguments.front()));
        ShellTreeView->setFocus();
    }

    Fkind = new TFkind(this);
    Fkind->OnApply = [this] {
        SaveSettings();
        LoadSettings();
    };
    PluginSwitches.clear();

    LoadSettings();

    for (QLabel* l : {Label1, Label2, Label3, Label4, Label5})
        l->clear();
    DrowCombo->setCurrentIndex(1);
    About1->setIcon(windowIcon());
    // Once the window has its final size, bring the selected folder into view.
    QTimer::singleShot(0, this, [this] {
        if (QTreeWidgetItem* node = ShellTreeView->currentItem()) ShellTreeView->scrollToItem(node);
    });
}

void TMainForm::RestorePosition(const TSettings& s, bool fileExists) {
    TWindowPlacementInput in{};
    in.W = s.Width;
    in.H = s.Height;
    in.T = s.Top;
    in.L = s.Left;
    in.FileExists = fileExists;
    const QList<QScreen*> screens = QGuiApplication::screens();
    for (const QScreen* screen : screens) {
        const QRect r = screen->availableGeometry();
        in.MonitorWorkAreas.push_back(
            {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()});
    }
    const QScreen* primary = QGuiApplication::primaryScreen();
    if (!primary) return;
    in.VirtualWidth = primary->virtualGeometry().width();
    in.VirtualHeight = primary->virtualGeometry().height();
    in.PrimaryWidth = primary->geometry().width();
    in.PrimaryHeight = primary->geometry().height();
    const QRect wa = primary->availableGeometry();
    in.PrimaryWorkArea = {wa.left(), wa.top(), wa.left() + wa.width(), wa.top() + wa.height()};
    MonitorWorkAreas =
        in.MonitorWorkAreas.size() > 1 && fileExists ? in.MonitorWorkAreas : std::vector<TRect>{};
    const TWindowPlacement p = RestoreWindowPosition(in);
    resize(p.Width, p.Height);
    move(p.Left, p.Top);
}

void TMainForm::LoadSettings() {
    PluginSwitches.clear();
    MonitorWorkAreas.clear();
    const TIniFile ini(FSettingsPath);
    const TSettings s = ReadSettings(ini);
    RestorePosition(s, ini.FileExisted());

    for (int i = 0; i < FileKindCount; ++i)
        Fkind->FileKindBox(i)->setChecked(s.FileKinds[size_t(i)]);
    Fkind->RightEdit->setText(QString::fromStdString(s.IntervalText));
    Fkind->cbLastDir->setChecked(s.LastDir);
    if (!s.LastDirPath.empty() && s.LastDir) NavigateTo(s.LastDirPath);

    // Radio items: the last one stored as checked wins; none stored keeps the default.
    QAction* items[] = {Pics1, Pics2, Pics3, Pics4};
    int fit = -1;
    for (int i = 0; i < 4; ++i)
        if (s.Pics[size_t(i)]) fit = i;
    items[fit < 0 ? 1 : fit]->setChecked(true);

    Splitter->setSizes({std::max(s.TreeWidth, 1), std::max(s.ListWidth, 1), panelWidth});
    for (int i = 0; i < pdCount; ++i)
        Fkind->PluginDirBox(i)->setChecked(s.PluginDirs[size_t(i)]);
    PluginSwitches = s.PluginSwitches;

    ApplyMediaChecks();

    PluginExts.clear();
    SearchPlugins();
}

void TMainForm::ApplyMediaChecks() {
    const TMediaSupport media = FOptions.MediaProbe ? FOptions.MediaProbe() : ProbeMediaSupport();
    // Once disabled, a switch stays disabled for the rest of the run.
    for (int kind : DisabledMediaKinds(media)) {
        Fkind->FileKindBox(kind)->setChecked(false);
        Fkind->FileKindBox(kind)->setEnabled(false);
    }
    for (int i = 0; i < FileKindCount; ++i)
        if (!Fkind->FileKindBox(i)->isEnabled()) Fkind->FileKindBox(i)->setChecked(false);
}

void TMainForm::SearchPlugins() {
    SPIs->Clear();
    PluginExts.clear();
    TSPISearchOptions options;
    const TSPISearchOption folders[pdCount] = {spsSusieDir, spsAppDir, spsCurrentDir, spsSystemDir,
                                               spsWindowsDir};
    for (int i = 0; i < pdCount; ++i)
        if (Fkind->PluginDirBox(i)->isChecked()) options.Include(folders[i]);
    SPIs->SearchOptions = options;

    // A plug-in lacking a required export ends the search with an error; the list still shows
    // the plug-ins loaded before it, then the error goes on to the error display.
    std::exception_ptr searchError;
    try {
        SPIs->Search("*.SPI");
    } catch (...) {
        searchError = std::current_exception();
    }
    std::vector<TPluginInfo> infos;
    for (int i = 0; i < SPIs->Count(); ++i) {
        const TSPI& spi = SPIs->Items(i);
        infos.push_back({spi.FileName(), spi.Extensions().empty() ? "" : spi.Extensions().front(),
                         spi.Descriptions().empty() ? "" : spi.Descriptions().front(),
                         spi.About()});
    }
    Fkind->SetPluginRows(BuildPluginRows(infos, PluginSwitches, PluginExts));
    if (searchError) std::rethrow_exception(searchError);
}

void TMainForm::SPIsSearching(TSPIs&, const std::string& fileName, bool& accept) {
    if (!AcceptPluginFile(OsMajorVersion, fileName)) accept = false;
}

void TMainForm::SPIsSearch(TSPIs&, TSPI& aspi, bool& accept) {
    accept = dynamic_cast<TInSPI*>(&aspi) != nullptr;
}

TSettings TMainForm::CollectSettings() const {
    TSettings s;
    s.Width = width();
    s.Height = height();
    s.Top = pos().y();
    s.Left = pos().x();
    for (int i = 0; i < FileKindCount; ++i)
        s.FileKinds[size_t(i)] = Fkind->FileKindBox(i)->isChecked();
    s.IntervalText = Fkind->RightEdit->text().toStdString();
    s.LastDir = Fkind->cbLastDir->isChecked();
    s.LastDirPath = CurrentFolder();
    s.Pics = {Pics1->isChecked(), Pics2->isChecked(), Pics3->isChecked(), Pics4->isChecked()};
    const QList<int> sizes = Splitter->sizes();
    s.TreeWidth = sizes.value(0, 225);
    s.ListWidth = sizes.value(1, 361);
    for (int i = 0; i < pdCount; ++i)
        s.PluginDirs[size_t(i)] = Fkind->PluginDirBox(i)->isChecked();
    s.PluginRows = Fkind->PluginRowStates();
    return s;
}

void TMainForm::SaveSettings() {
    if (!Fkind) return; // nothing was loaded, so there is nothing to store
    const TSettings s = CollectSettings();
    // The config folder may not exist yet on a first run; a failure shows as the write error.
    QDir().mkpath(QString::fromStdString(ExtractFilePath(FSettingsPath)));
    TIniFile ini(FSettingsPath);
    WriteSettings(ini, s);
    ini.UpdateFile();
}

bool TMainForm::FormCloseQuery() {
    // Neither a node being renamed in the tree nor a drag in progress may be cut off.
    const bool canClose = ShellTreeView->CanClose() && !ShellListView->DragInProgress();
    try {
        if (canClose && FShown) {
            TIniFile ini(FSettingsPath);
            ShellListView->SaveSettings(ini, "ShellFileSetting");
            QDir().mkpath(QString::fromStdString(ExtractFilePath(FSettingsPath)));
            ini.UpdateFile();
        }
        SaveSettings();
    } catch (const std::exception& e) {
        TApplication::ShowException(QString::fromUtf8(e.what()));
        return false;
    }
    return canClose;
}

void TMainForm::closeEvent(QCloseEvent* event) {
    event->setAccepted(FormCloseQuery());
}

void TMainForm::FilekindClick() {
    Fkind->exec();
}

void TMainForm::About1Click() {
    TVForm form(this);
    form.exec();
}

void TMainForm::End1Click() {
    close();
}

} // namespace pictor
