#include "entry_ids.hpp"

#include "desktop_text.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <numeric>

namespace desktop {

std::string UnusableInWindows(std::string_view name) {
    if (name.ends_with('.') || name.ends_with(' ')) {
        return "ends in a dot or a blank";
    }
    if (name.find_first_of("<>:\"|?*") != std::string_view::npos ||
        std::any_of(name.begin(), name.end(),
                    [](char unit) { return static_cast<unsigned char>(unit) < 0x20; })) {
        return "holds a character that Windows names never hold (< > : \" | ? * or a control "
               "character)";
    }
    std::string base(name.substr(0, name.find('.')));
    while (base.ends_with(' ')) {
        base.pop_back();
    }
    std::transform(base.begin(), base.end(), base.begin(), Lower);
    const bool numbered = base.size() == 4 &&
                          (base.starts_with("com") || base.starts_with("lpt")) && base[3] >= '1' &&
                          base[3] <= '9';
    if (numbered || base == "con" || base == "prn" || base == "aux" || base == "nul") {
        return "is the name of a device in Windows (" + base + ")";
    }
    return {};
}

std::string EntryId(std::string_view prefixPath, std::string_view mode) {
    while (prefixPath.size() > 1 && prefixPath.ends_with('/')) {
        prefixPath.remove_suffix(1);
    }
    std::string name;
    for (const char unit : prefixPath.substr(prefixPath.rfind('/') + 1)) {
        const char lower = Lower(unit);
        const bool kept = (lower >= 'a' && lower <= 'z') || (lower >= '0' && lower <= '9');
        if (kept) {
            name += lower;
        } else if (!name.empty() && !name.ends_with('-')) {
            name += '-';
        }
    }
    name.resize(std::min<std::size_t>(name.size(), 24));
    while (name.ends_with('-')) {
        name.pop_back();
    }
    // FNV-1a: the same prefix and mode always give the same entry, so an install replaces it.
    std::string key(prefixPath);
    key += '\0';
    key += mode;
    const std::uint32_t hash =
        std::accumulate(key.begin(), key.end(), 2166136261U, [](std::uint32_t sum, char unit) {
            return (sum ^ static_cast<unsigned char>(unit)) * 16777619U;
        });
    char hex[9] = {};
    std::snprintf(hex, sizeof hex, "%08x", static_cast<unsigned>(hash));
    std::string id =
        "quarrion-shell-" + (name.empty() ? std::string("wine") : name) + '-' + hex + '-';
    for (const char unit : mode) {
        id += Lower(unit);
    }
    return id;
}

bool IsEntryId(std::string_view id) {
    return id.starts_with("quarrion-shell-") &&
           id.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789-") == std::string_view::npos;
}

} // namespace desktop
