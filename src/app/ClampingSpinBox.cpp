#include "app/ClampingSpinBox.h"

QValidator::State TClampingSpinBox::validate(QString& input, int& pos) const {
    // Still being typed: the value is clamped when the typing ends, not refused key by key.
    if (AboveMaximum(input)) return QValidator::Intermediate;
    return QSpinBox::validate(input, pos);
}

void TClampingSpinBox::fixup(QString& input) const {
    if (AboveMaximum(input)) {
        input = textFromValue(maximum());
        return;
    }
    QSpinBox::fixup(input);
}

bool TClampingSpinBox::AboveMaximum(const QString& input) const {
    const QString digits = input.trimmed();
    if (digits.isEmpty()) return false;
    for (QChar c : digits) {
        if (!c.isDigit()) return false;
    }
    // Too many digits for an int is above any maximum too.
    bool ok = false;
    const qlonglong value = digits.toLongLong(&ok);
    return !ok || value > maximum();
}
