#include "temporary_names.hpp"

#include "entry_ids.hpp"

namespace desktop {

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

} // namespace desktop
