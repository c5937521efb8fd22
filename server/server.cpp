#include "server/server.h"

#include <algorithm>
#include <chrono>

#include "server/station_rows.h"

namespace vorlek {

namespace {

// Receive buffer of the datagram handler and of the discovery.
constexpr std::size_t kReceiveBufferSize = 512;
// How long the discovery waits on the socket before it looks at the clock again.
constexpr std::chrono::milliseconds kDiscoveryPoll{100};
// After taking answers, the discovery lets the rest of a room's answers gather in the socket's
// buffer for this long, so that it takes them together instead of waking for each one.
constexpr std::chrono::milliseconds kDiscoveryGather{20};
// The discovery collects the senders until the clock has passed its start by this many seconds.
constexpr std::uint32_t kDiscoverySeconds = 5;

constexpr std::string_view kInformationCaption = "Vorlek Information";
constexpr std::string_view kServerCaption = "Vorlek Server";

// While the rows keep changing, one reselect in this many draws them: about four times a second.
constexpr int kBusyRedrawPeriod = 5;

}  // namespace

Server::Server(ServerPorts ports, Ipv4 ownAddress, HostList addresses, HelloSource hellos,
               OrderSigning* signing)
    : ports_(ports),
      ownAddress_(ownAddress),
      addresses_(std::move(addresses)),
      hellos_(hellos),
      signing_(signing),
      lastTick_(ports.clock.Now()) {
    savedSelection_.fill(-1);
}

void Server::Discover() {
    ports_.network.SendTo(StationPeer(kBroadcastAddress), BuildStatusRequest());
    std::vector<Ipv4> found;
    std::array<std::uint8_t, kReceiveBufferSize> buffer;
    const std::uint32_t start = ports_.clock.Now();
    // Unsigned difference: a clock set back during the discovery ends it instead of prolonging it.
    const auto inWindow = [&] { return ports_.clock.Now() - start <= kDiscoverySeconds; };
    while (inWindow()) {
        if (!ports_.network.WaitReadable(kDiscoveryPoll)) {
            continue;
        }
        // Everything that is waiting is taken before the next wait: a room answers at once.
        bool took = false;
        for (auto received = ports_.network.ReceiveFrom(buffer); received && inWindow();
             received = ports_.network.ReceiveFrom(buffer)) {
            took = true;
            TakeNonce(received->from,
                      std::span(buffer).first(std::min(received->size, buffer.size())));
            const Ipv4 sender = received->from.address;
            if (sender != ownAddress_ && found.size() < kDiscoveryLimit &&
                std::find(found.begin(), found.end(), sender) == found.end()) {
                found.push_back(sender);
            }
        }
        if (took && inWindow()) {
            ports_.network.Pause(kDiscoveryGather);
        }
    }
    addresses_ = HostList(std::move(found));
}

void Server::AddAddress(Ipv4 address) {
    addresses_.Append(address);
}

bool Server::IsListedAddress(Ipv4 address) const {
    return addresses_.Contains(address);
}

StationRecord* Server::FindStation(Ipv4 address) {
    const auto found =
        std::find_if(stations_.begin(), stations_.end(),
                     [address](const StationRecord& r) { return r.address == address; });
    return found == stations_.end() ? nullptr : &*found;
}

StationRecord& Server::AppendStation(Ipv4 address) {
    StationRecord& record = stations_.emplace_back();
    record.address = address;
    return record;
}

void Server::SendToAllStations(std::span<const std::uint8_t> bytes) {
    const auto datagram = ReadDatagram(bytes);
    const bool command = datagram &&
                         datagram->type == static_cast<std::uint8_t>(DatagramType::Command) &&
                         datagram->word;
    for (const Ipv4 address : addresses_.Addresses()) {
        if (command) {
            // Signed under /orders=signed, as every other command.
            SendCommand(StationPeer(address), *datagram->word);
            RecordCommand(address, *datagram->word);
        } else {
            ports_.network.SendTo(StationPeer(address), bytes);
        }
    }
}

void Server::HoldDrawing() {
    if (!drawingHeld_) {
        drawingHeld_ = true;
        ports_.rows.HoldDrawing();
    }
}

void Server::ReleaseDrawing() {
    if (drawingHeld_) {
        drawingHeld_ = false;
        ports_.rows.ReleaseDrawing();
    }
}

void Server::ShowNotice(const std::string& text) {
    // The operator reads the box beside the list as it is now.
    ReleaseDrawing();
    ports_.boxes.Show(text, kInformationCaption, BoxIcon::Information);
}

void Server::Announce(const std::string& name, Ipv4 address, std::string_view event) {
    if (journal_ != nullptr) {
        journal_->Record({name, address, event, std::nullopt});
    }
    if (notices_ == NoticeMode::Summary) {
        summary_.Add(event, name, address);
    } else {
        ShowNotice(NoticeText(name, address, event));
    }
}

void Server::ShowSummaries() {
    if (showingSummaries_) {
        return;
    }
    showingSummaries_ = true;
    while (const auto text = summary_.TakeNext()) {
        ShowNotice(*text);
        ports_.window.BringToForeground();
    }
    showingSummaries_ = false;
}

void Server::RecordCommand(Ipv4 address, StatusWord word, bool restore) {
    if (journal_ == nullptr) {
        return;
    }
    if (const auto event = CommandEvent(word)) {
        journal_->Record(
            {NameOf(address), address, restore ? kRestoreEvent : event->name, event->seconds});
    }
}

void Server::ClearDeathTimer() {
    // A report must not write into a value half typed: the next keystroke would land beside
    // "N/A" and make another time of it.
    if (!ports_.window.DeathTimerTyped()) {
        ports_.window.SetDeathTimerText(std::string(kUnknownName));
    }
}

int Server::AddRow(const std::string& text) {
    HoldDrawing();
    const int row = ports_.rows.Add(text);
    rowIndex_.Added(row, text);
    ++rowChanges_;
    return row;
}

void Server::DeleteRow(int row) {
    HoldDrawing();
    ports_.rows.Delete(row);
    rowIndex_.Deleted(row);
    ++rowChanges_;
}

int Server::FindAddedRow(const std::string& text, int added) {
    // The search itself costs a pass over the list; where no other row can begin with the text,
    // its answer is the index the list gave the row.
    if (added >= 0 && rowIndex_.IsOnlyRowWithPrefix(text)) {
        return added;
    }
    return ports_.rows.FindPrefix(0, text);
}

void Server::AddStationRow(Ipv4 address) {
    const std::string text = RowText(RowName(address), address);
    SelectRow(FindAddedRow(text, AddRow(text)));
    addedSelected_.insert(address);
    consoleSelected_.insert(address);
}

void Server::SelectForAttention(int row, Ipv4 address) {
    SelectRow(row);
    consoleSelected_.insert(address);
}

void Server::SelectRow(int row) {
    // Index -1 would select every row of a list box.
    if (row >= 0) {
        ports_.rows.SetSelected(row, true);
    }
}

int Server::ReplaceRow(int row, const std::string& text) {
    // The operator's selection, and the one the console gives a row on purpose, stays with the
    // station wherever its row sorts in; the one a new station's row was added with does not.
    const auto address = RowIndex::AddressOf(text);
    const bool consoles = address && addedSelected_.erase(*address) > 0;
    const bool selected = ports_.rows.IsSelected(row) && !consoles;
    DeleteRow(row);
    const int added = FindAddedRow(text, AddRow(text));
    if (selected) {
        SelectRow(added);
    }
    return added;
}

int Server::RewriteRow(Ipv4 address, const std::string& text) {
    const int row = FindRow(address);
    if (row >= 0) {
        ReplaceRow(row, text);
    }
    return row;
}

void Server::HandleDatagram() {
    std::array<std::uint8_t, kReceiveBufferSize> buffer;
    // One receive per notification, whatever is waiting: an empty datagram taken by the
    // receive is what lets the socket layer notify again.
    const auto received = ports_.network.ReceiveFrom(buffer);
    if (!received) {
        return;
    }
    const auto bytes = std::span(buffer).first(std::min(received->size, buffer.size()));
    const auto datagram = ReadDatagram(bytes);
    if (!datagram) {
        return;
    }
    TakeNonce(received->from, bytes);
    if (datagram->type == static_cast<std::uint8_t>(DatagramType::Hello)) {
        HandleHello(received->from);
    } else if (datagram->type == static_cast<std::uint8_t>(DatagramType::Status) &&
               datagram->word) {
        HandleStatusReport(received->from, *datagram->word);
    }
}

void Server::HandleHello(Peer from) {
    if (hellos_ == HelloSource::Listed && !IsListedAddress(from.address)) {
        return;
    }
    // An agent starts again at every logon: its address is listed once, however often it does.
    if (!IsListedAddress(from.address)) {
        AddAddress(from.address);
    }
    if (StationRecord* known = FindStation(from.address)) {
        if (TakeRestart(*known)) {
            // An agent answers every command with its report: its warning follows the comeback,
            // so that only the report asked for here meets the mark.
            ports_.network.SendTo(from, BuildStatusRequest());
            return;
        }
    } else {
        if (stations_.empty()) {
            savedSelection_[0] = 0;
        }
        AppendStation(from.address);
        AddStationRow(from.address);
        ports_.network.SendTo(from, BuildStatusRequest());
    }
    // A starting agent has no warning threshold.
    SendWarning(from);
}

bool Server::TakeRestart(StationRecord& record) {
    if (record.restart == Restart::Ordered || record.restart == Restart::OrderedDone) {
        record.restart = Restart::OrderedDone;
        return false;
    }
    if ((record.status & ~OffMark) == 0) {
        return false;
    }
    // Its row stays as it is: the operator is told nothing of a restart that gives the state back.
    record.status |= OffMark;
    record.restart = Restart::Unordered;
    return true;
}

void Server::SendWarning(Peer to) {
    if ((flags_ & WarningFlag) != 0) {
        SendCommand(to, kWarningBase + warningTime_);
        RecordCommand(to.address, kWarningBase + warningTime_);
    }
}

void Server::SendCommand(Peer to, StatusWord word) {
    if (signing_ == nullptr) {
        ports_.network.SendTo(to, BuildCommand(word));
        return;
    }
    if (!signing_->HasHeard(to.address)) {
        if (signing_->Wait(to.address, word)) {
            ports_.network.SendTo(to, BuildStatusRequest());
        }
        return;
    }
    if (const auto signedCommand = signing_->Sign(to.address, word)) {
        ports_.network.SendTo(to, *signedCommand);
    }
}

void Server::TakeNonce(Peer from, std::span<const std::uint8_t> datagram) {
    if (signing_ == nullptr) {
        return;
    }
    if (const auto nonce = NonceOf(datagram)) {
        for (const StatusWord word : signing_->Heard(from.address, *nonce)) {
            SendCommand(StationPeer(from.address), word);
        }
    }
}

std::optional<StatusWord> Server::GrantedWord(Ipv4 address) {
    if (signing_ == nullptr) {
        return std::nullopt;
    }
    return RestoreWord(signing_->GrantNow(address));
}

bool Server::Withheld(Ipv4 address, StatusWord word) const {
    return signing_ != nullptr && GivesTime(word) && consoleSelected_.contains(address);
}

void Server::HandleStatusReport(Peer from, StatusWord word) {
    const Ipv4 address = from.address;
    if (!IsListedAddress(address)) {
        return;
    }
    StationRecord* record = FindStation(address);
    if (record == nullptr) {
        record = &AppendStation(address);
        if (record == &stations_.front()) {
            savedSelection_[0] = 0;
        }
        AddStationRow(address);
    }
    record->attemptsLeft = 0;
    record->waitTicks = 0;
    const bool restarted = record->restart == Restart::Unordered;
    if (signing_ != nullptr) {
        signing_->Reported(address, word);
    }
    const ReportAnswer answer =
        AnswerReport(record->status, word, record->restart, record->offShown, GrantedWord(address));
    // Word and row are in place before any box: a report handled while one is open is newer,
    // and stands.
    record->status = answer.stored;
    record->offShown = false;
    if (record->restart != Restart::Ordered) {
        record->restart = Restart::None;
    }
    if (answer.command) {
        SendCommand(from, *answer.command);
        RecordCommand(address, *answer.command, true);
    }
    if (restarted) {
        SendWarning(from);
    }
    const bool blocked = answer.shown == ModeWord(StationState::BLOCKED);
    if (blocked && !answer.announceBlocked) {
        return;
    }
    // One look-up serves the notices and the BLOCKED row.
    const std::string name = blocked || answer.announceOn ? NameOf(address) : std::string();
    const auto [text, oldRow] = ShowReportedState(address, name, answer.shown, answer.stored);
    if (answer.announceOn) {
        Announce(name, address, "ON");
        ports_.window.BringToForeground();
    }
    if (answer.announceBlocked) {
        Announce(name, address, "BLOCKED");
        if (oldRow >= 0) {
            // Rows may have moved while the box was open.
            SelectForAttention(ports_.rows.FindPrefix(0, text), address);
        }
        ports_.window.BringToForeground();
    }
}

std::pair<std::string, int> Server::ShowReportedState(Ipv4 address, const std::string& name,
                                                      StatusWord shown, StatusWord stored) {
    std::string state;
    switch (shown) {
        case ModeWord(StationState::UNLIMITED):
            ClearDeathTimer();
            state = kUnlimitedState;
            break;
        case ModeWord(StationState::PAUSED):
            state = PausedState(stored);
            break;
        case ModeWord(StationState::AVAILABLE):
            ClearDeathTimer();
            state = kAvailableState;
            break;
        case ModeWord(StationState::BLOCKED): {
            ClearDeathTimer();
            const std::string text = RowText(name, address, kBlockedState);
            return {text, RewriteRow(address, text)};
        }
        default:
            state = shown >= PausedFlag ? PausedState(shown & kCountingLimit) : NormalState(shown);
            break;
    }
    const std::string text = RowText(RowName(address), address, state);
    return {text, RewriteRow(address, text)};
}

void Server::OnTimerTick() {
    ports_.rowNames.NewTick();
    RefreshCountdowns();
    RenameRows();
    CountCheckTick();
    DetectSilentStations();
    if ((flags_ & PopulatedFlag) == 0) {
        PopulateStations();
    }
    ShowSummaries();
}

void Server::RefreshCountdowns() {
    const std::uint32_t now = ports_.clock.Now();
    // A clock set back gives a huge unsigned difference: no time has passed.
    const std::uint32_t sinceLast = now - lastTick_;
    const std::uint32_t elapsed = sinceLast >= 0x80000000u ? 0 : sinceLast;
    lastTick_ = now;
    for (StationRecord& record : stations_) {
        if (record.status > kCountingLimit) {
            continue;
        }
        const int oldRow = FindRow(record.address);
        if (oldRow < 0) {
            continue;
        }
        record.status = record.status <= elapsed ? 0 : record.status - elapsed;
        const std::string text =
            RowText(RowName(record.address), record.address, NormalState(record.status));
        const int newRow = ReplaceRow(oldRow, text);
        if (record.status == 0) {
            SelectForAttention(newRow, record.address);
            QuerySelected();
        }
    }
}

void Server::RenameRows() {
    for (const Ipv4 address : ports_.rowNames.TakeRenamed()) {
        const int row = FindRow(address);
        const auto text = row >= 0 ? ports_.rows.Text(row) : std::nullopt;
        if (!text) {
            continue;
        }
        // The state follows the address; a row that the countdown already rewrote has the name.
        const std::string addressPart = " ( " + FormatDotted(address) + " )";
        const std::size_t state = text->find(addressPart);
        const std::string renamed =
            RowText(RowName(address), address,
                    state == std::string::npos
                        ? std::string_view{}
                        : std::string_view(*text).substr(state + addressPart.size()));
        if (renamed != *text) {
            ReplaceRow(row, renamed);
        }
    }
}

void Server::CountCheckTick() {
    if ((flags_ & PeriodicCheckFlag) == 0) {
        return;
    }
    checkCounter_ = static_cast<std::int32_t>(static_cast<std::uint32_t>(checkCounter_) + 1);
    // A period below 1 means no periodic check; it is never a divisor.
    if (checkPeriod_ >= 1 && checkCounter_ % checkPeriod_ == 0) {
        CheckAllStations();
    }
}

void Server::CheckAllStations() {
    const auto request = BuildStatusRequest();
    for (const Ipv4 address : addresses_.Addresses()) {
        ports_.network.SendTo(StationPeer(address), request);
        if ((flags_ & TimeoutFlag) != 0) {
            // A running watch is left to end: re-armed by every check, it would never end when
            // three timeouts are longer than the period.
            StationRecord* record = FindStation(address);
            if (record != nullptr && record->attemptsLeft == 0) {
                record->attemptsLeft = kAnswerAttempts;
                record->waitTicks = 0;
            }
        }
    }
}

void Server::DetectSilentStations() {
    // By index: a box below lets nested calls append records.
    for (std::size_t i = 0; i < stations_.size(); ++i) {
        StationRecord& record = stations_[i];
        if (record.attemptsLeft == 0) {
            continue;
        }
        ++record.waitTicks;
        // A timeout of 0 waits for ever; one lowered below a running wait ends that period.
        if (replyTimeout_ == 0 || record.waitTicks < replyTimeout_) {
            continue;
        }
        record.waitTicks = 0;
        if (--record.attemptsLeft == 0) {
            DeclareOff(record);
        }
    }
}

void Server::DeclareOff(StationRecord& record) {
    const Ipv4 address = record.address;
    const std::string name = NameOf(address);
    const bool wasOff = record.offShown;
    // Marked and shown OFF before the box: a report handled while it is open finds the station
    // OFF and brings it back, instead of being marked OFF after it.
    const std::string text = RowText(name, address, OffState(record.status));
    record.status |= OffMark;
    record.offShown = true;
    if (const int row = FindRow(address); row >= 0) {
        ReplaceRow(row, text);
    } else {
        AddRow(text);
    }
    if (!wasOff) {
        Announce(name, address, "OFF");
        ports_.window.BringToForeground();
    }
}

void Server::PopulateStations() {
    flags_ |= PopulatedFlag;
    ports_.rowNames.Expect(addresses_.Addresses());
    for (const Ipv4 address : addresses_.Addresses()) {
        StationRecord& record = AppendStation(address);
        record.status |= OffMark;
        record.offShown = true;
        AddRow(RowText(RowName(address), address, OffState(0)));
    }
    CheckAllStations();
    // Agents start without a warning threshold.
    for (const Ipv4 address : addresses_.Addresses()) {
        SendWarning(StationPeer(address));
    }
}

void Server::Reselect() {
    if ((flags_ & ReselectFlag) != 0) {
        flags_ &= ~ReselectFlag;
        // Once a row has been added or deleted, the saved indices may name other stations; the
        // rows still selected keep their selection by themselves.
        if (rowChanges_ == rowChangesAtSave_) {
            for (const std::int32_t row : savedSelection_) {
                if (row < 0) {
                    break;
                }
                ports_.rows.SetSelected(row, true);
            }
        }
    }
    DrawHeldChanges();
}

void Server::DrawHeldChanges() {
    if (!drawingHeld_) {
        // A quiet period: the next change is drawn at the first reselect after it.
        busyReselectsLeft_ = 0;
        return;
    }
    if (busyReselectsLeft_ > 0) {
        --busyReselectsLeft_;
        return;
    }
    ReleaseDrawing();
    busyReselectsLeft_ = kBusyRedrawPeriod - 1;
}

int Server::FindRow(Ipv4 address) {
    return rowIndex_.Find(address);
}

std::optional<Ipv4> Server::RowAddress(int row) {
    const auto text = ports_.rows.Text(row);
    if (!text) {
        return std::nullopt;
    }
    const auto word = RowAddressWord(*text);
    if (!word) {
        return std::nullopt;
    }
    // An unreadable address would otherwise become the broadcast address 255.255.255.255.
    const Ipv4 address = InetAddr(*word);
    if (address == kInetNone) {
        return std::nullopt;
    }
    return address;
}

std::vector<int> Server::TakeSelection() {
    std::vector<int> selected = ports_.rows.SelectedIndices(kSelectionLimit);
    if (selected.size() > kSelectionLimit) {
        selected.resize(kSelectionLimit);
    }
    savedSelection_.fill(-1);
    std::copy(selected.begin(), selected.end(), savedSelection_.begin());
    rowChangesAtSave_ = rowChanges_;
    return selected;
}

bool Server::IsSavedRow(int row) const {
    for (const std::int32_t saved : savedSelection_) {
        if (saved < 0) {
            return false;
        }
        if (saved == row) {
            return true;
        }
    }
    return false;
}

void Server::SendToSelected(StatusWord word) {
    TellWithheld(SendSelected(word));
}

std::size_t Server::SendSelected(StatusWord word) {
    if (savedSelection_[0] < 0) {
        return 0;
    }
    const StatusWord sent = OperatorWord(word);
    // The report right after these commands still carries the state: the restart they cause is
    // known by the order, not by the stored word.
    const bool restarts =
        sent == ModeWord(ModeCommand::LogOff) || sent == ModeWord(ModeCommand::Reboot);
    std::size_t withheld = 0;
    for (const int row : TakeSelection()) {
        const auto address = RowAddress(row);
        if (!address) {
            continue;
        }
        if (Withheld(*address, sent)) {
            ++withheld;
            continue;
        }
        SendCommand(StationPeer(*address), sent);
        StationRecord* record = restarts ? FindStation(*address) : nullptr;
        if (record != nullptr) {
            record->restart = Restart::Ordered;
        }
        RecordCommand(*address, OperatorWord(word));
    }
    return withheld;
}

void Server::TellWithheld(std::size_t rows) {
    // The operator pressed a button and must not take silence for the time given.
    if (rows > 0) {
        ReleaseDrawing();
        ports_.boxes.Show(WithheldText(rows), kServerCaption, BoxIcon::Information);
    }
}

void Server::QuerySelected() {
    const auto request = BuildStatusRequest();
    for (const int row : TakeSelection()) {
        const auto address = RowAddress(row);
        if (!address) {
            continue;
        }
        ports_.network.SendTo(StationPeer(*address), request);
        if ((flags_ & TimeoutFlag) != 0) {
            // A running watch is left to end: re-armed by every query (a station at zero is
            // queried every second), it would keep a silent station from ever going OFF.
            StationRecord* record = FindStation(*address);
            if (record != nullptr && record->attemptsLeft == 0) {
                record->attemptsLeft = kAnswerAttempts;
                record->waitTicks = 0;
            }
        }
    }
}

void Server::AddTime(std::uint32_t seconds) {
    const std::size_t withheld = SendSelected(kAddTimeBase + seconds);
    for (StationRecord& record : stations_) {
        const int row = FindRow(record.address);
        if (row >= 0 && IsSavedRow(row) && record.status <= kCountingLimit &&
            !Withheld(record.address, kAddTimeBase + seconds)) {
            record.status += seconds;
        }
    }
    TellWithheld(withheld);
}

void Server::OnSelectionChanged() {
    // What the operator leaves selected is the operator's selection.
    addedSelected_.clear();
    consoleSelected_.clear();
    QuerySelected();
    flags_ |= ReselectFlag;
}

}  // namespace vorlek
