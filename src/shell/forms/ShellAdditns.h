#pragma once

// The status bar of the shell browser: panels whose texts the main window writes, the long
// hint of the control under the mouse across the whole bar, and a height that follows the font.

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

} // namespace pictor
