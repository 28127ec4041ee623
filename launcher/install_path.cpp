#include "install_path.hpp"

namespace {

bool IsEnclosedInQuotes(std::wstring_view installPath) {
    return installPath.size() >= 2 && installPath.front() == L'"' && installPath.back() == L'"';
}

} // namespace

std::optional<std::wstring> GameFolder(std::wstring_view installPath) {
    if (IsEnclosedInQuotes(installPath)) {
        installPath = installPath.substr(1, installPath.size() - 2);
    }
    const auto lastSeparator = installPath.find_last_of(L"\\/");
    if (lastSeparator == std::wstring_view::npos) {
        return std::nullopt;
    }
    return std::wstring(installPath.substr(0, lastSeparator + 1));
}

std::optional<std::wstring> ExactGameProgram(std::wstring_view installPath) {
    // A tab ends the program's name on the command line just as a blank does.
    if (IsEnclosedInQuotes(installPath) ||
        installPath.find_first_of(L" \t") == std::wstring_view::npos) {
        return std::nullopt;
    }
    return std::wstring(installPath);
}
