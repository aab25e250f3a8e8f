#pragma once
// The local address chooser: lets the operator pick one of this machine's IPv4 addresses, for
// example the interface the amplifier finder listens on. UI thread only.
#include <QDialog>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace Ui {
class TFormSelIpAddr;
}

class TFormSelIpAddr : public QDialog {
    Q_OBJECT
public:
    explicit TFormSelIpAddr(QWidget* parent = nullptr);
    ~TFormSelIpAddr() override;

    // Fills the list with this machine's addresses, the first selected. Without askAlways and with
    // fewer than two addresses there is nothing to choose: returns 1 (OK) without showing the
    // dialog. Otherwise shows it modally and returns its result (1 for OK, 0 for Cancel).
    int SelectLocalAddress(bool askAlways);
    // The chosen address (the list's text); empty when the list is empty.
    std::string SelectedAddress() const;

    // Where the addresses come from: LocalIpv4Addresses() unless replaced (tests do).
    std::function<std::vector<std::string>()> ListAddresses;

private:
    std::unique_ptr<Ui::TFormSelIpAddr> ui_;
};

// The one instance, created at start by the program's entry.
extern TFormSelIpAddr* FormSelIpAddr;
