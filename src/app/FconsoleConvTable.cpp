// The console's conversion-table tools (Extra menu): they ask for the board and the table, borrow
// the shared editor for the point list, and move the table point by point through the TIO's
// synchronous Query while the window waits. The transfers themselves live in console/ConvTable.
#include "app/Fconsole.h"
#include "connection/Connection.h"
#include "console/ConvTable.h"
#include "log/LogView.h"
#include "platform/IntegerText.h"
#include "platform/QtPlatform.h"

#include <QApplication>

namespace {
std::string BoxTitle() {
    return FromQt(QApplication::applicationDisplayName());
}

// The event loop waits during a transfer, so the log is brought up to date after every point.
ConvTransferHost HostFor(TFormConsole& console, TIO& io) {
    ConvTransferHost host;
    host.Query = [&io](const std::string& request, std::string& reply) {
        return io.Query(request, reply, ConvReplyTimeoutMs);
    };
    host.Log = [&console](const std::string& text) { console.AddLogLine(text, LogColours::Status); };
    host.PointDone = [&console] { console.Log()->FlushNow(); };
    return host;
}

void ShowResult(ConvResult result) {
    if (result == ConvResult::TooLong) Boxes().Error(BoxTitle(), ConvTooLongBox);
    if (result == ConvResult::ReplyTimeout) Boxes().Error(BoxTitle(), ConvTimeoutBox);
}
} // namespace

// Only a serial or TCP link has a TIO to query; the operator is told plainly otherwise.
TIO* TFormConsole::ConvTableIo() {
    if (TIO* io = IsConnected() ? Io() : nullptr) return io;
    AddLogLine(ConvNeedsTioText, LogColours::Error);
    Boxes().Error(BoxTitle(), ConvNeedsTioText);
    return nullptr;
}

// The board address and the table number, each kept for the tool's next use once confirmed. A
// table number that is not an integer ends the tool with the conversion error.
bool TFormConsole::AskConvTarget(std::string& address, std::string& tableText, unsigned& table) {
    if (!Boxes().InputQuery("Target Board Address",
                            "Enter Address of target Board or leave empty for Vandrel", address))
        return false;
    if (!Boxes().InputQuery("TableNumber", "Enter Tablenumber", tableText)) return false;
    table = static_cast<unsigned>(StrToInt(tableText));
    return true;
}

void TFormConsole::miUploadConvTabClick() {
    if (!ConvTableIo()) return;
    unsigned table = 0;
    if (!AskConvTarget(convUpAddress_, convUpTable_, table)) return;
    if (!EditInEditor("Enter adc-dbm100-List for Table " + convUpTable_, "")) return;
    // The link may have ended while the editor was open.
    TIO* io = ConvTableIo();
    if (!io) return;
    ShowResult(UploadConvTable(HostFor(*this, *io), ConvCommandPrefix(convUpAddress_, true), table,
                               editor_.Lines()));
}

void TFormConsole::miDnloadConvTabClick() {
    if (!ConvTableIo()) return;
    unsigned table = 0;
    if (!AskConvTarget(convDnAddress_, convDnTable_, table)) return;
    TIO* io = ConvTableIo();
    if (!io) return;
    std::string list;
    const ConvResult result =
        DownloadConvTable(HostFor(*this, *io), ConvCommandPrefix(convDnAddress_, false), table, list);
    ShowResult(result);
    if (result == ConvResult::Done) EditInEditor(ConvListCaption(table), list);
}
