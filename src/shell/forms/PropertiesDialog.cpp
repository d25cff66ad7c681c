#include "shell/forms/PropertiesDialog.h"

#include "core/Exception.h"
#include "core/NumberFormat.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QFrame>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QMessageBox>
#include <QMimeDatabase>
#include <QStyle>
#include <QVBoxLayout>

namespace pictor {

namespace {

QString Count(std::uint64_t n) {
    return QString::fromStdString(FormatFloat("#,##0", static_cast<long double>(n)));
}

// A cut walk only knows lower limits.
QString AtLeast(QString text, bool cut) {
    if (cut) text += QStringLiteral(" 以上");
    return text;
}

QString ContentsText(std::uint64_t files, std::uint64_t folders, bool cut) {
    return AtLeast(
        QStringLiteral("ファイル %1 個、フォルダ %2 個").arg(Count(files), Count(folders)), cut);
}

QIcon IconFor(const TFileFacts& f) {
    static const QMimeDatabase db;
    const QMimeType mime = db.mimeTypeForName(f.MimeName);
    QIcon icon;
    if (mime.isValid()) {
        icon = QIcon::fromTheme(mime.iconName());
        if (icon.isNull()) icon = QIcon::fromTheme(mime.genericIconName());
    }
    return icon;
}

} // namespace

TPropertiesDialog::TPropertiesDialog(QWidget* owner, std::vector<std::string> paths,
                                     const TWalkBound& bound)
    : QDialog(owner), FProperties(TFileProperties::Gather(paths, bound)) {
    setModal(true);
    auto* top = new QVBoxLayout(this);

    // The heading: icon and name, as the sheet is about them.
    auto* head = new QHBoxLayout;
    auto* icon = new QLabel(this);
    QIcon themed = FProperties.Items.size() == 1 ? IconFor(FProperties.Items[0]) : QIcon();
    // Without an icon theme the style's own file and folder pictures stand in.
    if (themed.isNull()) {
        const bool folder =
            FProperties.Items.size() == 1 && FProperties.Items[0].Kind == TFileKind::Folder;
        themed = style()->standardIcon(folder ? QStyle::SP_DirIcon : QStyle::SP_FileIcon);
    }
    icon->setPixmap(themed.pixmap(32, 32));
    icon->setFixedSize(32, 32);
    head->addWidget(icon);
    FForm = new QFormLayout;
    FForm->setLabelAlignment(Qt::AlignLeft);
    FForm->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);

    if (FProperties.Items.size() == 1) {
        const TFileFacts& f = FProperties.Items[0];
        setWindowTitle(QStringLiteral("%1 のプロパティ").arg(QString::fromStdString(f.Name)));
        head->addWidget(new QLabel(QString::fromStdString(f.Name), this), 1);
        top->addLayout(head);
        auto* line = new QFrame(this);
        line->setFrameShape(QFrame::HLine);
        top->addWidget(line);
        BuildSingle(f);
    } else {
        setWindowTitle(QStringLiteral("プロパティ"));
        head->addWidget(
            new QLabel(QStringLiteral("%1 個のファイル").arg(FProperties.Items.size()), this), 1);
        top->addLayout(head);
        auto* line = new QFrame(this);
        line->setFrameShape(QFrame::HLine);
        top->addWidget(line);
        BuildSeveral();
    }
    top->addLayout(FForm);
    top->addStretch(1);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    top->addWidget(buttons);
    setMinimumWidth(380);
}

void TPropertiesDialog::ShowFor(QWidget* owner, std::vector<std::string> paths) {
    try {
        TPropertiesDialog dialog(owner, std::move(paths));
        dialog.exec();
    } catch (const Exception& e) {
        QMessageBox::critical(owner, QStringLiteral("プロパティ"), QString::fromUtf8(e.what()));
    }
}

void TPropertiesDialog::AddRow(const char* caption, const QString& value) {
    const QString name = QString::fromUtf8(caption);
    auto* label = new QLabel(value, this);
    label->setObjectName(name);
    // Selectable so it can be copied, never editable.
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setWordWrap(true);
    FForm->addRow(name + QStringLiteral(":"), label);
    FRows.emplace_back(name, value);
}

void TPropertiesDialog::BuildSingle(const TFileFacts& f) {
    const bool folder = f.Kind == TFileKind::Folder;
    AddRow("名前", QString::fromStdString(f.Name));
    AddRow("種類", f.TypeName);
    AddRow("場所", QString::fromStdString(f.Location));
    AddRow("サイズ", AtLeast(SizeText(f.Size), f.Cut));
    AddRow("ディスク上のサイズ", AtLeast(SizeText(f.DiskSize), f.Cut));
    if (folder) AddRow("内容", ContentsText(f.Files, f.Folders, f.Cut));
    if (f.Kind == TFileKind::Symlink) {
        QString target = QString::fromStdString(f.LinkTarget);
        if (f.LinkBroken) target += QStringLiteral(" (リンク切れ)");
        AddRow("リンク先", target);
    }
    AddRow("作成日時", f.Created ? DateTimeText(*f.Created) : QStringLiteral("不明"));
    AddRow("更新日時", DateTimeText(f.Modified));
    AddRow("アクセス日時", DateTimeText(f.Accessed));
    AddRow("所有者", QStringLiteral("%1 / %2").arg(QString::fromStdString(f.Owner),
                                                   QString::fromStdString(f.Group)));
    AddRow("アクセス権",
           QStringLiteral("%1 (%2)").arg(QString::fromStdString(PermissionText(f.Mode)),
                                         QString::fromStdString(OctalModeText(f.Mode))));
}

void TPropertiesDialog::BuildSeveral() {
    const auto& items = FProperties.Items;
    bool sameType = true, sameLocation = true;
    for (const TFileFacts& f : items) {
        sameType = sameType && f.TypeName == items[0].TypeName;
        sameLocation = sameLocation && f.Location == items[0].Location;
    }
    AddRow("名前", QStringLiteral("%1 個のファイル").arg(items.size()));
    AddRow("種類", sameType ? items[0].TypeName : QStringLiteral("複数の種類"));
    AddRow("場所",
           sameLocation ? QString::fromStdString(items[0].Location) : QStringLiteral("複数の場所"));
    AddRow("サイズ", AtLeast(SizeText(FProperties.TotalSize), FProperties.Cut));
    AddRow("ディスク上のサイズ", AtLeast(SizeText(FProperties.TotalDiskSize), FProperties.Cut));
    AddRow("内容", ContentsText(FProperties.TotalFiles, FProperties.TotalFolders, FProperties.Cut));
}

QString TPropertiesDialog::Value(const QString& caption) const {
    for (const auto& [name, value] : FRows)
        if (name == caption) return value;
    return {};
}

QStringList TPropertiesDialog::Captions() const {
    QStringList out;
    for (const auto& row : FRows)
        out << row.first;
    return out;
}

} // namespace pictor
