#include "app/forms/RightEdit.h"

#include <QRegularExpressionValidator>

namespace pictor {

TRightEdit::TRightEdit(QWidget* parent) : QLineEdit(parent) {
    setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    // Only ASCII digits: a validator refuses other keys and pasted text alike.
    setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), this));
    setInputMethodHints(Qt::ImhDigitsOnly);
}

} // namespace pictor
