#include "desktop_entry.hpp"

#include "desktop_text.hpp"

namespace desktop {
namespace {

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

// The Exec key's line: the command, then the link as %u.
std::string ExecLine(const std::vector<std::string>& command) {
    std::string exec;
    for (const auto& argument : command) {
        exec += ExecArgument(argument) + ' ';
    }
    return "Exec=" + StringValue(exec + "%u") + "\n";
}

constexpr std::string_view commentStart =
    "Opens quarrion:// links with the game in the Wine prefix ";

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
    if (lines.empty() || lines.front() != "[Desktop Entry]\n") {
        return false;
    }
    // Ours has one Exec key, in its [Desktop Entry] group: with another anywhere, or in another
    // group, which one runs is not ours to say.
    int execs = 0;
    bool ours = false;
    bool inEntry = true;
    for (const std::string_view line : lines) {
        const auto equals = line.find('=');
        if (Trimmed(line).starts_with('[')) {
            inEntry = Trimmed(line) == "[Desktop Entry]";
        } else if (equals != std::string_view::npos && Trimmed(line.substr(0, equals)) == "Exec") {
            ++execs;
            ours = inEntry && line == ExecLine(command);
        }
    }
    return execs == 1 && ours;
}

} // namespace desktop
