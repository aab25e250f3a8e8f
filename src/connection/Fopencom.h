#pragma once
// The open-connection dialog: the operator picks a TCP connection, a TCP server, a local serial
// port or a GPIB adapter, and the dialog builds the connection string. The decisions are the
// core's (OpenComModel.h); this window moves them between the controls and the operator.
//
// The GPIB edit boxes with up-down buttons are QSpinBoxes named UpDownGpibDev and UpDownGpibAddr
// (they hold the position and its range 0 to 31); their edit fields are named EditGpibDev and
// EditGpibAddr. UI thread only.
#include "connection/OpenComModel.h"

#include "connection/LineEnds.h"
#include "connection/SerialPortList.h"

#include <QDialog>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class QComboBox;
class QSpinBox;
class QGridLayout;
class QLabel;
class QLineEdit;
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
    // OK: connection := the string of the checked group, or of the VISA resource typed into its
    // field when one is there and can be read, true. Cancel: false, connection unchanged.
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
    // OK, which becomes the TCP host, or with a VISA resource, which goes into the VISA field. The
    // amplifier finder sets it; until then the button does nothing.
    std::function<bool(std::string& address)> SearchAmplifier;
    // Where the port list comes from: this machine's serial ports, with their descriptions and the
    // stable names of USB adapters, unless replaced (tests do). Called on a worker thread when a
    // port appears or goes while the dialog is open, so it must not touch the dialog.
    std::function<std::vector<SerialPortInfo>()> ListPorts;
    // The line ends of each kind of connection that has lines of its own ("com", "tcp",
    // "tcpsrv"), as the dialog shows and the operator leaves them; a kind not in it has the
    // default (LF both ways). The console fills it from the settings and stores it after OK; the
    // dialog changes it only on OK.
    std::map<std::string, LineEnds> LineEndsByKind;
    // The line ends the connection given to EditConnection was last opened with, shown for its
    // kind in place of the kind's (and taken for the kind on OK, as a choice would be); none for
    // a connection that has none of its own. The console sets it before each EditConnection.
    std::optional<LineEnds> ConnectionLineEnds;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::map<std::string, std::string> portDescriptions_; //!< port name: what the system knows of it
    bool rereading_ = false;                              //!< a read after a change is under way
    OpenComState ReadState() const;
    void ShowState(const OpenComState& state);
    void ShowPorts(const OpenComState& state);
    // Reads the ports; the names offered, their descriptions kept for ShowPorts.
    std::vector<std::string> ReadPorts();
    std::vector<std::string> TakePorts(const std::vector<SerialPortInfo>& ports);
    // /dev changed: the ports are read again off this thread and shown, the typed name kept.
    void DevicesChanged();
    // The line-end choosers: a row above the buttons, following the checked kind.
    void AddLineEndRow();
    // A field that takes a VISA resource and says the connection it means; the kinds the dialog
    // has controls for show there too.
    void AddVisaRow(QGridLayout* form, int row);
    void ReadVisa();
    void ShowLineEnds();
    void TakeLineEnds();
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
    QComboBox* txEnd_ = nullptr;           //!< "ComboBoxTxEnd"
    QComboBox* rxEnd_ = nullptr;           //!< "ComboBoxRxEnd"
    QSpinBox* idle_ = nullptr;             //!< "SpinIdleMs"
    QLineEdit* visa_ = nullptr;            //!< "EditVisa"
    QLabel* visaMeaning_ = nullptr;        //!< "LabelVisaMeaning"
    std::string visaConnection_;           //!< What visa_ holds, read; empty when nothing readable
    bool showingLineEnds_ = false;         //!< The choosers are being set from editedLineEnds_.
    std::map<QObject*, ConGroup> groupOf_; //!< controls whose focus checks their group's radio button
    std::string connectionKindName_;
    bool labelPortDoubleClicked_ = false; //!< the release that ends a double click is no click
    //! What the choosers hold while the dialog is shown; LineEndsByKind takes it on OK.
    std::map<std::string, LineEnds> editedLineEnds_;
};

// The one instance, created at start by the program's entry.
extern TFormOpenCom* FormOpenCom;
