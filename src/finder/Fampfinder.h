#pragma once
// The amplifier finder: while shown it broadcasts the discovery hello every 500 ms from a UDP socket
// on a chosen local address, lists every amplifier that answers (one row per MAC), refreshes rows
// that answer again and drops rows silent for more than 2 s. The operator picks one to connect to,
// or pings it, opens its web page or a telnet session from the context menu. The protocol and the
// list are the core's (Discovery.h, FinderLaunch.h), and so are the sockets (DiscoverySocket.h),
// which this window reads when they are readable.
//
// Beside the hello, further searches (InstrumentSearch.h) fill the same list: the VXI-11 broadcast,
// typed addresses, and whatever AddSearch gives (mDNS). Each kind has a check box, remembered in the
// settings; their rows are the core's InstrumentList, fed through a FindingQueue that this window
// drains in batches on a timer, so a burst of hundreds of findings never holds the window.
//
// UI thread only: the rows, SelectedAmp and the local address need no lock.
#include "finder/Discovery.h"
#include "finder/DiscoverySocket.h"
#include "finder/InstrumentList.h"
#include "platform/Shell.h"

#include <QDialog>
#include <QIcon>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

class QAction;
class QCheckBox;
class QMenu;
class QSocketNotifier;
class QTimer;
class QTreeWidgetItem;
class TFormOpenCom;
namespace Ui {
class TFormAmpFinder;
}

class TFormAmpFinder : public QDialog {
    Q_OBJECT
public:
    explicit TFormAmpFinder(QWidget* parent = nullptr);
    ~TFormAmpFinder() override;

    // Shows the finder modally; whatever the result, CopySelection runs when it closes. Returns 1 for
    // OK, 2 for Cancel.
    int ShowFinderModal();
    // The row last copied out: the finder's result. Empty until the first copy. A row of another
    // search than the hello gives its address as Ip, its name as Name and its key as RowKey.
    const AmpInfo& SelectedAmp() const { return selectedAmp_; }
    // The VISA resource of the row last copied out; empty for a hello row (whose Ip goes into the
    // connection dialog's TCP host, its port staying) and a typed address nothing answered at.
    const std::string& SelectedVisa() const { return selectedVisa_; }
    // No selected row: false, SelectedAmp unchanged. Otherwise SelectedAmp := the row's record, true.
    bool CopySelection();

    // Replaces the sockets by new ones on address, port 8001. A failure is not told: the list then
    // stays empty.
    void StartListener(const std::string& address);
    // One datagram's text: adds or refreshes a row; a text that is no reply is ignored.
    void OnDiscoveryDatagram(const std::string& text);
    // Removes the rows silent for more than maxAgeMs.
    void RemoveStaleEntries(uint32_t maxAgeMs);
    // The local address the receiver is bound to; empty until the operator chose one.
    const std::string& LocalAddress() const { return localAddress_; }

    // Makes the open-connection dialog's "Search..." button open this finder; on OK that dialog
    // takes SelectedVisa as its VISA resource, or, without one, SelectedAmp's Ip as its TCP host.
    void AttachToOpenCom(TFormOpenCom& openCom);

    // The hello timer's handler: while shown, one hello and the removal of silent rows.
    void TimerHelloTimer();

    // The switchable kinds of search beside the hello.
    enum class SearchKind { Vxi11, Mdns };
    // Adds a search of kind to the list of those that run while the finder is shown and its kind's
    // check box is on; shows that check box. The VXI-11 broadcast is there from the start.
    void AddSearch(SearchKind kind, std::unique_ptr<InstrumentSearch> search);
    // Adds a typed address: listed and probed at once, remembered, probed again at each opening.
    void AddAddress(const std::string& address);
    // Moves what the searches found into the list, at most maxRows findings (the drain timer's
    // handler; tests and benchmarks call it too).
    void DrainFindings(size_t maxRows);
    size_t InstrumentRowCount() const { return instruments_.Size(); }

    // Datagrams received while open (tests and benchmarks wait on it).
    size_t DatagramsSeen() const { return datagramsSeen_; }
    size_t RowCount() const { return amps_.Size(); }

    // Replaceable for tests: the tick, the local address chooser (true with the address for OK),
    // and the programs the menu starts.
    std::function<uint32_t()> Now;
    std::function<bool(std::string& address)> ChooseLocalAddress;
    std::function<ShellResult(const std::vector<std::string>& argv)> RunTerminalProgram;
    std::function<void(const std::string& url)> OpenUrl;

protected:
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct SearchSwitch {
        SearchKind kind;
        const char* setting; //!< The settings value of its check box.
        const char* how;     //!< The beginning of its rows' `how`.
        bool onByDefault;
        std::vector<std::unique_ptr<InstrumentSearch>> searches;
    };

    void FormActivate();
    void ReadSearchSettings();
    QCheckBox* SwitchBox(SearchKind kind) const;
    void SwitchToggled(SearchSwitch& which, bool on);
    void HelloToggled(bool on);
    void StartSearches(const std::string& address);
    void StartSwitch(SearchSwitch& which);
    void StopSearches();
    void StartTypedAddresses(const std::vector<std::string>& hosts);
    void RemoveInstrumentRows(const std::string& howPrefix);
    void ShowInstrumentRow(size_t index, bool added);
    bool SwitchedOff(const std::string& how) const;
    void ButtonAddClick();
    void WriteTypedAddresses();
    // The typed address whose row is selected; empty for any other row.
    std::string SelectedTypedAddress() const;
    void MenuItemRemoveClick();
    void StopListener();
    void ReadDatagrams(int fd);
    void AddRow(const AmpInfo& info);
    void SelectNewestRow();
    void ListView1ContextPopup(const QPoint& position);
    void MenuItemPingClick();
    void MenuItemWebClick();
    void MenuItemTelnetClick();
    void ReportFailure(const std::string& text);

    std::unique_ptr<Ui::TFormAmpFinder> ui_;
    QMenu* PopupMenu1;
    QAction* MenuItemPing;
    QAction* MenuItemWeb;
    QAction* MenuItemTelnet;
    QAction* MenuItemRemove; //!< Forgets a typed address.
    QTimer* TimerHello;
    QIcon rowImage_; //!< The first (and only) image of the row image list.

    AmpList amps_;
    InstrumentList instruments_;
    FindingQueue findings_;
    std::vector<SearchSwitch> switches_;
    std::vector<std::unique_ptr<InstrumentSearch>> typedSearches_; //!< One per batch of typed addresses.
    std::vector<std::string> typedAddresses_;
    std::unordered_map<std::string, QTreeWidgetItem*> instrumentItems_; //!< The row of each key.
    std::string searchesAddress_; //!< Where the searches run; empty while they do not.
    QTimer* TimerFindings;
    std::string selectedVisa_;
    std::unordered_map<std::string, QTreeWidgetItem*> items_; //!< The row of each RowKey.
    AmpInfo selectedAmp_;
    std::string localAddress_;
    DiscoverySocket socket_;
    std::vector<QSocketNotifier*> notifiers_; //!< One per descriptor of socket_, while listening.
    bool listening_ = false;                  //!< StartListener ran since the dialog was last hidden.
    std::string newestRow_;                   //!< RowKey of the row added last, to be selected (empty: done).
    bool askedThisShowing_ = false;           //!< The chooser is offered once per opening.
    bool activating_ = false;
    size_t datagramsSeen_ = 0;
};

// The one instance, created at start by the program's entry.
extern TFormAmpFinder* FormAmpFinder;
