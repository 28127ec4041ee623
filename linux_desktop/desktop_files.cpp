#include "desktop_files.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <numeric>
#include <optional>
#include <utility>

namespace desktop {

std::string_view Trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

std::vector<std::string_view> ListItems(std::string_view list) {
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

namespace {

constexpr std::string_view commentStart =
    "Opens quarrion:// links with the game in the Wine prefix ";

} // namespace

std::string EntryComment(std::string_view prefix) {
    return std::string(commentStart) + std::string(prefix);
}

std::optional<std::string> PrefixInEntry(std::string_view text) {
    const std::string key = "\nComment=" + std::string(commentStart);
    const auto at = text.find(key);
    if (at == std::string_view::npos) {
        return std::nullopt;
    }
    const auto start = at + key.size();
    const auto end = text.find('\n', start);
    const auto prefix = text.substr(start, end == std::string_view::npos ? end : end - start);
    // Written with its backslashes escaped, and any prefix refused that holds one.
    if (!prefix.starts_with('/') || prefix.find('\\') != std::string_view::npos) {
        return std::nullopt;
    }
    return std::string(prefix);
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
    // From the last, so that erasing a line leaves the others' places as found.
    for (std::size_t left = place.handlers.size(); left > 0; --left) {
        const std::size_t index = place.handlers[left - 1];
        std::string kept = WithoutEntry(lines[index], entry);
        if (kept.empty() || (added.line && IsEmptyHandlerLine(kept))) {
            lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(index));
        } else {
            lines[index] = std::move(kept);
        }
    }
    const std::size_t group = Find(lines).group;
    const bool groupEmpty = group != std::string_view::npos &&
                            (group + 1 == lines.size() || IsGroupHeader(Content(lines, group + 1)));
    if (added.group && groupEmpty && Trimmed(Content(lines, group)) == defaultsGroup) {
        lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(group));
        if (added.newline && group == lines.size() && !lines.empty()) {
            lines.back().resize(lines.back().size() - EndingOf(lines.back()).size());
        }
    } else if (added.newline && !added.group && groupEmpty && group + 1 == lines.size()) {
        lines.back().resize(lines.back().size() - EndingOf(lines.back()).size());
    }
    return Joined(lines);
}

std::string HomeRecordText(const HomeRecord& record) {
    std::string text;
    const std::pair<bool, const char*> facts[] = {{record.added.line, "added-line"},
                                                  {record.added.group, "added-group"},
                                                  {record.added.newline, "added-newline"},
                                                  {record.mimeapps, "made-mimeapps.list"},
                                                  {record.cache, "made-mimeinfo.cache"}};
    for (const auto& [fact, word] : facts) {
        if (fact) {
            text += std::string(word) + "\n";
        }
    }
    for (const auto& folder : record.folders) {
        text.append("made-folder ").append(folder).append("\n");
    }
    return text;
}

HomeRecord ParseHomeRecord(std::string_view text) {
    HomeRecord record;
    for (const auto& found : Lines(text)) {
        const std::string_view line = std::string_view(found).substr(0, found.find('\n'));
        record.added.line = record.added.line || line == "added-line";
        record.added.group = record.added.group || line == "added-group";
        record.added.newline = record.added.newline || line == "added-newline";
        record.mimeapps = record.mimeapps || line == "made-mimeapps.list";
        record.cache = record.cache || line == "made-mimeinfo.cache";
        if (line.starts_with("made-folder /")) {
            record.folders.emplace_back(line.substr(std::string_view("made-folder ").size()));
        }
    }
    return record;
}

std::string ChecksumsText(const std::map<std::string, std::string>& checksums) {
    std::string text;
    for (const auto& [path, checksum] : checksums) {
        text.append(checksum).append("  ").append(path).append("\n");
    }
    return text;
}

std::map<std::string, std::string> ParseChecksums(std::string_view text) {
    std::map<std::string, std::string> checksums;
    for (const auto& found : Lines(text)) {
        const std::string_view line = std::string_view(found).substr(0, found.find('\n'));
        if (line.size() > 66 && line.substr(64, 2) == "  " &&
            line.substr(0, 64).find_first_not_of("0123456789abcdef") == std::string_view::npos) {
            checksums.emplace(line.substr(66), line.substr(0, 64));
        }
    }
    return checksums;
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

// Appended piece by piece: GCC 12 warns (-Wrestrict) about "." + std::string at -O2.
std::string TemporaryName(std::string_view name, unsigned long process, unsigned attempt) {
    std::string temporary(".");
    temporary.append(name).append(".new-").append(std::to_string(process));
    return temporary.append("-").append(std::to_string(attempt));
}

bool IsTemporaryOf(std::string_view temporary, std::string_view name) {
    std::string start(".");
    start.append(name).append(".new-");
    if (!temporary.starts_with(start)) {
        return false;
    }
    const auto numbers = temporary.substr(start.size());
    const auto dash = numbers.find('-');
    const auto digits = [](std::string_view text) {
        return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
    };
    return dash != std::string_view::npos && digits(numbers.substr(0, dash)) &&
           digits(numbers.substr(dash + 1));
}

bool IsOurTemporary(std::string_view name) {
    const auto marker = name.rfind(".new-");
    if (!name.starts_with('.') || marker == std::string_view::npos) {
        return false;
    }
    const auto file = name.substr(1, marker - 1);
    const bool ours = file == "mimeapps.list" || file == "made" || file == "written" ||
                      file == "quarrion-shell.png" ||
                      (file.ends_with(".desktop") && IsEntryId(file.substr(0, file.size() - 8)));
    return ours && IsTemporaryOf(name, file);
}

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
