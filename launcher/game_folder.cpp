#include "game_folder.hpp"

std::optional<std::wstring> GameFolder(std::wstring_view installPath) {
    if (installPath.size() >= 2 && installPath.front() == L'"' && installPath.back() == L'"') {
        installPath = installPath.substr(1, installPath.size() - 2);
    }
    const auto lastSeparator = installPath.find_last_of(L"\\/");
    if (lastSeparator == std::wstring_view::npos) {
        return std::nullopt;
    }
    return std::wstring(installPath.substr(0, lastSeparator + 1));
}
