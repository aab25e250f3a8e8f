#include "connection/Fselipaddr.h"

#include "connection/LocalAddresses.h"
#include "platform/QtPlatform.h"
#include "ui_Fselipaddr.h"

TFormSelIpAddr* FormSelIpAddr = nullptr;

TFormSelIpAddr::TFormSelIpAddr(QWidget* parent)
    : QDialog(parent), ListAddresses(LocalIpv4Addresses), ui_(std::make_unique<Ui::TFormSelIpAddr>()) {
    ui_->setupUi(this);
    setObjectName("FormSelIpAddr");
    connect(ui_->ButtonOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(ui_->ButtonCanel, &QPushButton::clicked, this, &QDialog::reject);
    setFixedSize(QSize(203, 108).expandedTo(minimumSizeHint()));
}

TFormSelIpAddr::~TFormSelIpAddr() = default;

int TFormSelIpAddr::SelectLocalAddress(bool askAlways) {
    ui_->ComboBoxLocalAddrs->clear();
    if (ListAddresses) {
        for (const auto& address : ListAddresses())
            ui_->ComboBoxLocalAddrs->addItem(ToQt(address));
    }
    ui_->ComboBoxLocalAddrs->setCurrentIndex(ui_->ComboBoxLocalAddrs->count() > 0 ? 0 : -1);
    if (!askAlways && ui_->ComboBoxLocalAddrs->count() < 2) return QDialog::Accepted;
    return exec();
}

std::string TFormSelIpAddr::SelectedAddress() const {
    return FromQt(ui_->ComboBoxLocalAddrs->currentText());
}
