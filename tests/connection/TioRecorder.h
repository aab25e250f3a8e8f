#pragma once
// Records what a TIO notifies, for the TIO tests.
#include "connection/Connection.h"

#include <string>
#include <vector>

struct TioRecorder {
    std::vector<std::string> rx;
    std::vector<std::string> tx;
    std::vector<std::string> status;
    int connected = 0;
    int disconnected = 0;

    // Wires all four notifications and the console's framing (lines end at LF, '#' is ordinary).
    void Attach(TIO& io) {
        io.EndChar = '\n';
        io.StartCharEnabled = false;
        io.SetOnRxLine([this](const std::string& line, TIO*) { rx.push_back(line); });
        io.SetOnTxEcho([this](const std::string& text) { tx.push_back(text); });
        io.SetOnConnected([this] { ++connected; });
        io.SetOnDisconnected([this] { ++disconnected; });
        io.SetOnStatus([this](const std::string& text) { status.push_back(text); });
    }
};
