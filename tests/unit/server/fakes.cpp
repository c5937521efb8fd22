#include "fakes.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace vorlek::test {

namespace {

bool IsIgnorable(char c) {
    return c == '-' || c == '\'';
}

// Symbols before digits before letters (letter case ignored), as in the word sort; + < = > come
// after the other symbols there.
int Weight(char c) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x80) {
        return 600 + u;
    }
    if (std::isalpha(u)) {
        return 400 + std::tolower(u);
    }
    if (std::isdigit(u)) {
        return 200 + u;
    }
    if (c == '+' || c == '<' || c == '=' || c == '>') {
        return 150 + u;
    }
    return u;
}

int CompareWeights(std::string_view a, std::string_view b, bool skipIgnorable) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (true) {
        while (skipIgnorable && i < a.size() && IsIgnorable(a[i])) {
            ++i;
        }
        while (skipIgnorable && j < b.size() && IsIgnorable(b[j])) {
            ++j;
        }
        if (i == a.size() || j == b.size()) {
            return (i == a.size() ? 0 : 1) - (j == b.size() ? 0 : 1);
        }
        const int wa = IsIgnorable(a[i]) ? 1 : Weight(a[i]);
        const int wb = IsIgnorable(b[j]) ? 1 : Weight(b[j]);
        if (wa != wb) {
            return wa < wb ? -1 : 1;
        }
        ++i;
        ++j;
    }
}

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    if (prefix.size() > text.size()) {
        return false;
    }
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) !=
            std::tolower(static_cast<unsigned char>(prefix[i]))) {
            return false;
        }
    }
    return true;
}

}  // namespace

int WordSortCompare(std::string_view a, std::string_view b) {
    if (const int primary = CompareWeights(a, b, true); primary != 0) {
        return primary;
    }
    const auto ignorables = [](std::string_view s) {
        return std::count_if(s.begin(), s.end(), IsIgnorable);
    };
    if (ignorables(a) != ignorables(b)) {
        return ignorables(a) < ignorables(b) ? -1 : 1;
    }
    return CompareWeights(a, b, false);
}

int FakeStationList::Add(const std::string& text) {
    journal_.push_back("add " + text);
    const auto at = std::upper_bound(
        rows_.begin(), rows_.end(), text,
        [](const std::string& t, const Row& row) { return WordSortCompare(t, row.text) < 0; });
    // The index first: the insertion may move the rows, and with them rows_.begin().
    const auto index = at - rows_.begin();
    rows_.insert(at, Row{text});
    return static_cast<int>(index);
}

int FakeStationList::FindPrefix(int start, const std::string& prefix) {
    const int count = static_cast<int>(rows_.size());
    if (start < 0 || start >= count) {
        start = -1;
    }
    for (int step = 1; step <= count; ++step) {
        const int index = (start + step) % count;
        if (StartsWithIgnoringCase(rows_[static_cast<std::size_t>(index)].text, prefix)) {
            return index;
        }
    }
    return -1;
}

void FakeStationList::Delete(int index) {
    if (index < 0 || index >= static_cast<int>(rows_.size())) {
        return;
    }
    journal_.push_back("delete " + rows_[static_cast<std::size_t>(index)].text);
    rows_.erase(rows_.begin() + index);
}

void FakeStationList::SetSelected(int index, bool selected) {
    // LB_SETSEL with index -1 applies to every row.
    if (index == -1) {
        for (Row& row : rows_) {
            row.selected = selected;
        }
        return;
    }
    if (index < 0 || index >= static_cast<int>(rows_.size())) {
        return;
    }
    rows_[static_cast<std::size_t>(index)].selected = selected;
}

bool FakeStationList::IsSelected(int index) {
    return index >= 0 && index < static_cast<int>(rows_.size()) &&
           rows_[static_cast<std::size_t>(index)].selected;
}

std::optional<std::string> FakeStationList::Text(int index) {
    if (index < 0 || index >= static_cast<int>(rows_.size())) {
        return std::nullopt;
    }
    return rows_[static_cast<std::size_t>(index)].text;
}

std::vector<int> FakeStationList::SelectedIndices(std::size_t max) {
    std::vector<int> indices;
    for (std::size_t i = 0; i < rows_.size() && indices.size() < max; ++i) {
        if (rows_[i].selected) {
            indices.push_back(static_cast<int>(i));
        }
    }
    return indices;
}

std::vector<std::string> FakeStationList::Rows() const {
    std::vector<std::string> texts;
    for (const Row& row : rows_) {
        texts.push_back(row.text);
    }
    return texts;
}

std::vector<std::string> FakeStationList::SelectedRows() const {
    std::vector<std::string> texts;
    for (const Row& row : rows_) {
        if (row.selected) {
            texts.push_back(row.text);
        }
    }
    return texts;
}

void PrintTo(const SentDatagram& datagram, std::ostream* out) {
    *out << FormatDotted(datagram.to.address) << ':' << datagram.to.port << " [";
    const char* separator = "";
    for (const std::uint8_t byte : datagram.bytes) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02X", byte);
        *out << separator << hex;
        separator = " ";
    }
    *out << ']';
}

void FakeNetwork::SendTo(Peer to, std::span<const std::uint8_t> bytes) {
    sent.push_back({to, {bytes.begin(), bytes.end()}});
}

std::optional<Received> FakeNetwork::ReceiveFrom(std::span<std::uint8_t> buffer) {
    receiveBufferSizes.push_back(buffer.size());
    if (inbound_.empty()) {
        return std::nullopt;
    }
    Inbound datagram = std::move(inbound_.front());
    inbound_.pop_front();
    if (datagram.fails) {
        return std::nullopt;
    }
    const std::size_t size = std::min(datagram.bytes.size(), buffer.size());
    std::copy_n(datagram.bytes.begin(), size, buffer.begin());
    if (datagram.bytes.size() > buffer.size()) {
        return std::nullopt;
    }
    return Received{size, datagram.from};
}

bool FakeNetwork::WaitReadable(std::chrono::milliseconds) {
    ++waits;
    if (onWait) {
        onWait();
    }
    return !inbound_.empty();
}

void FakeNetwork::Pause(std::chrono::milliseconds duration) {
    pauses.push_back(duration);
    if (onPause) {
        onPause();
    }
}

void FakeNetwork::Deliver(Peer from, std::vector<std::uint8_t> bytes) {
    inbound_.push_back({from, std::move(bytes)});
}

void FakeNetwork::DeliverFailure() {
    inbound_.push_back({Peer{}, {}, true});
}

std::optional<Ipv4> FakeNames::LookUpName(const std::string& name) {
    for (const auto& [address, known] : names) {
        if (known == name) {
            return address;
        }
    }
    return std::nullopt;
}

std::optional<std::string> FakeNames::LookUpAddress(Ipv4 address) {
    ++reverseLookUps;
    const auto found = names.find(address);
    if (found == names.end()) {
        return std::nullopt;
    }
    return found->second;
}

FirstAnswer FakeNameRefresh::AwaitFirst(Ipv4 address, std::chrono::microseconds longest) {
    waits.push_back(longest);
    const auto delay = late.find(address);
    if (delay != late.end() && delay->second > longest) {
        return {false, std::nullopt, longest};
    }
    const auto took = delay != late.end() ? delay->second : std::chrono::microseconds{0};
    return {true, names_.LookUpAddress(address), took, took};
}

void FakeBoxes::Show(std::string_view text, std::optional<std::string_view> caption, BoxIcon icon) {
    journal_.push_back("box " + std::string(text));
    shown.push_back(
        {std::string(text), caption ? std::optional<std::string>(*caption) : std::nullopt, icon});
    if (whileOpen) {
        const auto nested = std::move(whileOpen);
        whileOpen = nullptr;
        nested();
    }
    journal_.push_back("box closed");
}

void FakeWindow::SetDeathTimerText(const std::string& text) {
    journal_.push_back("death timer " + text);
    typed = false;
}

void FakeWindow::BringToForeground() {
    journal_.push_back("foreground");
}

}  // namespace vorlek::test
