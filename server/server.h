// The console's engine: the addresses it polls, the registry of stations that have a row, its
// reaction to the agents' datagrams and the work of its one-second timer.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "link/host_list.h"
#include "link/message_boxes.h"
#include "link/network.h"
#include "link/protocol.h"
#include "server/comeback.h"
#include "server/name_cache.h"
#include "server/notice_summary.h"
#include "server/order_signing.h"
#include "server/row_index.h"
#include "server/server_switches.h"
#include "server/station_list.h"
#include "server/time_journal.h"

namespace vorlek {

// Bits of Server::flags.
inline constexpr std::uint32_t PopulatedFlag = 0x02;
inline constexpr std::uint32_t ReselectFlag = 0x04;
inline constexpr std::uint32_t PeriodicCheckFlag = 0x08;
inline constexpr std::uint32_t TimeoutFlag = 0x10;
inline constexpr std::uint32_t WarningFlag = 0x20;

// Rows of the station list whose indices the console remembers.
inline constexpr std::size_t kSavedSelectionSize = 2048;
// Selected rows that take part in one command or query.
inline constexpr std::size_t kSelectionLimit = 1024;
// Stations collected by the start-up discovery.
inline constexpr std::size_t kDiscoveryLimit = 2048;
// Answer-watch periods a station is given before it is declared OFF.
inline constexpr std::uint32_t kAnswerAttempts = 3;

struct StationRecord {
    Ipv4 address = 0;
    StatusWord status = 0;
    std::uint32_t waitTicks = 0;
    std::uint32_t attemptsLeft = 0;
    Restart restart = Restart::None;
    // Its row shows OFF since its last report: the operator was told, or it never answered.
    bool offShown = false;
};

struct ServerPorts {
    Network& network;
    MessageBoxes& boxes;
    StationList& rows;
    ConsoleWindow& window;
    Clock& clock;
    // The names of the rows and of the notices.
    NameCache& rowNames;
};

class Server {
public:
    // ownAddress: the endpoint's address; addresses: the list read from "clients"; hellos:
    // whose Hello registers a station (/hellos=); signing: under /orders=signed, what signs every
    // Command and keeps what the console granted.
    Server(ServerPorts ports, Ipv4 ownAddress, HostList addresses,
           HelloSource hellos = HelloSource::Any, OrderSigning* signing = nullptr);

    // The start-up discovery, run by the console's start-up when "clients" gave no address: one
    // broadcast StatusRequest, then five seconds of collecting the senders of whatever arrives.
    // Replaces addresses() with the senders in the order of their first datagram.
    void Discover();

    // Registry and address array.
    void AddAddress(Ipv4 address);
    bool IsListedAddress(Ipv4 address) const;
    StationRecord* FindStation(Ipv4 address);
    StationRecord& AppendStation(Ipv4 address);
    void SendToAllStations(std::span<const std::uint8_t> bytes);

    // One read notification of the socket: receives one datagram and acts on a Hello or a
    // StatusReport. Information boxes shown here run nested calls of the handlers. Under
    // /hellos=listed a Hello from an address outside the address array is dropped unanswered.
    // While the client warning is enabled, every Hello taken is answered with it; a restart's
    // after the report that answers the restart.
    void HandleDatagram();

    // Timer 1, once a second, in this order.
    void OnTimerTick();
    void RefreshCountdowns();
    // Rewrites the rows of the stations whose kept name changed, with their new name.
    void RenameRows();
    void CountCheckTick();
    void DetectSilentStations();
    void PopulateStations();
    void CheckAllStations();

    // Timer 2, every 50 ms: applies the saved selection when ReselectFlag asks for it and no row
    // has been added or deleted since it was saved (the saved indices would then name other
    // stations), and draws the list's row changes since the last call. While the rows keep changing
    // from one call to the next (a whole room answering at once), they are drawn at every fifth
    // call only: letting a long list draw again costs more than the changes themselves.
    void Reselect();

    // The index of the first row whose address part is the address, or -1.
    int FindRow(Ipv4 address);

    // Operator commands. SendToSelected sends one Command per selected row (at most
    // kSelectionLimit, in row order) and saves the selection; it does nothing while no selection
    // has been saved. A log-off or reboot is remembered until the station's next Hello.
    // QuerySelected saves the selection and asks each selected station for its status, arming its
    // answer watch when TimeoutFlag is set and no watch of it is running.
    void SendToSelected(StatusWord word);
    void QuerySelected();
    // Sends 0xC0000000 + seconds and adds the seconds at once to each selected counting station.
    void AddTime(std::uint32_t seconds);
    // The operator changed the selection of the station list: query it and have it reselected.
    void OnSelectionChanged();

    // Options.
    std::int32_t checkPeriod() const { return checkPeriod_; }
    void setCheckPeriod(std::uint32_t seconds) {
        checkPeriod_ = static_cast<std::int32_t>(seconds);
    }
    std::uint32_t replyTimeout() const { return replyTimeout_; }
    void setReplyTimeout(std::uint32_t seconds) { replyTimeout_ = seconds; }
    std::uint32_t warningTime() const { return warningTime_; }
    void setWarningTime(std::uint32_t seconds) { warningTime_ = seconds; }
    std::uint32_t flags() const { return flags_; }
    void setFlags(std::uint32_t flags) { flags_ = flags; }
    // /notices=summary: the notices of a tick, and of the datagrams before it, wait for its end.
    void setNotices(NoticeMode notices) { notices_ = notices; }
    // /journal=: every command sent and every state change seen is recorded there.
    void setJournal(TimeJournal* journal) { journal_ = journal; }

    const HostList& addresses() const { return addresses_; }
    const std::deque<StationRecord>& stations() const { return stations_; }
    std::int32_t checkCounter() const { return checkCounter_; }
    std::uint32_t lastTick() const { return lastTick_; }
    const std::array<std::int32_t, kSavedSelectionSize>& savedSelection() const {
        return savedSelection_;
    }

private:
    // The kept name of an address, or the look-up of one never named: what a notice shows.
    std::string NameOf(Ipv4 address) { return ports_.rowNames.NoticeName(address); }
    // The kept name of an address, looked up at first sight: what a row shows.
    std::string RowName(Ipv4 address) { return ports_.rowNames.RowName(address); }
    // The list draws its row changes together: the first change holds its drawing, a reselect
    // or any box releases it.
    void HoldDrawing();
    void ReleaseDrawing();
    // Releases the drawing held since the last reselect, paced while the rows keep changing.
    void DrawHeldChanges();
    // An information box ("Vorlek Information") with the list drawn as it is.
    void ShowNotice(const std::string& text);
    // A station went OFF, came back ON or is BLOCKED: journaled, and shown in a box of its own,
    // or under /notices=summary gathered for ShowSummaries().
    void Announce(const std::string& name, Ipv4 address, std::string_view event);
    // The gathered notices, one box for each kind; nested calls leave them to the outer one.
    void ShowSummaries();
    // Journals a command word sent to a station.
    void RecordCommand(Ipv4 address, StatusWord word, bool restore = false);
    // "N/A" into the Death Timer edit, unless the operator is typing a value there.
    void ClearDeathTimer();
    // The list's row changes, each also made in rowIndex_.
    int AddRow(const std::string& text);
    void DeleteRow(int row);
    // The list's prefix search from index 0 for the text of a row just added at index added.
    int FindAddedRow(const std::string& text, int added);
    // Adds the row "%s ( %s )" of a new station and selects it.
    void AddStationRow(Ipv4 address);
    // Replaces the row at index row with the text. The new row keeps the old one's selection,
    // except the one a new station's row was added with; returns its index, found with the
    // list's prefix search.
    int ReplaceRow(int row, const std::string& text);
    // Replaces the row of the station with the given text; returns the row's old index, or -1
    // (and the list stays unchanged) when the station has no row.
    int RewriteRow(Ipv4 address, const std::string& text);
    void SelectRow(int row);
    void HandleHello(Peer from);
    // A Hello from a known station: its agent started again. Marks the station and returns true
    // when its next report is to get the stored state back.
    bool TakeRestart(StationRecord& record);
    void HandleStatusReport(Peer from, StatusWord word);
    // Rewrites the station's row for the word the report leaves it with (the stored seconds for
    // a PAUSED report; name is the BLOCKED row's); returns the row text and the row's old
    // index, or -1.
    std::pair<std::string, int> ShowReportedState(Ipv4 address, const std::string& name,
                                                  StatusWord shown, StatusWord stored);
    // 0x90000000 + warningTime to the peer, while the client warning is enabled.
    void SendWarning(Peer to);
    // Every Command goes out here. Under /orders=signed it is signed for the station's latest
    // nonce, or waits behind a StatusRequest for a station not heard from yet.
    void SendCommand(Peer to, StatusWord word);
    // Under /orders=signed: keeps the nonce of a Hello or report and sends what waited for it.
    void TakeNonce(Peer from, std::span<const std::uint8_t> datagram);
    // Under /orders=signed: the word of what the console's orders granted the station, the
    // only state it gives back.
    std::optional<StatusWord> GrantedWord(Ipv4 address);
    // Under /orders=signed an order that gives time skips a row the console selected itself.
    bool Withheld(Ipv4 address, StatusWord word) const;
    // Sends word to the selected rows as SendToSelected does; returns how many it withheld.
    std::size_t SendSelected(StatusWord word);
    // Tells the operator of rows an order skipped, once its changes are made.
    void TellWithheld(std::size_t rows);
    // Selects the row of the station for the operator's attention.
    void SelectForAttention(int row, Ipv4 address);
    void DeclareOff(StationRecord& record);
    // Reads the list's selection (at most kSelectionLimit rows) into savedSelection.
    std::vector<int> TakeSelection();
    bool IsSavedRow(int row) const;
    // The address parsed from a row's text; nullopt when the row is missing or unreadable.
    std::optional<Ipv4> RowAddress(int row);

    ServerPorts ports_;
    Ipv4 ownAddress_;
    HostList addresses_;
    HelloSource hellos_;
    NoticeMode notices_ = NoticeMode::Each;
    NoticeSummary summary_;
    bool showingSummaries_ = false;
    TimeJournal* journal_ = nullptr;
    OrderSigning* signing_;
    std::int32_t checkCounter_ = 60;
    std::int32_t checkPeriod_ = 60;
    std::uint32_t replyTimeout_ = 5;
    std::uint32_t lastTick_ = 0;
    std::uint32_t warningTime_ = 600;
    std::uint32_t flags_ = PeriodicCheckFlag | TimeoutFlag | WarningFlag;
    std::array<std::int32_t, kSavedSelectionSize> savedSelection_;
    // Records are appended and never removed; a deque keeps their addresses stable, so a record
    // found before a message box is still valid after it.
    std::deque<StationRecord> stations_;
    // The address of every row of list box 1006, in list order; the engine makes every change
    // of the list's rows, so it follows them all.
    RowIndex rowIndex_;
    // Rows added and deleted so far, and their number when the selection was last saved.
    std::uint64_t rowChanges_ = 0;
    std::uint64_t rowChangesAtSave_ = 0;
    // Stations whose row was added selected and not rewritten since: that selection is the
    // console's, and goes with the first rewrite unless the operator's selection took it over.
    std::unordered_set<Ipv4> addedSelected_;
    // Stations whose row the console selected (added, BLOCKED, at zero) since the operator last
    // changed the selection.
    std::unordered_set<Ipv4> consoleSelected_;
    bool drawingHeld_ = false;
    // Reselects that leave held changes undrawn before the next one draws them.
    int busyReselectsLeft_ = 0;
};

}  // namespace vorlek
