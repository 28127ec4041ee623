#include "mimeapps.hpp"

#include "desktop_text.hpp"

#include <algorithm>
#include <optional>
#include <utility>

namespace desktop {
namespace {

constexpr std::string_view defaultsGroup = "[Default Applications]";

constexpr std::string_view byteOrderMark = "\xEF\xBB\xBF";

std::string_view EndingOf(std::string_view line) {
    return line.ends_with("\r\n") ? "\r\n" : line.ends_with('\n') ? "\n" : "";
}

bool IsGroupHeader(std::string_view line) {
    return Trimmed(line).starts_with('[');
}

bool IsHandlerLine(std::string_view line) {
    const auto equals = line.find('=');
    return equals != std::string_view::npos && Trimmed(line.substr(0, equals)) == schemeType;
}

// A line as readers of the file see it: a byte order mark that starts the file is not part of it.
std::string_view Content(const std::vector<std::string>& lines, std::size_t index) {
    std::string_view line = lines[index];
    if (index == 0 && line.starts_with(byteOrderMark)) {
        line.remove_prefix(byteOrderMark.size());
    }
    return line;
}

// Where the first [Default Applications] group starts, and our key's lines in every group of
// that name: readers merge them, and the last line they read wins.
struct Place {
    std::size_t group = std::string_view::npos;
    std::vector<std::size_t> handlers;
};

Place Find(const std::vector<std::string>& lines) {
    Place place;
    bool inDefaults = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string_view line = Content(lines, i);
        if (IsGroupHeader(line)) {
            inDefaults = Trimmed(line) == defaultsGroup;
            if (inDefaults && place.group == std::string_view::npos) {
                place.group = i;
            }
        } else if (inDefaults && IsHandlerLine(line)) {
            place.handlers.push_back(i);
        }
    }
    return place;
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines) {
        text += line;
    }
    return text;
}

// Where the list starts in a handler line: after "=" and the blanks that follow it.
std::size_t ListStart(std::string_view line) {
    return std::min(line.find_first_not_of(" \t", line.find('=') + 1),
                    line.size() - EndingOf(line).size());
}

std::vector<std::string_view> Handlers(std::string_view line) {
    return ListItems(Trimmed(line.substr(line.find('=') + 1)));
}

// The handler line with `handlers` as its list; what stands before the list ("key = ") and the
// line's ending are kept.
std::string HandlerLine(std::string_view line, const std::vector<std::string_view>& handlers) {
    std::string text(line.substr(0, ListStart(line)));
    for (const auto handler : handlers) {
        text += std::string(handler) + ";";
    }
    return text + std::string(EndingOf(line));
}

// Where `entry;` stands as a whole item in the line's list, as WithFirst adds it; npos when it
// does not.
std::size_t UnitsOf(std::string_view line, std::string_view entry) {
    const std::string added = std::string(entry) + ";";
    const auto start = ListStart(line);
    const auto end = line.size() - EndingOf(line).size();
    for (auto at = line.find(added, start);
         at != std::string_view::npos && at + added.size() <= end; at = line.find(added, at + 1)) {
        if (at == start || line[at - 1] == ';') {
            return at;
        }
    }
    return std::string_view::npos;
}

// The line without one `entry;`, its other units as they were; npos when it has none.
std::optional<std::string> WithoutUnits(const std::string& line, std::string_view entry) {
    const auto handlers = Handlers(line);
    const auto at = UnitsOf(line, entry);
    if (at == std::string_view::npos || std::count(handlers.begin(), handlers.end(), entry) != 1) {
        return std::nullopt;
    }
    std::string changed = line;
    changed.erase(at, entry.size() + 1);
    return changed;
}

// The line with `entry` first in its list, added as "entry;" before the rest, so that removing
// those units later gives back the line byte for byte.
std::string WithFirst(const std::string& line, std::string_view entry) {
    auto handlers = Handlers(line);
    if (!handlers.empty() && handlers.front() == entry &&
        std::count(handlers.begin(), handlers.end(), entry) == 1) {
        return line;
    }
    if (std::count(handlers.begin(), handlers.end(), entry) == 0) {
        std::string changed = line;
        changed.insert(ListStart(line), std::string(entry) + ";");
        return changed;
    }
    if (auto moved = WithoutUnits(line, entry)) {
        moved->insert(ListStart(*moved), std::string(entry) + ";");
        return *moved;
    }
    std::erase(handlers, entry);
    handlers.insert(handlers.begin(), entry);
    return HandlerLine(line, handlers);
}

// The line without `entry` in its list: the units that stood for it removed, or, written in
// another way, the list written anew; empty when no other handler is left in a list rewritten.
std::string WithoutEntry(const std::string& line, std::string_view entry) {
    if (auto removed = WithoutUnits(line, entry)) {
        return *removed;
    }
    auto handlers = Handlers(line);
    if (std::erase(handlers, entry) == 0) {
        return line;
    }
    if (handlers.empty()) {
        return {};
    }
    return HandlerLine(line, handlers);
}

// Whether the line is a handler line holding nothing but its key, "=" and its ending.
bool IsEmptyHandlerLine(std::string_view line) {
    return ListStart(line) == line.size() - EndingOf(line).size();
}

} // namespace

std::string WithDefaultHandler(std::string_view mimeapps, std::string_view entry,
                               Additions& added) {
    auto lines = Lines(mimeapps);
    const Place place = Find(lines);
    if (!place.handlers.empty()) {
        for (const auto index : place.handlers) {
            lines[index] = WithFirst(lines[index], entry);
        }
        return Joined(lines);
    }
    // New lines end as the file's first line does: CR LF in a file written on Windows.
    const std::string ending = lines.empty() || EndingOf(lines.front()).empty()
                                   ? "\n"
                                   : std::string(EndingOf(lines.front()));
    const std::string handler = std::string(schemeType) + "=" + std::string(entry) + ";" + ending;
    added.line = true;
    if (place.group != std::string_view::npos) {
        if (EndingOf(lines[place.group]).empty()) {
            lines[place.group] += ending;
            added.newline = true;
        }
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(place.group) + 1, handler);
        return Joined(lines);
    }
    if (!lines.empty() && EndingOf(lines.back()).empty()) {
        lines.back() += ending;
        added.newline = true;
    }
    added.group = true;
    return Joined(lines) + std::string(defaultsGroup) + ending + handler;
}

std::vector<std::string> DefaultHandlers(std::string_view mimeapps) {
    const auto lines = Lines(mimeapps);
    const Place place = Find(lines);
    if (place.handlers.empty()) {
        return {};
    }
    const auto handlers = Handlers(Content(lines, place.handlers.back()));
    return {handlers.begin(), handlers.end()};
}

std::string WithoutDefaultHandler(std::string_view mimeapps, std::string_view entry,
                                  const Additions& added) {
    auto lines = Lines(mimeapps);
    const Place place = Find(lines);
    // The ending of the lines added with ours, which is the one a last line was given: "\n" given
    // to a line ending in CR is not a CR LF of its own.
    std::string addedEnding;
    // From the last, so that erasing a line leaves the others' places as found.
    for (std::size_t left = place.handlers.size(); left > 0; --left) {
        const std::size_t index = place.handlers[left - 1];
        std::string kept = WithoutEntry(lines[index], entry);
        if (kept.empty() || (added.line && IsEmptyHandlerLine(kept))) {
            addedEnding = EndingOf(lines[index]);
            lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(index));
        } else {
            lines[index] = std::move(kept);
        }
    }
    const std::size_t group = Find(lines).group;
    const bool groupEmpty = group != std::string_view::npos &&
                            (group + 1 == lines.size() || IsGroupHeader(Content(lines, group + 1)));
    const auto takeEndingOfLast = [&lines, &addedEnding] {
        if (!lines.empty() && lines.back().ends_with(addedEnding)) {
            lines.back().resize(lines.back().size() - addedEnding.size());
        }
    };
    if (added.group && groupEmpty && Trimmed(Content(lines, group)) == defaultsGroup) {
        addedEnding = EndingOf(lines[group]);
        lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(group));
        if (added.newline && group == lines.size()) {
            takeEndingOfLast();
        }
    } else if (added.newline && !added.group && groupEmpty && group + 1 == lines.size()) {
        takeEndingOfLast();
    }
    return Joined(lines);
}

bool IsCacheOf(std::string_view cache, std::string_view ours) {
    const auto lines = Lines(cache);
    return std::all_of(lines.begin(), lines.end(), [ours](const std::string& line) {
        if (IsGroupHeader(line) || Trimmed(line).empty()) {
            return true;
        }
        const auto handlers = Handlers(line);
        return line.find('=') != std::string::npos &&
               std::all_of(handlers.begin(), handlers.end(),
                           [ours](std::string_view handler) { return handler.starts_with(ours); });
    });
}

} // namespace desktop
