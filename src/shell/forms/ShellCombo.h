#pragma once

// The folder combo: the desktop, its folders and the volumes, plus the chain of ancestors of
// the selected folder, indented by level. Choosing an entry selects the folder in the linked
// tree, which shows it in the list.

#include "shell/ShellTreeLogic.h"

#include <QComboBox>
#include <QPointer>

#include <vector>

namespace pictor {

class TShellTreeView;

class TShellComboBox : public QComboBox {
public:
    // Item data roles: the indentation level, and the closed-box text.
    static constexpr int LevelRole = Qt::UserRole + 1;
    static constexpr int ClosedTextRole = Qt::UserRole + 2;
    static constexpr int Indent = 12; // pixels per level in the drop-down

    explicit TShellComboBox(QWidget* parent = nullptr);
    ~TShellComboBox() override;

    // Removes everything and lists the desktop, its folders and the volumes; selects the first
    // entry when nothing was selected.
    void Rebuild();
    // Inserts the missing ancestors of a folder and selects it (the tree is not told).
    void SelectFolder(const TItemIDList& absolute);
    // The selected entry's folder; a null list when nothing is selected.
    TItemIDList SelectedFolder() const;
    const std::vector<TComboEntry>& Entries() const { return FEntries; }
    // Sets the caption of the entry of a folder (a volume whose label changed).
    void SetItemCaption(const TItemIDList& absolute, const QString& caption);

    // Set by the tree when it is linked (with its settings).
    void SetTree(TShellTreeView* tree);
    TShellTreeView* Tree() const;
    void SetIncludeHidden(bool include) { FIncludeHidden = include; }
    bool IncludeHidden() const { return FIncludeHidden; }
    void SetShVirtuaItems(TShVirtuaItems items) { FVirtuaItems = items; }
    TShVirtuaItems ShVirtuaItems() const { return FVirtuaItems; }

    // Height of one entry: the font height times 1.2, rounded, at least 18 pixels.
    int ItemHeight() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void Fill(int selected);
    void Activated(int index);

    std::vector<TComboEntry> FEntries;
    QPointer<TShellTreeView> FTree;
    bool FIncludeHidden = true;
    TShVirtuaItems FVirtuaItems = DefaultShVirtuaItems;
    int FSilent = 0;
};

} // namespace pictor
