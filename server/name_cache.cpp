#include "server/name_cache.h"

#include <algorithm>
#include <utility>

#include "server/station_rows.h"

namespace vorlek {

namespace {

std::string ShownName(const std::optional<std::string>& name) {
    return name && !name->empty() ? *name : std::string(kUnknownName);
}

}  // namespace

void NameCache::Expect(std::span<const Ipv4> addresses) {
    std::vector<Ipv4> firsts;
    for (const Ipv4 address : addresses) {
        if (!kept_.contains(address) && expected_.insert(address).second) {
            firsts.push_back(address);
        }
    }
    refresh_.LookUpFirst(firsts);
}

FirstAnswer NameCache::FirstSight(Ipv4 address, std::chrono::microseconds longest) {
    if (expected_.erase(address) == 0) {
        refresh_.LookUpFirst(std::span(&address, 1));
    }
    FirstAnswer answer = refresh_.AwaitFirst(address, longest);
    kept_.emplace(address, answer.came ? ShownName(answer.name) : std::string(kUnknownName));
    return answer;
}

std::string NameCache::RowName(Ipv4 address) {
    if (const auto kept = kept_.find(address); kept != kept_.end()) {
        return kept->second;
    }
    // Once the tick's wait is spent, only an answer already there is taken.
    const auto longest = waitLeft_.count() > 0 ? waitLeft_ + kPromptAnswer : waitLeft_;
    const FirstAnswer answer = FirstSight(address, longest);
    // A slow name service spends the wait; a prompt one waited for behind other look-ups does not.
    if (!answer.came || answer.lookUp > kPromptAnswer) {
        waitLeft_ -= std::min(waitLeft_, answer.waited);
    }
    return kept_.at(address);
}

std::string NameCache::NoticeName(Ipv4 address) {
    if (const auto kept = kept_.find(address); kept != kept_.end()) {
        return kept->second;
    }
    FirstSight(address, kNoticeNameWait);
    return kept_.at(address);
}

void NameCache::Refreshed(Ipv4 address, const std::optional<std::string>& name) {
    const auto kept = kept_.find(address);
    if (kept == kept_.end()) {
        return;
    }
    std::string shown = ShownName(name);
    if (shown == kept->second) {
        return;
    }
    kept->second = std::move(shown);
    if (std::find(renamed_.begin(), renamed_.end(), address) == renamed_.end()) {
        renamed_.push_back(address);
    }
}

std::vector<Ipv4> NameCache::TakeRenamed() {
    return std::exchange(renamed_, {});
}

}  // namespace vorlek
