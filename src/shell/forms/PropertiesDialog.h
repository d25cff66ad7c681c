#pragma once

// The properties of the selected files and folders: a read-only sheet of what the file
// system knows about them, closed with OK. Nothing in it can change the files.

#include "shell/FileProperties.h"

#include <QDialog>

#include <string>
#include <utility>
#include <vector>

class QFormLayout;

namespace pictor {

class TPropertiesDialog : public QDialog {
public:
    // Gathers the facts at once (a folder walk stops at the bound); raises what
    // TFileProperties::Gather raises for a missing path.
    TPropertiesDialog(QWidget* owner, std::vector<std::string> paths, const TWalkBound& bound = {});

    // Shows the dialog modally; a path that cannot be read is reported in a message box.
    static void ShowFor(QWidget* owner, std::vector<std::string> paths);

    const TFileProperties& Properties() const { return FProperties; }
    // The text shown for a caption such as "サイズ"; a null string when the row is absent.
    QString Value(const QString& caption) const;
    // Captions in the order shown.
    QStringList Captions() const;

private:
    void AddRow(const char* caption, const QString& value);
    void BuildSingle(const TFileFacts& f);
    void BuildSeveral();

    TFileProperties FProperties;
    QFormLayout* FForm = nullptr;
    std::vector<std::pair<QString, QString>> FRows;
};

} // namespace pictor
