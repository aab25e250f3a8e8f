#pragma once
// The open-connection dialog: the operator picks a TCP connection, a TCP server, a local serial
// port or a GPIB adapter, and the dialog builds the connection string. The decisions are the
// core's (OpenComModel.h); this window moves them between the controls and the operator.
//
// The GPIB edit boxes with up-down buttons are QSpinBoxes named UpDownGpibDev and UpDownGpibAddr
// (they hold the position and its range 0 to 31); their edit fields are named EditGpibDev and
// EditGpibAddr. UI thread only.
#include "connection/OpenComModel.h"

#include <QDialog>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class QLabel;
class QRadioButton;
namespace Ui {
class TFormOpenCom;
}

class TFormOpenCom : public QDialog {
    Q_OBJECT
public:
    explicit TFormOpenCom(QWidget* parent = nullptr);
    ~TFormOpenCom() override;

    // Shows connection in the controls (after refreshing the port list) and the dialog modally.
    // OK: connection := the string of the checked group, true. Cancel: false, connection unchanged.
    bool EditConnection(std::string& connection);

    // What the console reads after EditConnection returns.
    bool GpibChecked() const;
    std::string GpibDriver() const; // the driver list's text; empty when none is selected
    int GpibAdapter() const;        // position of UpDownGpibDev
    int GpibAddress() const;        // position of UpDownGpibAddr
    // "Serial", "LAN" or "GPIB": the kind of the last string given to EditConnection (the operator's
    // later choice does not change it); empty until a string of a known kind was given.
    const std::string& ConnectionKindName() const { return connectionKindName_; }

    // The Search button calls this to let the operator find an amplifier: true with its address for
    // OK. The amplifier finder sets it; until then the button does nothing.
    std::function<bool(std::string& address)> SearchAmplifier;
    // Where the port list comes from: this machine's serial ports unless replaced (tests do).
    std::function<std::vector<std::string>()> ListPorts;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    OpenComState ReadState() const;
    void ShowState(const OpenComState& state);
    void ShowPorts(const OpenComState& state);
    ConGroup CheckedGroup() const;
    void Check(ConGroup group);
    // A red note under the groups while the string shown could not be read.
    void ShowUnreadable(const std::string& connection);
    void FocusCheckedGroup();
    void WatchGroup(ConGroup group, std::initializer_list<QWidget*> controls);
    bool FilterEvent(QObject* watched, QEvent* event);
    void ReportFailure(const std::string& text);

    void ButtonEnumPortsClick();
    void ButtonSelectAmpClick();
    void LabelPortClick();
    void LabelPortDblClick();
    void Label1DblClick();

    std::unique_ptr<Ui::TFormOpenCom> ui_;
    std::vector<std::pair<QRadioButton*, ConGroup>> radios_;
    QLabel* unreadableNote_ = nullptr;
    std::map<QObject*, ConGroup> groupOf_; //!< controls whose focus checks their group's radio button
    std::string connectionKindName_;
    bool labelPortDoubleClicked_ = false; //!< the release that ends a double click is no click
};

// The one instance, created at start by the program's entry.
extern TFormOpenCom* FormOpenCom;
