#include "gate.hpp"

#include "places.hpp"

#include <algorithm>
#include <iterator>

namespace record {

namespace {

bool Within(const std::wstring& key, const std::wstring& place) {
    return key == place || key.starts_with(place + L"\\");
}

} // namespace

Gate::Gate(HKEY hive, const Plan& plan) : registry_(hive), places_(SharedPlaces()), plan_(plan) {
    places_.push_back(companyKey);
    std::transform(plan.own.begin(), plan.own.end(), std::back_inserter(places_),
                   [](const CreatedKey& own) { return own.key; });
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
    std::vector<CreatedKey> named(plan_.values.size());
    std::transform(plan_.values.begin(), plan_.values.end(), named.begin(),
                   [](const ValueChange& change) {
                       return CreatedKey{change.view, change.key};
                   });
    named.insert(named.end(), plan_.own.begin(), plan_.own.end());
    named.insert(named.end(), plan_.retired.begin(), plan_.retired.end());
    named.push_back({L"", ownKey});
    std::optional<CreatedKey> linked;
    const auto onTheWay = [this, &linked](const CreatedKey& one) {
        const auto keys = FromItsPlace(one.key);
        const auto found = std::find_if(keys.begin(), keys.end(), [&](const std::wstring& on) {
            return registry_.IsLink(one.view, on);
        });
        if (found != keys.end()) {
            linked = CreatedKey{one.view, *found};
        }
        return linked.has_value();
    };
    const auto inside = [this, &linked](const CreatedKey& own) {
        if (auto found = registry_.FirstLinkInside(own.view, own.key)) {
            linked = CreatedKey{own.view, std::move(*found)};
        }
        return linked.has_value();
    };
    const bool found = std::any_of(named.begin(), named.end(), onTheWay) ||
                       std::any_of(plan_.own.begin(), plan_.own.end(), inside);
    return found ? linked : std::nullopt;
}

bool Gate::RemoveWhole(const CreatedKey& key) const {
    return !ThroughALink(key.view, key.key) && registry_.RemoveTree(key.view, key.key);
}

} // namespace record
