#include "app/forms/kind.h"

#include "app/forms/Application.h"
#include "app/forms/RightEdit.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QResizeEvent>
#include <QTreeWidget>

namespace pictor {

namespace {
// Design size; controls anchored to the bottom or right keep their distance from it.
constexpr int designWidth = 555;
constexpr int designHeight = 455;

QCheckBox* MakeBox(QWidget* parent, const QString& caption, int left, int top, int width) {
    auto* box = new QCheckBox(caption, parent);
    box->setGeometry(left, top, width, 17);
    return box;
}
} // namespace

TFkind::TFkind(QWidget* mainForm) : QDialog(mainForm) {
    setObjectName("Fkind");
    setWindowTitle("表示選択");
    // Only the system menu: no minimise or maximise buttons.
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setModal(true);
    resize(designWidth, designHeight);
    setMinimumSize(555, 387);

    GroupBox1 = new QGroupBox("表示ファイル", this);
    GroupBox1->setGeometry(8, 8, 409, 153);
    // Five columns of switches, read top to bottom.
    struct Place {
        QCheckBox** field;
        const char* key;
        int left, top;
    };
    const Place places[] = {
        {&cbdwg, "dwg", 8, 24},     {&cbjpg, "jpg", 8, 48},   {&cbjpeg, "jpeg", 8, 72},
        {&cbbmp, "bmp", 8, 96},     {&cbdib, "dib", 8, 120},  {&cbico, "ico", 88, 24},
        {&cbwmf, "wmf", 88, 48},    {&cbemf, "emf", 88, 72},  {&cbtxt, "txt", 88, 96},
        {&cbini, "ini", 88, 120},   {&cblog, "log", 168, 24}, {&cbgif, "gif", 168, 48},
        {&cbhtml, "html", 168, 72}, {&cbhtm, "htm", 168, 96}, {&cblzh, "lzh", 248, 24},
        {&cbzip, "zip", 248, 48},   {&cbcab, "cab", 248, 72}, {&cbtar, "tar", 248, 96},
        {&cbavi, "avi", 328, 24},   {&cbwav, "wav", 328, 48}, {&cbmid, "mid", 328, 72},
        {&cbmpg, "mpg", 328, 96},   {&cbmp3, "mp3", 328, 120}};
    for (const Place& p : places) {
        *p.field = MakeBox(GroupBox1, QString(".") + p.key, p.left, p.top, 72);
        (*p.field)->setObjectName(QString("cb") + p.key);
        FKindBoxes[size_t(FileKindIndex(p.key))] = *p.field;
    }
    const auto defaults = TSettings::DefaultFileKinds();
    for (int i = 0; i < FileKindCount; ++i)
        FKindBoxes[size_t(i)]->setChecked(defaults[size_t(i)]);

    GroupBox2 = new QGroupBox("表示時間設定", this);
    GroupBox2->setGeometry(424, 8, 113, 153);
    auto* intervalLabel = new QLabel("Interval", GroupBox2);
    intervalLabel->setGeometry(16, 24, 80, 16);
    RightEdit = new TRightEdit(GroupBox2);
    RightEdit->setObjectName("RightEdit");
    RightEdit->setGeometry(16, 48, 81, 22);
    RightEdit->setMaxLength(5);
    RightEdit->setText("2000");
    auto* rangeLabel = new QLabel("500～10000ms", GroupBox2);
    rangeLabel->setGeometry(16, 80, 90, 16);

    cbLastDir = MakeBox(this, "前回使用時のフォルダをデフォルトにする。", 16, 176, 400);
    cbLastDir->setObjectName("cbLastDir");
    Label3 = new QLabel("Plug-in 設定", this);
    QFont bold = Label3->font();
    bold.setBold(true);
    Label3->setFont(bold);
    Label3->setGeometry(16, 198, 200, 18);

    GroupBox3 = new QGroupBox("検索ディレクトリ", this);
    GroupBox3->setGeometry(8, 228, 129, 153);
    const char* dirCaptions[pdCount] = {"Susie.exe Dir", "Pictor.exe Dir", "Current　Dir",
                                        "System Dir", "Windows Dir"};
    QCheckBox** dirFields[pdCount] = {&cbsusdir, &cbviwdir, &cbcurdir, &cbsysdir, &cbwindir};
    const char* dirNames[pdCount] = {"cbsusdir", "cbviwdir", "cbcurdir", "cbsysdir", "cbwindir"};
    for (int i = 0; i < pdCount; ++i) {
        *dirFields[i] = MakeBox(GroupBox3, dirCaptions[i], 8, 24 + 24 * i, 113);
        (*dirFields[i])->setObjectName(dirNames[i]);
        FDirBoxes[size_t(i)] = *dirFields[i];
    }
    cbsusdir->setChecked(true);
    cbviwdir->setChecked(true);

    ListView = new QTreeWidget(this);
    ListView->setObjectName("ListView");
    ListView->setGeometry(145, 232, 392, 149);
    ListView->setRootIsDecorated(false);
    ListView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView->setHeaderLabels({"Path", "Ext", "Format", "About"});
    ListView->header()->setStretchLastSection(true);
    ListView->setColumnWidth(0, 190);
    ListView->header()->setMinimumSectionSize(24);
    ListView->setColumnWidth(1, 50);
    ListView->setColumnWidth(2, 70);

    Button1 = new QPushButton("設　　定", this);
    Button3 = new QPushButton("再　検　索", this);
    Button2 = new QPushButton("キャンセル", this);
    Button1->setObjectName("Button1");
    Button2->setObjectName("Button2");
    Button3->setObjectName("Button3");
    Button1->setGeometry(296, 400, 75, 25);
    Button3->setGeometry(379, 400, 75, 25);
    Button2->setGeometry(462, 400, 75, 25);
    connect(Button1, &QPushButton::clicked, this,
            [this] { TApplication::Guard([this] { Button1Click(); }); });
    connect(Button2, &QPushButton::clicked, this,
            [this] { TApplication::Guard([this] { Button2Click(); }); });
    connect(Button3, &QPushButton::clicked, this,
            [this] { TApplication::Guard([this] { Button3Click(); }); });
}

bool TFkind::FileKindEnabled(const std::string& key) const {
    const int i = FileKindIndex(key);
    return i >= 0 && FKindBoxes[size_t(i)]->isChecked();
}

void TFkind::SetPluginRows(const std::vector<TPluginRow>& rows) {
    ListView->setUpdatesEnabled(false);
    ListView->clear();
    for (const TPluginRow& row : rows) {
        auto* item = new QTreeWidgetItem(ListView);
        item->setText(0, QString::fromStdString(row.Info.FileName));
        item->setText(1, QString::fromStdString(row.Info.FirstPattern));
        item->setText(2, QString::fromStdString(row.Info.FirstDescription));
        item->setText(3, QString::fromStdString(row.Info.About));
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        item->setCheckState(0, row.Checked ? Qt::Checked : Qt::Unchecked);
    }
    ListView->setUpdatesEnabled(true);
}

std::vector<std::pair<std::string, bool>> TFkind::PluginRowStates() const {
    std::vector<std::pair<std::string, bool>> states;
    for (int i = 0; i < ListView->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = ListView->topLevelItem(i);
        states.emplace_back(item->text(0).toStdString(), item->checkState(0) == Qt::Checked);
    }
    return states;
}

void TFkind::Apply() {
    // Raises the conversion error for an empty field; nothing is saved then.
    RightEdit->setText(QString::fromStdString(BoundInterval(RightEdit->text().toStdString())));
    if (OnApply) OnApply();
}

void TFkind::Button1Click() {
    Apply();
    Changed = true;
    accept();
}

void TFkind::Button2Click() {
    reject();
}

void TFkind::Button3Click() {
    Apply();
    Changed = true;
}

void TFkind::showEvent(QShowEvent* event) {
    Changed = false;
    if (QWidget* owner = parentWidget()) {
        const QRect r = owner->frameGeometry();
        move(r.center() - QPoint(width() / 2, height() / 2));
    }
    QDialog::showEvent(event);
}

void TFkind::resizeEvent(QResizeEvent* event) {
    const int dx = width() - designWidth;
    const int dy = height() - designHeight;
    Label3->move(16, 198 + dy);
    GroupBox3->move(8, 228 + dy);
    ListView->setGeometry(145, 232 + dy, 392 + dx, 149);
    Button1->move(296 + dx, 400 + dy);
    Button3->move(379 + dx, 400 + dy);
    Button2->move(462 + dx, 400 + dy);
    QDialog::resizeEvent(event);
}

void TFkind::done(int result) {
    QDialog::done(result);
    if (Changed && OnRefreshBrowser) OnRefreshBrowser();
}

} // namespace pictor
