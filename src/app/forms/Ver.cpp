#include "app/forms/Ver.h"

#include "app/forms/Main.h"

#include <QApplication>
#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QTimer>

#include <algorithm>

namespace pictor {

namespace {

QLabel* MakeLabel(QWidget* parent, const char* name, int left, int top) {
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->move(left, top);
    return label;
}

// Labels size themselves to their text.
void SetAutoText(QLabel* label, const std::string& text) {
    label->setText(QString::fromStdString(text));
    label->adjustSize();
}

// A figure of a large machine may not fit from its place to the dialog's edge: it then ends at
// the edge instead of being cut off.
void KeepInside(QLabel* label, int left, int right) {
    const int x = std::max(8, std::min(left, right - label->width()));
    label->move(x, label->y());
}

QProgressBar* MakeBar(QWidget* parent, const char* name, int top) {
    auto* bar = new QProgressBar(parent);
    bar->setObjectName(name);
    bar->setGeometry(8, top, 353, 15);
    bar->setTextVisible(false);
    return bar;
}

void SetBar(QProgressBar* bar, std::uint64_t total, std::uint64_t avail) {
    const TProgressRange range = MemoryProgress(total, avail);
    bar->setRange(0, range.Maximum);
    bar->setValue(range.Position);
}

} // namespace

TVForm::TVForm(QWidget* owner, std::function<TMemoryStatus()> memoryReader)
    : QDialog(owner), OpenUrl([](const QUrl& url) { QDesktopServices::openUrl(url); }),
      FMemoryReader(std::move(memoryReader)) {
    setObjectName("VForm");
    setWindowTitle("バージョン情報");
    // A dialog border with only the system menu.
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setModal(true);
    setFixedSize(369, 229);

    Image1 = new QLabel(this);
    Image1->setObjectName("Image1");
    Image1->setGeometry(8, 16, 41, 41);
    Image1->setAlignment(Qt::AlignCenter);

    Label1 = MakeLabel(this, "Label1", 56, 8);
    QFont nameFont = Label1->font();
    nameFont.setBold(true);
    nameFont.setPixelSize(20);
    Label1->setFont(nameFont);
    Label2 = MakeLabel(this, "Label2", 56, 32);
    QFont versionFont = Label2->font();
    versionFont.setPixelSize(16);
    Label2->setFont(versionFont);
    Label5 = MakeLabel(this, "Label5", 56, 56);
    Label6 = MakeLabel(this, "Label6", 8, 80);
    Label7 = MakeLabel(this, "Label7", 232, 80);
    ProgressBar1 = MakeBar(this, "ProgressBar1", 96);
    Label8 = MakeLabel(this, "Label8", 8, 128);
    Label9 = MakeLabel(this, "Label9", 232, 128);
    ProgressBar2 = MakeBar(this, "ProgressBar2", 144);

    // The address looks like a link: no frame, the dialog's colour, blue underlined text.
    URLEdit = new QLineEdit(QString::fromUtf8(HomePageUrl), this);
    URLEdit->setObjectName("URLEdit");
    URLEdit->setGeometry(8, 168, 241, 17);
    URLEdit->setReadOnly(true);
    URLEdit->setFrame(false);
    URLEdit->setFocusPolicy(Qt::NoFocus);
    URLEdit->setCursor(Qt::PointingHandCursor);
    QFont linkFont = URLEdit->font();
    linkFont.setPixelSize(13);
    linkFont.setUnderline(true);
    URLEdit->setFont(linkFont);
    QPalette linkPalette = URLEdit->palette();
    linkPalette.setColor(QPalette::Base, palette().color(QPalette::Button));
    linkPalette.setColor(QPalette::Text, Qt::blue);
    URLEdit->setPalette(linkPalette);
    URLEdit->setAutoFillBackground(true);
    URLEdit->installEventFilter(this);

    Label3 = MakeLabel(this, "Label3", 8, 192);
    Label4 = MakeLabel(this, "Label4", 8, 208);

    Button1 = new QPushButton("OK", this);
    Button1->setObjectName("Button1");
    Button1->setGeometry(276, 185, 75, 25);
    Button1->setDefault(true);
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });

    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setInterval(1000);
    connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });

    // Design texts, kept when the program carries no version.
    const TAboutTexts design = DesignAboutTexts();
    SetAutoText(Label2, design.Version);
    SetAutoText(Label3, design.Credit1);
    SetAutoText(Label4, design.Credit2);

    FormCreate();
}

void TVForm::FormCreate() {
    const TAboutTexts texts = AboutTexts(ProgramPath(), ProgramVersion());
    SetAutoText(Label1, texts.Name);
    SetAutoText(Label2, texts.Version);
    SetAutoText(Label3, texts.Credit1);
    SetAutoText(Label4, texts.Credit2);

    // The main window read the OS version when it was first shown; before that (or without
    // a main window) read it here.
    TOsVersion os;
    const auto* mainForm = dynamic_cast<const TMainForm*>(parentWidget());
    if (mainForm &&
        (mainForm->OsMajorVersion || mainForm->OsMinorVersion || mainForm->OsBuildNumber))
        os = {mainForm->OsMajorVersion, mainForm->OsMinorVersion, mainForm->OsBuildNumber};
    else
        os = ReadOsVersion();
    SetAutoText(Label5, OsVersionText(ReadOsName(), os));

    QIcon icon = QApplication::windowIcon();
    if (icon.isNull())
        icon = QIcon::fromTheme("image-x-generic", style()->standardIcon(QStyle::SP_ComputerIcon));
    Image1->setPixmap(icon.pixmap(32, 32));

    ListUpMemory();
    Timer1->start();
}

void TVForm::ListUpMemory() {
    const TMemoryStatus s = FMemoryReader ? FMemoryReader() : TMemoryStatus{};
    SetAutoText(Label6, PhysicalTotalText(s.TotalPhys));
    SetAutoText(Label7, MemoryUsedText(s.TotalPhys, s.AvailPhys));
    SetAutoText(Label8, VirtualTotalText(s.TotalVirtual));
    SetAutoText(Label9, MemoryUsedText(s.TotalVirtual, s.AvailVirtual));
    KeepInside(Label7, 232, 361);
    KeepInside(Label9, 232, 361);
    SetBar(ProgressBar1, s.TotalPhys, s.AvailPhys);
    SetBar(ProgressBar2, s.TotalVirtual, s.AvailVirtual);
}

void TVForm::Timer1Timer() {
    ListUpMemory();
}

void TVForm::Button1Click() {
    Timer1->stop();
    accept();
}

void TVForm::URLEditClick() {
    if (OpenUrl) OpenUrl(QUrl(URLEdit->text()));
}

void TVForm::showEvent(QShowEvent* event) {
    // Centred on the main window.
    if (QWidget* owner = parentWidget()) {
        const QRect area = owner->window()->frameGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
    QDialog::showEvent(event);
}

void TVForm::done(int result) {
    // However the dialog closes (OK, Escape, the close button), the refresh ends with it.
    Timer1->stop();
    QDialog::done(result);
}

bool TVForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == URLEdit && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        URLEditClick();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace pictor
