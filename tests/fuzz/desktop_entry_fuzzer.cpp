// libFuzzer target over our desktop entry: its Exec line reads back as the command it was written
// for, its comment as the prefix, and a text that is not exactly ours is never taken for ours.
//
// Input, cut at NULs: the name, the prefix, the icon, a change made to the entry (two bytes of
// place, one of kind, then the bytes it puts in), then the command's arguments.

#include "desktop_entry.hpp"
#include "desktop_text.hpp"
#include "fuzz_input.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

using fuzz::Require;

// A string value as readers unescape it.
std::string Unescaped(std::string_view value) {
    std::string text;
    for (std::size_t at = 0; at < value.size(); ++at) {
        if (value[at] != '\\' || at + 1 == value.size()) {
            text += value[at];
            continue;
        }
        const char next = value[++at];
        text += next == 's'   ? ' '
                : next == 'n' ? '\n'
                : next == 't' ? '\t'
                : next == 'r' ? '\r'
                              : next;
    }
    return text;
}

// The arguments an Exec value gives, as readers split them: blanks between arguments, quoted ones
// with \", \`, \$ and \\ escaped, and %% a percent sign.
std::vector<std::string> Arguments(std::string_view exec) {
    std::vector<std::string> arguments;
    std::string argument;
    bool started = false;
    bool quoted = false;
    for (std::size_t at = 0; at < exec.size(); ++at) {
        const char unit = exec[at];
        if (unit == ' ' && !quoted) {
            if (started) {
                arguments.push_back(argument);
            }
            argument.clear();
            started = false;
        } else if (unit == '"') {
            quoted = !quoted;
            started = true;
        } else if (unit == '\\' && quoted && at + 1 < exec.size()) {
            argument += exec[++at];
        } else if (unit == '%' && at + 1 < exec.size() && exec[at + 1] == '%') {
            argument += exec[++at];
            started = true;
        } else {
            argument += unit;
            started = true;
        }
    }
    if (started) {
        arguments.push_back(argument);
    }
    return arguments;
}

// The value of the one Exec key of a text that starts with its [Desktop Entry] group, as readers
// run it (a group of that name again goes on with it); nothing when there is no such key, or more
// than one.
std::optional<std::string> ExecOf(std::string_view text) {
    const auto lines = fuzz::Pieces(text, '\n');
    std::optional<std::string> exec;
    int found = 0;
    bool inEntry = lines.front() == "[Desktop Entry]";
    for (std::size_t at = 1; at < lines.size() && lines.front() == "[Desktop Entry]"; ++at) {
        const auto line = desktop::Trimmed(lines[at]);
        if (line.starts_with('[')) {
            inEntry = line == "[Desktop Entry]";
            continue;
        }
        const auto equals = line.find('=');
        if (inEntry && equals != std::string::npos &&
            desktop::Trimmed(line.substr(0, equals)) == "Exec") {
            exec = desktop::Trimmed(line.substr(equals + 1));
            ++found;
        }
    }
    return found == 1 ? exec : std::nullopt;
}

std::string Changed(std::string text, std::string_view change) {
    if (change.size() < 3) {
        return text;
    }
    const auto at = (static_cast<std::size_t>(static_cast<unsigned char>(change[0])) << 8 |
                     static_cast<unsigned char>(change[1])) %
                    (text.size() + 1);
    const auto bytes = change.substr(3);
    switch (change[2] % 3) {
    case 0:
        return text.insert(at, bytes);
    case 1:
        return text.erase(at, bytes.size() + 1);
    default:
        return text.replace(at, bytes.size(), bytes);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto pieces = fuzz::Pieces<char>(fuzz::Bytes(data, size), '\0');
    pieces.resize(std::max<std::size_t>(pieces.size(), 5));
    const std::string& prefix = pieces[1];
    const std::vector<std::string> command(pieces.begin() + 4, pieces.end());
    const std::string text =
        desktop::EntryText({pieces[0], desktop::EntryComment(prefix), pieces[2], command});

    const auto exec = ExecOf(text);
    Require(exec.has_value() && desktop::IsEntryFor(text, command), "our entry is ours");
    auto arguments = command;
    arguments.emplace_back("%u");
    Require(Arguments(Unescaped(*exec)) == arguments, "the Exec line reads back as the command");

    const bool readable =
        prefix.starts_with('/') && prefix.find_first_of("\\\n\t\r") == std::string::npos;
    Require(desktop::PrefixInEntry(text) == (readable ? std::optional(prefix) : std::nullopt),
            "the prefix reads back from the comment, or nothing does");

    const std::string changed = Changed(text, pieces[3]);
    if (desktop::IsEntryFor(changed, command)) {
        Require(ExecOf(changed) == exec, "an entry is ours only while its one Exec line is ours");
    }
    auto other = command;
    other.emplace_back(pieces[3]);
    Require(!desktop::IsEntryFor(changed, other), "an entry is never taken for another command's");
    return 0;
}
