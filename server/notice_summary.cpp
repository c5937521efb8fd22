#include "server/notice_summary.h"

#include <algorithm>
#include <utility>

#include "server/station_rows.h"

namespace vorlek {

void NoticeSummary::Add(std::string_view event, std::string name, Ipv4 address) {
    const auto kind = std::find(kEvents.begin(), kEvents.end(), event);
    if (kind != kEvents.end()) {
        waiting_[static_cast<std::size_t>(kind - kEvents.begin())].push_back(
            {std::move(name), address});
    }
}

std::optional<std::string> NoticeSummary::TakeNext() {
    for (std::size_t kind = 0; kind < kEvents.size(); ++kind) {
        const std::vector<Station> stations = std::exchange(waiting_[kind], {});
        if (stations.empty()) {
            continue;
        }
        if (stations.size() == 1) {
            return NoticeText(stations[0].name, stations[0].address, kEvents[kind]);
        }
        std::string text =
            std::to_string(stations.size()) + " clients are " + std::string(kEvents[kind]);
        const std::size_t named = std::min(stations.size(), kSummaryNamed);
        for (std::size_t i = 0; i < named; ++i) {
            text.append("\n").append(RowText(stations[i].name, stations[i].address));
        }
        if (stations.size() > named) {
            text.append("\nand ").append(std::to_string(stations.size() - named)).append(" more");
        }
        return text;
    }
    return std::nullopt;
}

}  // namespace vorlek
