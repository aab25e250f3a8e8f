#pragma once
// The amplifier finder: while shown it broadcasts the discovery hello every 500 ms from a UDP socket
// on a chosen local address, lists every amplifier that answers (one row per MAC), refreshes rows
// that answer again and drops rows silent for more than 2 s. The operator picks one to connect to,
// or pings it, opens its web page or a telnet session from the context menu. The protocol and the
// list are the core's (Discovery.h, FinderLaunch.h), and so are the sockets (DiscoverySocket.h),
// which this window reads when they are readable.
//
// UI thread only: the rows, SelectedAmp and the local address need no lock.
#include "finder/Discovery.h"
#include "finder/DiscoverySocket.h"
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
    // The row last copied out: the finder's result. Empty until the first copy.
    const AmpInfo& SelectedAmp() const { return selectedAmp_; }
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
    // takes SelectedAmp's Ip as its TCP host.
    void AttachToOpenCom(TFormOpenCom& openCom);

    // The hello timer's handler: while shown, one hello and the removal of silent rows.
    void TimerHelloTimer();

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
    void FormActivate();
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
    QTimer* TimerHello;
    QIcon rowImage_; //!< The first (and only) image of the row image list.

    AmpList amps_;
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
