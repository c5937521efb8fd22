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

std::string NameCache::RowName(Ipv4 address) {
    if (const auto kept = kept_.find(address); kept != kept_.end()) {
        return kept->second;
    }
    std::string name = ShownName(names_.LookUpAddress(address));
    kept_.emplace(address, name);
    refresh_.Keep(address);
    return name;
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
