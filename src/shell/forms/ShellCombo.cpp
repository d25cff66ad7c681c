#include "shell/forms/ShellCombo.h"

#include "shell/ShellImages.h"
#include "shell/forms/ShellTree.h"

#include <QAbstractItemView>
#include <QPainter>
#include <QStylePainter>
#include <QStyledItemDelegate>

#include <cmath>

namespace pictor {

namespace {

// Draws an entry of the drop-down: small icon and name, indented by level.
class TShellComboDelegate : public QStyledItemDelegate {
public:
    explicit TShellComboDelegate(TShellComboBox* combo)
        : QStyledItemDelegate(combo), FCombo(combo) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem opt = option;
        initStyleOption(&opt, index);
        const int indent = index.data(TShellComboBox::LevelRole).toInt() * TShellComboBox::Indent;
        painter->save();
        if (opt.state & QStyle::State_Selected)
            painter->fillRect(opt.rect, opt.palette.brush(QPalette::Highlight));
        QRect r = opt.rect.adjusted(indent + 2, 0, 0, 0);
        const int iconSize = 16;
        const QIcon icon = qvariant_cast<QIcon>(index.data(Qt::DecorationRole));
        icon.paint(painter,
                   QRect(r.left(), r.top() + (r.height() - iconSize) / 2, iconSize, iconSize));
        r.setLeft(r.left() + iconSize + 4);
        painter->setPen(opt.palette.color(
            opt.state & QStyle::State_Selected ? QPalette::HighlightedText : QPalette::Text));
        painter->drawText(r, Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine,
                          index.data(Qt::DisplayRole).toString());
        painter->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize s = QStyledItemDelegate::sizeHint(option, index);
        s.setWidth(s.width() +
                   index.data(TShellComboBox::LevelRole).toInt() * TShellComboBox::Indent);
        s.setHeight(FCombo->ItemHeight());
        return s;
    }

private:
    TShellComboBox* FCombo;
};

} // namespace

TShellComboBox::TShellComboBox(QWidget* parent) : QComboBox(parent) {
    setItemDelegate(new TShellComboDelegate(this));
    setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    connect(this, &QComboBox::activated, this, &TShellComboBox::Activated);
}

TShellComboBox::~TShellComboBox() = default;

int TShellComboBox::ItemHeight() const {
    return std::max(18, static_cast<int>(std::lround(fontMetrics().height() * 1.2)));
}

void TShellComboBox::SetTree(TShellTreeView* tree) {
    FTree = tree;
}

TShellTreeView* TShellComboBox::Tree() const {
    return FTree.data();
}

void TShellComboBox::Rebuild() {
    FEntries = ComboBaseEntries(FIncludeHidden, FVirtuaItems);
    Fill(FEntries.empty() ? -1 : 0);
}

void TShellComboBox::SelectFolder(const TItemIDList& absolute) {
    if (absolute.IsNull()) return;
    if (FEntries.empty()) FEntries = ComboBaseEntries(FIncludeHidden, FVirtuaItems);
    const std::size_t before = FEntries.size();
    auto compare = [](const TItemIDList& a, const TItemIDList& b) -> std::optional<int> {
        auto folder = TShellFolder::Bind(a.Parent());
        if (!folder) return std::nullopt;
        return folder->CompareIDs(ColName, a.LastID(), b.LastID());
    };
    const int index = InsertComboChain(FEntries, absolute, compare);
    if (index < 0) return;
    if (FEntries.size() != before || count() != static_cast<int>(FEntries.size()))
        Fill(index);
    else {
        ++FSilent;
        setCurrentIndex(index);
        --FSilent;
    }
}

TItemIDList TShellComboBox::SelectedFolder() const {
    const int i = currentIndex();
    if (i < 0 || i >= static_cast<int>(FEntries.size())) return TItemIDList::Null();
    return FEntries[static_cast<std::size_t>(i)].Absolute;
}

void TShellComboBox::SetItemCaption(const TItemIDList& absolute, const QString& caption) {
    for (std::size_t i = 0; i < FEntries.size(); ++i)
        if (FEntries[i].Absolute == absolute) {
            setItemText(static_cast<int>(i), caption);
            if (GetPathFromIDList(absolute).empty())
                setItemData(static_cast<int>(i), caption, ClosedTextRole);
        }
}

void TShellComboBox::Fill(int selected) {
    ++FSilent;
    clear();
    for (const TComboEntry& e : FEntries) {
        TShellFolderItem item(e.Absolute, e.Absolute.LastID());
        const QIcon icon = TShellTreeView::IconOf(item.ImageIndex(), style());
        addItem(icon, item.DisplayName());
        const int row = count() - 1;
        setItemData(row, e.Level, LevelRole);
        setItemData(row, ComboClosedText(e.Absolute), ClosedTextRole);
    }
    setCurrentIndex(selected);
    --FSilent;
}

void TShellComboBox::Activated(int index) {
    if (FSilent || index < 0 || index >= static_cast<int>(FEntries.size())) return;
    if (FTree) FTree->SelectFolder(FEntries[static_cast<std::size_t>(index)].Absolute);
}

void TShellComboBox::paintEvent(QPaintEvent*) {
    // The closed box shows a file-system folder's full path instead of its name.
    QStylePainter painter(this);
    painter.setPen(palette().color(QPalette::Text));
    QStyleOptionComboBox opt;
    initStyleOption(&opt);
    if (currentIndex() >= 0) {
        const QString closed = itemData(currentIndex(), ClosedTextRole).toString();
        if (!closed.isEmpty()) opt.currentText = closed;
    }
    painter.drawComplexControl(QStyle::CC_ComboBox, opt);
    painter.drawControl(QStyle::CE_ComboBoxLabel, opt);
}

} // namespace pictor
