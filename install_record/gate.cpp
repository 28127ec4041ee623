#include "gate.hpp"

#include "places.hpp"

#include <algorithm>

namespace record {

namespace {

bool Within(const std::wstring& key, const std::wstring& place) {
    return key == place || key.starts_with(place + L"\\");
}

} // namespace

Gate::Gate(HKEY hive, const Plan& plan) : registry_(hive), places_(SharedPlaces()), plan_(plan) {
    places_.push_back(companyKey);
    for (const auto& own : plan.own) {
        places_.push_back(own.key);
    }
}

std::vector<std::wstring> Gate::FromItsPlace(const std::wstring& key) const {
    // The widest place holding it: a key of ours inside our company's is checked from there.
    std::wstring place = key;
    for (const auto& one : places_) {
        if (Within(key, one) && one.size() < place.size()) {
            place = one;
        }
    }
    auto keys = KeysOnThePath(key);
    keys.erase(keys.begin(), std::find(keys.begin(), keys.end(), place));
    return keys;
}

bool Gate::ThroughALink(const std::wstring& view, const std::wstring& key) const {
    const auto keys = FromItsPlace(key);
    return std::any_of(keys.begin(), keys.end(),
                       [&](const std::wstring& on) { return registry_.IsLink(view, on); });
}

std::optional<CreatedKey> Gate::FirstLink() const {
    std::vector<CreatedKey> named;
    for (const auto& change : plan_.values) {
        named.push_back({change.view, change.key});
    }
    named.insert(named.end(), plan_.own.begin(), plan_.own.end());
    named.insert(named.end(), plan_.retired.begin(), plan_.retired.end());
    named.push_back({L"", ownKey});
    for (const auto& [view, key] : named) {
        for (const auto& on : FromItsPlace(key)) {
            if (registry_.IsLink(view, on)) {
                return CreatedKey{view, on};
            }
        }
    }
    for (const auto& own : plan_.own) {
        if (auto inside = registry_.FirstLinkInside(own.view, own.key)) {
            return CreatedKey{own.view, std::move(*inside)};
        }
    }
    return std::nullopt;
}

bool Gate::RemoveWhole(const CreatedKey& key) const {
    return !ThroughALink(key.view, key.key) && registry_.RemoveTree(key.view, key.key);
}

} // namespace record
