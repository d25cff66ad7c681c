#include "shell/forms/ShellAdditns.h"

#include <QEvent>
#include <QFontMetrics>
#include <QLabel>
#include <QPointer>

#include <cmath>

namespace pictor {

TShellStatusBar::TShellStatusBar(QWidget* parent) : QStatusBar(parent) {
    setObjectName(QStringLiteral("ShellStatusBar"));
    // Long hints arrive as status tips; QStatusBar shows them as a temporary message across the
    // whole bar, hiding the panels, and brings the panels back (with their texts) when the
    // message is cleared, which is exactly the hint behaviour wanted here.
    setSizeGripEnabled(true);
    AdjustToFont();
}

void TShellStatusBar::SetPanels(const std::vector<int>& widths) {
    for (QLabel* label : FPanels) {
        removeWidget(label);
        delete label;
    }
    FPanels.clear();
    for (std::size_t i = 0; i < widths.size(); ++i) {
        auto* label = new QLabel(this);
        label->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        label->setTextFormat(Qt::PlainText);
        const bool last = i + 1 == widths.size();
        if (last)
            label->setMinimumWidth(widths[i]);
        else
            label->setFixedWidth(widths[i]);
        addWidget(label, last ? 1 : 0);
        FPanels.push_back(label);
    }
    PlaceEmbedded();
}

QString TShellStatusBar::PanelText(int index) const {
    return index >= 0 && index < PanelCount() ? FPanels[static_cast<std::size_t>(index)]->text()
                                              : QString();
}

void TShellStatusBar::SetPanelText(int index, const QString& text) {
    if (index >= 0 && index < PanelCount()) FPanels[static_cast<std::size_t>(index)]->setText(text);
}

int TShellStatusBar::PanelWidth(int index) const {
    return index >= 0 && index < PanelCount() ? FPanels[static_cast<std::size_t>(index)]->width()
                                              : 0;
}

void TShellStatusBar::SetEmbedded(QWidget* control) {
    FEmbedded = control;
    if (control) {
        control->setParent(this);
        // Forget it when it goes, so the bar never places a destroyed control.
        connect(control, &QObject::destroyed, this, [this, control] {
            if (FEmbedded == control) FEmbedded = nullptr;
        });
        control->show();
    }
    PlaceEmbedded();
}

int TShellStatusBar::HeightForFont(const QFont& font) {
    const qreal points = font.pointSizeF() > 0 ? font.pointSizeF() : font.pixelSize() * 72.0 / 96.0;
    if (points > 9) return QFontMetrics(font).height() + 6;
    return 23;
}

void TShellStatusBar::AdjustToFont() {
    setFixedHeight(HeightForFont(font()));
    PlaceEmbedded();
}

void TShellStatusBar::PlaceEmbedded() {
    if (!FEmbedded) return;
    const int firstWidth = FPanels.empty() ? width() : FPanels.front()->width();
    FEmbedded->setGeometry(1, 2, std::max(firstWidth - 2, 0), std::max(height() - 2, 0));
    FEmbedded->raise();
}

void TShellStatusBar::changeEvent(QEvent* event) {
    QStatusBar::changeEvent(event);
    if (event->type() == QEvent::FontChange) AdjustToFont();
}

void TShellStatusBar::resizeEvent(QResizeEvent* event) {
    QStatusBar::resizeEvent(event);
    PlaceEmbedded();
}

} // namespace pictor
