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
