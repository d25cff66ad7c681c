// The preview panel of the main window: what the first selected file of the list shows.
#include "app/DwgPreview.h"
#include "app/PreviewLogic.h"
#include "app/forms/Application.h"
#include "app/forms/Main.h"
#include "app/forms/kind.h"
#include "core/BmpCodec.h"
#include "core/IconReader.h"
#include "core/JpegCodec.h"
#include "core/Metafile.h"
#include "core/PathRules.h"
#include "core/PictureFormats.h"
#include "shell/ShellCtrls.h"
#include "shell/forms/ShellIcons.h"
#include "shell/forms/ShellListView.h"
#include "shell/forms/ShellTree.h"

#include <QCheckBox>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMimeDatabase>
#include <QMovie>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

#include <algorithm>

namespace pictor {

void TMainForm::CreatePreviewControls() {
    bPictor = new QPushButton(QStringLiteral("Pictor"), Panel);
    bPictor->setObjectName("bPictor");
    bPictor->setGeometry(113, 197, 64, 20);
    bPictor->hide();
    Label7 = new QLabel(QString::fromUtf8(PreviewHintCaption), Panel);
    Label7->setObjectName("Label7");
    QFont small = Label7->font();
    small.setPixelSize(13);
    Label7->setFont(small);
    QPalette red = Label7->palette();
    red.setColor(QPalette::WindowText, Qt::red);
    Label7->setPalette(red);
    Label7->move(16, 220);
    Label7->adjustSize();
    Label7->hide();
    Memo = new QPlainTextEdit(Panel);
    Memo->setObjectName("Memo");
    Memo->setGeometry(2, 232, 200, 257);
    Memo->setReadOnly(true);
    Memo->setFrameStyle(QFrame::NoFrame);
    Memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QFont memoFont = Memo->font();
    memoFont.setPixelSize(11);
    Memo->setFont(memoFont);
    Memo->hide();
    WebGif = new QLabel(Panel);
    WebGif->setObjectName("WebGif");
    WebGif->setGeometry(2, 232, 200, 200);
    WebGif->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    WebGif->hide();
    Image->setCursor(Qt::ArrowCursor);
    CreateMediaControls();
    CreateFileCommands();
    connect(bPictor, &QPushButton::clicked, this,
            [this] { TApplication::Guard([this] { bPictorClick(); }); });

    // Every change of the list's selection asks for a preview; they are coalesced.
    connect(ShellListView->SelectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { SchedulePreview(); });
}

void TMainForm::SchedulePreview() {
    if (FPreviewPending) return;
    FPreviewPending = true;
    QTimer::singleShot(0, this, [this] {
        FPreviewPending = false;
        TApplication::Guard([this] { ShellListViewSelectItem(); });
    });
}

void TMainForm::ResetPreview() {
    Label5->clear();
    Label7->hide();
    bPictor->hide();
    Image->clear();
    ImageIco->clear();
    FPreviewPicture = Bitmap();
    Image->setCursor(Qt::ArrowCursor);
    Image->show();
    Memo->hide();
    Memo->clear();
    if (FGifMovie) {
        FGifMovie->stop();
        WebGif->setMovie(nullptr);
        delete FGifMovie;
        FGifMovie = nullptr;
    }
    WebGif->hide();
    CloseMedia();
}

void TMainForm::bPictorClick() {
    if (MediaPlayer && MediaPlayer->isVisible())
        OpenMediaWindow();
    else
        ImageClick();
}

void TMainForm::ImageClick() {
    // Opens the image window on the preview once that window exists; only a picture preview
    // (hand cursor) may open it.
    if (Image->cursor().shape() != Qt::PointingHandCursor) return;
}

void TMainForm::ShellListViewSelectItem() {
    if (!Fkind) return; // the switches exist once the window has been shown
    ++FPreviewCount;
    ResetPreview();
    QItemSelectionModel* selection = ShellListView->SelectionModel();
    if (!selection->hasSelection() || ShellTreeView->CurrentPath().isEmpty()) return;
    const QModelIndexList rows = selection->selectedRows();
    int first = -1;
    for (const QModelIndex& index : rows)
        if (first < 0 || index.row() < first) first = index.row();
    TShellFileItem* item = ShellListView->FileList().Item(first);
    if (!item) {
        for (QLabel* label : {Label1, Label2, Label3, Label4})
            label->clear();
        return;
    }
    Label2->setText(item->DisplayName());
    const std::string path = item->Path();
    ShowFileInfo(path);
    WebGif->hide();
    if (path.empty()) return;

    std::array<bool, 23> switches{};
    for (int i = 0; i < 23; ++i)
        switches[static_cast<std::size_t>(i)] = Fkind->FileKindBox(i)->isChecked();
    const TPreviewChoice choice = ChoosePreview(path, switches, PluginExts);
    switch (choice.Kind) {
    case TPreviewKind::Dwg:
        ShowDwg(path);
        break;
    case TPreviewKind::Jpeg:
        ShowJpeg(path);
        break;
    case TPreviewKind::Bitmap:
        ShowBitmap(path);
        break;
    case TPreviewKind::Icon:
        ShowIcon(path);
        break;
    case TPreviewKind::Metafile:
        ShowMetafile(path);
        break;
    case TPreviewKind::Text:
        ShowText(path);
        break;
    case TPreviewKind::Gif:
        ShowGif(path);
        break;
    case TPreviewKind::Plugin:
        ShowByPlugin(path);
        break;
    case TPreviewKind::Html:
        ShowHtml(path);
        break;
    case TPreviewKind::Media:
        ShowMedia(path);
        break;
    // Archive listings arrive with the archive libraries; until then the panel shows the
    // file's icon, name and type.
    case TPreviewKind::Archive:
    case TPreviewKind::None:
        break;
    }
}

void TMainForm::ShowFileInfo(const std::string& path) {
    // The icon of the file's type, as the list shows it.
    QItemSelectionModel* selection = ShellListView->SelectionModel();
    int first = -1;
    for (const QModelIndex& index : selection->selectedRows())
        if (first < 0 || index.row() < first) first = index.row();
    if (TShellFileItem* item = ShellListView->FileList().Item(first))
        ImageIco->setPixmap(
            SystemIcon(item->IconIndex(vsIcon), style(), item->OverlayIndex()).pixmap(32, 32));
    Label3->clear();
    if (ExtractFileExt(path).empty()) return;
    static const QMimeDatabase db;
    const QMimeType mime =
        db.mimeTypeForFile(QString::fromStdString(path), QMimeDatabase::MatchExtension);
    Label3->setText(mime.comment().isEmpty() ? mime.name() : mime.comment());
}

void TMainForm::ShowPicture(Bitmap picture, bool openable) {
    const int w = picture.Width(), h = picture.Height();
    Label5->setText(QString::fromStdString(DimensionText(w, h)));
    const TBoxSize box = PictureBoxSize(w, h);
    Image->resize(box.Width, box.Height);
    Image->setScaledContents(true);
    // The box is at most 200 wide: a 12 MP photo goes to the screen at that size, not whole.
    const QImage image = picture.ToQImage();
    Image->setPixmap(QPixmap::fromImage(
        box.Width < w || box.Height < h
            ? image.scaled(box.Width, box.Height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
            : image));
    FPreviewPicture = std::move(picture);
    if (openable) {
        Image->setCursor(Qt::PointingHandCursor);
        Label7->show();
        bPictor->show();
    }
}

void TMainForm::ShowBitmap(const std::string& path) {
    ShowPicture(LoadBmpFile(path), true);
}

void TMainForm::ShowJpeg(const std::string& path) {
    ShowPicture(LoadJpegFile(path), true);
}

void TMainForm::ShowIcon(const std::string& path) {
    Bitmap picture = LoadIconFile(path).Composite();
    const int w = picture.Width(), h = picture.Height();
    Label5->setText(QString::fromStdString(DimensionText(w, h)));
    // An icon keeps its own size, whatever it is.
    Image->resize(w, h);
    Image->setPixmap(QPixmap::fromImage(picture.ToQImage()));
    FPreviewPicture = std::move(picture);
}

void TMainForm::ShowMetafile(const std::string& path) {
    const TMetafile metafile = TMetafile::LoadFromFile(path);
    Bitmap picture = metafile.ToBitmap();
    ShowPicture(picture.ConvertTo24(), true);
}

void TMainForm::ShowText(const std::string& path) {
    Image->hide();
    Memo->show();
    const TTextPreview text = LoadTextPreview(path, DefaultTextPreviewLimit);
    Memo->setPlainText(text.MemoText());
}

void TMainForm::ShowGif(const std::string& path) {
    const auto size = ReadGifLogicalScreenSize(path);
    if (size) Label5->setText(QString::fromStdString(DimensionText(size->first, size->second)));
    FGifMovie = new QMovie(QString::fromStdString(path), QByteArray(), this);
    if (size) {
        const TBoxSize box = GifDisplaySize(size->first, size->second, WebGif->width());
        FGifMovie->setScaledSize(QSize(box.Width, box.Height));
    }
    WebGif->setMovie(FGifMovie);
    FGifMovie->start();
    WebGif->show();
}

void TMainForm::ShowDwg(const std::string& path) {
    TDwgPreview preview = ReadDwgPreview(path, [this](const std::string& version) {
        Label5->setText(QString::fromStdString(version));
    });
    if (preview.Picture.Empty()) return;
    // A drawing's preview keeps its own size (never wider than the box may be).
    Image->resize(std::min(preview.Picture.Width(), 200), preview.Picture.Height());
    Image->setScaledContents(true);
    Image->setPixmap(QPixmap::fromImage(preview.Picture.ToQImage()));
    FPreviewPicture = std::move(preview.Picture);
}

void TMainForm::ShowByPlugin(const std::string& path) {
    if (!IsPluginExt(ExtractFileExt(path))) {
        Image->clear();
        return;
    }
    Image->setCursor(Qt::PointingHandCursor);
    Bitmap picture = TPictureFormats::Instance().LoadPicture(path);
    if (picture.Empty()) {
        // Not a usable graphic: the file's icon stands in, without a message.
        Image->setPixmap(ImageIco->pixmap(Qt::ReturnByValue));
        return;
    }
    ShowPicture(picture.ConvertTo24(), true);
}

} // namespace pictor
