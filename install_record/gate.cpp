#include "gate.hpp"

#include "places.hpp"

#include <algorithm>

namespace record {

Gate::Gate(HKEY hive, const Plan& plan) : registry_(hive), plan_(plan) {}

std::vector<std::wstring> Gate::OnTheWay(const std::wstring& key) {
    // The system's own keys: on Windows the user's Software\Classes is itself a link, to the
    // user's classes hive.
    auto keys = KeysOnThePath(key);
    std::erase_if(keys, [](const std::wstring& on) {
        return on == L"Software" || on == L"Software\\Classes";
    });
    return keys;
}

bool Gate::ThroughALink(const std::wstring& view, const std::wstring& key) const {
    const auto keys = OnTheWay(key);
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
        const auto keys = OnTheWay(one.key);
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
