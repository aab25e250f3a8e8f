#include "text/ParamPromptDialog.h"

#include "platform/QtPlatform.h"
#include "text/TextLineQt.h"
#include "ui_ParamPromptDialog.h"

#include <QApplication>
#include <QPushButton>
#include <QScreen>

TParamPromptDialog::TParamPromptDialog(QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::TParamPromptDialog>()) {
    ui_->setupUi(this);
    ui_->ButtonBox->button(QDialogButtonBox::Ok)->setDefault(true);
    connect(ui_->ButtonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(ui_->ButtonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

TParamPromptDialog::~TParamPromptDialog() = default;

void TParamPromptDialog::Offer(const std::string& command, const std::string& name,
                               const std::string& value) {
    // The command too: a screen reader, or an operator back from elsewhere, knows which button asks.
    ui_->LabelCommand->setText(TextLineToQt(command));
    ui_->LabelName->setText(TextLineToQt(name));
    ui_->EditValue->setText(ToQt(value));
    ui_->EditValue->selectAll();
    ui_->EditValue->setFocus();
}

std::string TParamPromptDialog::Value() const {
    return FromQt(ui_->EditValue->text());
}

bool QtParamPromptUi::AskValue(const std::string& command, const std::string& name, std::string& value) {
    TParamPromptDialog dialog(QApplication::activeWindow());
    dialog.Offer(command, name, value);
    dialog.adjustSize();
    // Centred on the screen, not on the window that asks.
    if (QScreen* screen = QApplication::primaryScreen()) {
        QRect frame = dialog.frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        dialog.move(frame.topLeft());
    }
    if (dialog.exec() != QDialog::Accepted) return false;
    value = dialog.Value();
    return true;
}

void QtParamPromptUi::ShowError(const std::string& message) {
    Boxes().Error(FromQt(QApplication::applicationDisplayName()), message);
}
