#pragma once
// A spin box that takes a typed number above its maximum and shows the maximum in its place.
// QSpinBox refuses the keystroke that would pass the maximum, so 10000 typed into a box that
// ends at 5000 became 1000 without a sign; here it becomes 5000, visibly, when the typing ends
// (Enter or leaving the box).
#include <QSpinBox>

class TClampingSpinBox : public QSpinBox {
public:
    using QSpinBox::QSpinBox;

protected:
    QValidator::State validate(QString& input, int& pos) const override;
    void fixup(QString& input) const override;

private:
    // The typed digits as a number above the maximum; false for anything else.
    bool AboveMaximum(const QString& input) const;
};
