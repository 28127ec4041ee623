#include "desktop_files.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <numeric>
#include <utility>

namespace desktop {
namespace {

constexpr std::string_view defaultsGroup = "[Default Applications]";
constexpr std::string_view byteOrderMark = "\xEF\xBB\xBF";
// Characters that an Exec argument may hold only in quotes.
constexpr std::string_view reserved = " \t\n\"'\\><~|&;$*?#()`";

// A value of type string: backslash and control characters escaped, a leading blank kept.
std::string StringValue(std::string_view text) {
    std::string value;
    for (const char unit : text) {
        switch (unit) {
        case '\\':
            value += "\\\\";
            break;
        case '\n':
            value += "\\n";
            break;
        case '\t':
            value += "\\t";
            break;
        case '\r':
            value += "\\r";
            break;
        default:
            value += unit;
        }
    }
    if (value.starts_with(' ')) {
        value.replace(0, 1, "\\s");
    }
    return value;
}

std::string_view Trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// The file's lines, each with its own line ending, so that unchanged ones are copied exactly.
std::vector<std::string> Lines(std::string_view text) {
    std::vector<std::string> lines;
    while (!text.empty()) {
        const auto end = std::min(text.find('\n'), text.size() - 1) + 1;
        lines.emplace_back(text.substr(0, end));
        text.remove_prefix(end);
    }
    return lines;
}

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

char Lower(char unit) {
    return unit >= 'A' && unit <= 'Z' ? static_cast<char>(unit - 'A' + 'a') : unit;
}

std::vector<std::string_view> Split(std::string_view list) {
    std::vector<std::string_view> items;
    while (!list.empty()) {
        const auto end = std::min(list.find(';'), list.size());
        if (const auto item = Trimmed(list.substr(0, end)); !item.empty()) {
            items.push_back(item);
        }
        list.remove_prefix(std::min(end + 1, list.size()));
    }
    return items;
}

// Where the list starts in a handler line: after "=" and the blanks that follow it.
std::size_t ListStart(std::string_view line) {
    return std::min(line.find_first_not_of(" \t", line.find('=') + 1),
                    line.size() - EndingOf(line).size());
}

std::vector<std::string_view> Handlers(std::string_view line) {
    return Split(Trimmed(line.substr(line.find('=') + 1)));
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

// The line with `entry` first in its list. Added as "entry;" before the rest, so that removing
// those units later gives back the line byte for byte.
std::string WithFirst(const std::string& line, std::string_view entry) {
    auto handlers = Handlers(line);
    const auto count = std::count(handlers.begin(), handlers.end(), entry);
    if (count == 0) {
        std::string changed = line;
        changed.insert(ListStart(line), std::string(entry) + ";");
        return changed;
    }
    if (count == 1 && handlers.front() == entry) {
        return line;
    }
    std::erase(handlers, entry);
    handlers.insert(handlers.begin(), entry);
    return HandlerLine(line, handlers);
}

// The line without `entry` in its list; empty when no other handler is left in it.
std::string WithoutEntry(const std::string& line, std::string_view entry) {
    auto handlers = Handlers(line);
    const auto count = std::erase(handlers, entry);
    if (count == 0) {
        return line;
    }
    if (handlers.empty()) {
        return {};
    }
    const std::string added = std::string(entry) + ";";
    if (count == 1 && std::string_view(line).substr(ListStart(line)).starts_with(added)) {
        std::string changed = line;
        changed.erase(ListStart(line), added.size());
        return changed;
    }
    return HandlerLine(line, handlers);
}

} // namespace

std::string ExecArgument(std::string_view argument) {
    std::string written;
    const bool quoted =
        argument.empty() || argument.find_first_of(reserved) != std::string_view::npos;
    for (const char unit : argument) {
        if (quoted && (unit == '"' || unit == '`' || unit == '$' || unit == '\\')) {
            written += '\\';
        }
        written += unit;
        if (unit == '%') {
            written += '%'; // not a field code
        }
    }
    return quoted ? '"' + written + '"' : written;
}

namespace {

// The Exec key's line: the command, then the link as %u.
std::string ExecLine(const std::vector<std::string>& command) {
    std::string exec;
    for (const auto& argument : command) {
        exec += ExecArgument(argument) + ' ';
    }
    return "Exec=" + StringValue(exec + "%u") + "\n";
}

} // namespace

std::string EntryText(const EntryFields& fields) {
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=" +
           StringValue(fields.name) +
           "\n"
           "Comment=" +
           StringValue(fields.comment) +
           "\n"
           "Icon=" +
           StringValue(fields.icon) + "\n" + ExecLine(fields.command) +
           "Terminal=false\n"
           "NoDisplay=true\n"
           "MimeType=" +
           std::string(schemeType) + ";\n";
}

bool IsEntryFor(std::string_view text, const std::vector<std::string>& command) {
    const auto lines = Lines(text);
    return !lines.empty() && lines.front() == "[Desktop Entry]\n" &&
           std::find(lines.begin(), lines.end(), ExecLine(command)) != lines.end();
}

std::string WindowsArgument(std::string_view argument) {
    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (const char unit : argument) {
        if (unit == '\\') {
            ++backslashes;
            continue;
        }
        // Backslashes count only before a quote: doubled there, and the quote escaped.
        quoted.append(unit == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += unit;
    }
    quoted.append(backslashes * 2, '\\');
    return quoted + '"';
}

std::string WithDefaultHandler(std::string_view mimeapps, std::string_view entry) {
    auto lines = Lines(mimeapps);
    const Place place = Find(lines);
    const std::string handler = std::string(schemeType) + "=" + std::string(entry) + ";";
    if (!place.handlers.empty()) {
        for (const auto index : place.handlers) {
            lines[index] = WithFirst(lines[index], entry);
        }
        return Joined(lines);
    }
    if (place.group != std::string_view::npos) {
        const std::string_view ending = EndingOf(lines[place.group]);
        if (ending.empty()) {
            lines[place.group] += '\n';
        }
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(place.group) + 1,
                     handler + std::string(ending.empty() ? "\n" : ending));
        return Joined(lines);
    }
    std::string text = Joined(lines);
    if (!text.empty() && !text.ends_with('\n')) {
        text += '\n';
    }
    return text + std::string(defaultsGroup) + "\n" + handler + "\n";
}

std::string WithoutDefaultHandler(std::string_view mimeapps, std::string_view entry) {
    auto lines = Lines(mimeapps);
    const Place place = Find(lines);
    // From the last, so that erasing a line leaves the others' places as found.
    for (std::size_t left = place.handlers.size(); left > 0; --left) {
        const std::size_t index = place.handlers[left - 1];
        std::string kept = WithoutEntry(lines[index], entry);
        if (kept.empty()) {
            lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(index));
        } else {
            lines[index] = std::move(kept);
        }
    }
    return Joined(lines);
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
