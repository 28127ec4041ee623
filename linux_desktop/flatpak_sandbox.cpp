#include "flatpak_sandbox.hpp"

#include "desktop_text.hpp"

#include <algorithm>
#include <optional>

namespace desktop {
namespace {

bool IsName(std::string_view part) {
    return !part.empty() && part.front() != '-' &&
           std::all_of(part.begin(), part.end(), [](char unit) {
               return (unit >= 'a' && unit <= 'z') || (unit >= 'A' && unit <= 'Z') ||
                      (unit >= '0' && unit <= '9') || unit == '_' || unit == '-';
           });
}

// The host path an entry's location names; nothing for keywords that name no folder of ours.
std::optional<std::string> Location(std::string_view location, const HostFolders& host) {
    while (location.size() > 1 && location.ends_with('/')) {
        location.remove_suffix(1);
    }
    if (location == "host" || location == "/") {
        return std::string("/");
    }
    if (location == "home" || location == "~") {
        return host.home;
    }
    if (location.starts_with('/')) {
        return std::string(location);
    }
    const auto under = [&location](std::string_view keyword,
                                   const std::string& folder) -> std::optional<std::string> {
        if (location == keyword) {
            return folder;
        }
        if (location.starts_with(keyword) && location[keyword.size()] == '/') {
            return folder + std::string(location.substr(keyword.size()));
        }
        return std::nullopt;
    };
    if (auto path = under("xdg-data", host.data)) {
        return path;
    }
    if (auto path = under("xdg-config", host.config)) {
        return path;
    }
    return under("~", host.home);
}

bool Covers(const std::string& folder, std::string_view path) {
    return folder == "/" || path == folder ||
           (path.starts_with(folder) && path[folder.size()] == '/');
}

} // namespace

FlatpakInfo ParseFlatpakInfo(std::string_view text) {
    FlatpakInfo info;
    std::string_view group;
    while (!text.empty()) {
        const auto end = std::min(text.find('\n'), text.size());
        const std::string_view line = Trimmed(text.substr(0, end));
        text.remove_prefix(std::min(end + 1, text.size()));
        if (line.starts_with('[')) {
            group = line;
            continue;
        }
        const auto equals = line.find('=');
        if (equals == std::string_view::npos) {
            continue;
        }
        const std::string_view key = Trimmed(line.substr(0, equals));
        const std::string_view value = Trimmed(line.substr(equals + 1));
        if (group == "[Application]" && key == "name") {
            info.app = value;
        } else if (group == "[Context]" && key == "filesystems") {
            const auto items = ListItems(value);
            info.filesystems.assign(items.begin(), items.end());
        }
    }
    return info;
}

bool IsFlatpakAppId(std::string_view app) {
    int parts = 0;
    while (true) {
        const auto dot = app.find('.');
        if (!IsName(app.substr(0, dot))) {
            return false;
        }
        ++parts;
        if (dot == std::string_view::npos) {
            return parts >= 2 && app.size() <= 255;
        }
        app.remove_prefix(dot + 1);
    }
}

Access GrantedAccess(const std::vector<std::string>& filesystems, const HostFolders& host,
                     std::string_view path) {
    std::size_t deepest = 0;
    Access access = Access::none;
    for (std::string_view entry : filesystems) {
        const bool denied = entry.starts_with('!');
        if (denied) {
            entry.remove_prefix(1);
        }
        const auto colon = entry.rfind(':');
        const std::string_view mode =
            colon == std::string_view::npos ? std::string_view() : entry.substr(colon + 1);
        if (mode == "ro" || mode == "rw" || mode == "create") {
            entry.remove_suffix(mode.size() + 1);
        }
        const auto folder = Location(entry, host);
        if (!folder || !Covers(*folder, path) || folder->size() < deepest) {
            continue;
        }
        deepest = folder->size();
        access = denied ? Access::none : mode == "ro" ? Access::reading : Access::writing;
    }
    return access;
}

std::string GrantCommand(std::string_view app) {
    return "flatpak override --user --filesystem=xdg-data/applications "
           "--filesystem=xdg-config/mimeapps.list:ro " +
           std::string(app);
}

} // namespace desktop
