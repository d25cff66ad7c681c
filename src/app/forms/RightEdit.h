#pragma once

#include <QLineEdit>

namespace pictor {

// The numeric field of the dialogs: a single-line edit that shows its text right-aligned and
// takes digits only. The text may become empty; the dialogs reading it handle that.
class TRightEdit : public QLineEdit {
public:
    explicit TRightEdit(QWidget* parent = nullptr);
};

} // namespace pictor
