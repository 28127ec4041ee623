#include "desktop_text.hpp"

#include <algorithm>

namespace desktop {

std::string_view Trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

std::vector<std::string_view> Fields(std::string_view text, char separator) {
    std::vector<std::string_view> fields;
    while (!text.empty()) {
        const auto end = std::min(text.find(separator), text.size());
        if (end > 0) {
            fields.push_back(text.substr(0, end));
        }
        text.remove_prefix(std::min(end + 1, text.size()));
    }
    return fields;
}

std::vector<std::string_view> ListItems(std::string_view list) {
    std::vector<std::string_view> items;
    for (const auto field : Fields(list, ';')) {
        if (const auto item = Trimmed(field); !item.empty()) {
            items.push_back(item);
        }
    }
    return items;
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

char Lower(char unit) {
    return unit >= 'A' && unit <= 'Z' ? static_cast<char>(unit - 'A' + 'a') : unit;
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

} // namespace desktop
