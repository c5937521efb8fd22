#include "console/win32/console_app.h"

#include <cstdlib>

#include "console/client_list_file.h"
#include "console/resource.h"
#include "link/host_list.h"
#include "link/win32/command_line_win32.h"

namespace vorlek {

namespace {

// The socket's receive buffer holds every answer of a full room (kSavedSelectionSize stations)
// to one status check while the console is still busy with the check's own tick.
constexpr int kReceiveBufferBytes = 2 * 1024 * 1024;

constexpr const char* kFatalCaption = "Vorlek Server";

ServerSwitches SwitchesOrEnd(MessageBoxes& boxes) {
    ServerSwitches switches;
    if (const auto fault = ReadServerSwitches(CommandLineWords(), switches)) {
        boxes.Show(*fault, kFatalCaption, BoxIcon::Stop);
        std::exit(0);
    }
    return switches;
}

std::unique_ptr<ConsoleSigning> SigningOrEnd(MessageBoxes& boxes, ConsoleOrders orders) {
    if (orders != ConsoleOrders::Signed) {
        return nullptr;
    }
    std::string refusal;
    auto signing = ConsoleSigning::Open(refusal);
    if (!signing) {
        boxes.Show(refusal, kFatalCaption, BoxIcon::Stop);
        std::exit(0);
    }
    return signing;
}

}  // namespace

ConsoleApp::ConsoleApp()
    : switches_(SwitchesOrEnd(boxes_)),
      signing_(SigningOrEnd(boxes_, switches_.orders)),
      endpoint_(sockets_, boxes_),
      network_(sockets_.socket()) {
    if (endpoint_.isReady() == 0) {
        boxes_.Show("Network error", kFatalCaption, BoxIcon::Stop);
        std::exit(0);
    }
    // Without the larger buffer the room is still served, only with answers lost in a burst.
    const int receiveBuffer = kReceiveBufferBytes;
    setsockopt(sockets_.socket(), SOL_SOCKET, SO_RCVBUF,
               reinterpret_cast<const char*>(&receiveBuffer), sizeof receiveBuffer);
    const Ipv4 own = endpoint_.getLocalAddress()->address;
    if (switches_.journal) {
        if (const auto refusal = JournalWriter::Refusal(*switches_.journal)) {
            boxes_.Show(*refusal, kFatalCaption, BoxIcon::Stop);
            std::exit(0);
        }
        journal_.emplace(*switches_.journal, own);
    }
    server_.emplace(ServerPorts{sends_, boxes_, rows_, window_, clock_, rowNames_}, own,
                    ReadHostList(kClientListFile, own, network_), switches_.hellos,
                    signing_ ? &signing_->signing() : nullptr);
    server_->setNotices(switches_.notices);
    server_->setJournal(journal_ ? &*journal_ : nullptr);
    if (server_->addresses().Empty()) {
        server_->Discover();
    }
}

ConsoleApp::~ConsoleApp() {
    Shutdown();
}

void ConsoleApp::setTopWindow(HWND window) {
    topWindow_ = window;
    refresher_.Announce(window, kNamesMessage);
}

void ConsoleApp::TakeRefreshedNames() {
    for (const RefreshedName& refreshed : refresher_.TakeResults()) {
        rowNames_.Refreshed(refreshed.address, refreshed.name);
    }
}

void ConsoleApp::setMainDialog(HWND dialog) {
    mainDialog_ = dialog;
    window_.Attach(dialog);
    rows_.Attach(dialog != nullptr ? GetDlgItem(dialog, IDC_STATION_LIST) : nullptr);
}

void ConsoleApp::Shutdown() {
    // Handlers that are still inside a message box finish on a console without windows.
    refresher_.Stop();
    rows_.Detach();
    window_.Detach();
    mainDialog_ = nullptr;
    if (topWindow_ != nullptr) {
        const HWND window = topWindow_;
        topWindow_ = nullptr;
        DestroyWindow(window);
    }
    sends_.Stop();
    endpoint_.Close();
}

}  // namespace vorlek
