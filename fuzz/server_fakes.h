// Fakes of the console's main dialog for the engine's fuzz target: a sorted multiple-selection
// list box that behaves as the list-box messages do (index -1 selects every row, a search wraps
// around), and checks that no row longer than the console's text buffers is ever written.
#pragma once

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/check.h"
#include "server/station_list.h"
#include "server/station_rows.h"

namespace vorlek::fuzz {

class FakeStationList : public StationList {
public:
    struct Row {
        std::string text;
        bool selected = false;
        bool operator==(const Row&) const = default;
    };

    int Add(const std::string& text) override {
        FUZZ_CHECK(text.size() <= kRowTextLimit);
        FUZZ_CHECK(text.find('\0') == std::string::npos);
        const auto at = std::upper_bound(
            rows.begin(), rows.end(), text,
            [](const std::string& t, const Row& row) { return Less(t, row.text); });
        // The index first: the insertion may move the rows, and with them rows.begin().
        const auto index = at - rows.begin();
        rows.insert(at, Row{text, false});
        return static_cast<int>(index);
    }

    int FindPrefix(int start, const std::string& prefix) override {
        const int count = static_cast<int>(rows.size());
        const int first = start < 0 || start >= count ? 0 : start + 1;
        for (int i = 0; i < count; ++i) {
            const int index = (first + i) % count;
            if (StartsWith(rows[static_cast<std::size_t>(index)].text, prefix)) {
                return index;
            }
        }
        return -1;
    }

    void Delete(int index) override {
        if (index >= 0 && index < static_cast<int>(rows.size())) {
            rows.erase(rows.begin() + index);
        }
    }

    void SetSelected(int index, bool selected) override {
        if (index == -1) {
            for (Row& row : rows) {
                row.selected = selected;
            }
        } else if (index >= 0 && index < static_cast<int>(rows.size())) {
            rows[static_cast<std::size_t>(index)].selected = selected;
        }
    }

    bool IsSelected(int index) override {
        return index >= 0 && index < static_cast<int>(rows.size()) &&
               rows[static_cast<std::size_t>(index)].selected;
    }

    std::optional<std::string> Text(int index) override {
        if (index < 0 || index >= static_cast<int>(rows.size())) {
            return std::nullopt;
        }
        return rows[static_cast<std::size_t>(index)].text;
    }

    std::vector<int> SelectedIndices(std::size_t max) override {
        std::vector<int> selected;
        for (std::size_t i = 0; i < rows.size() && selected.size() < max; ++i) {
            if (rows[i].selected) {
                selected.push_back(static_cast<int>(i));
            }
        }
        return selected;
    }

    std::vector<Row> rows;

private:
    static char Lower(char c) {
        return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    static bool Less(const std::string& a, const std::string& b) {
        return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                            [](char x, char y) { return Lower(x) < Lower(y); });
    }
    static bool StartsWith(const std::string& text, const std::string& prefix) {
        return text.size() >= prefix.size() &&
               std::equal(prefix.begin(), prefix.end(), text.begin(),
                          [](char x, char y) { return Lower(x) == Lower(y); });
    }
};

class FakeConsoleWindow : public ConsoleWindow {
public:
    void SetDeathTimerText(const std::string& text) override {
        deathTimer = text;
        ++deathTimerWrites;
        typed = false;
    }
    bool DeathTimerTyped() override { return typed; }
    void BringToForeground() override { ++foregrounds; }

    std::string deathTimer;
    int deathTimerWrites = 0;
    // The operator has typed into the edit since it was last written.
    bool typed = false;
    int foregrounds = 0;
};

class FakeClock : public Clock {
public:
    std::uint32_t Now() override { return now; }
    std::uint32_t now = 1'700'000'000;
};

}  // namespace vorlek::fuzz
