#include "temporary_names.hpp"

#include "entry_ids.hpp"

#include <charconv>

namespace desktop {

namespace {

// A number as TemporaryName writes it: no leading zero, none too large for it. A name with another
// is not one of ours, whatever it looks like.
template <typename Number> bool IsWritten(std::string_view text) {
    Number number = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    return error == std::errc() && end == text.data() + text.size() &&
           std::to_string(number) == text;
}

} // namespace

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
    return dash != std::string_view::npos && IsWritten<unsigned long>(numbers.substr(0, dash)) &&
           IsWritten<unsigned>(numbers.substr(dash + 1));
}

std::string ClaimOf(std::string_view temporary) {
    return std::string(temporary).append(".claim");
}

std::optional<std::string_view> ClaimedTemporary(std::string_view file, std::string_view name) {
    constexpr std::string_view suffix = ".claim";
    if (!file.ends_with(suffix)) {
        return std::nullopt;
    }
    file.remove_suffix(suffix.size());
    return IsTemporaryOf(file, name) ? std::optional(file) : std::nullopt;
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

} // namespace desktop
