#include "install_path.hpp"

#include <algorithm>

namespace {

constexpr std::wstring_view blanks = L" \t"; // a tab ends a program's name just as a blank does

bool IsEnclosedInQuotes(std::wstring_view installPath) {
    return installPath.size() >= 2 && installPath.front() == L'"' && installPath.back() == L'"';
}

bool IsSeparator(wchar_t unit) {
    return unit == L'\\' || unit == L'/';
}

// Process creation would search for an unquoted path with a blank, so it is named exactly.
bool IsNamedExactly(std::wstring_view installPath) {
    return !IsEnclosedInQuotes(installPath) &&
           installPath.find_first_of(blanks) != std::wstring_view::npos;
}

// The file process creation runs: the whole value when it is named exactly, otherwise the name
// Windows reads at the head of the command line, up to the closing quote or the first blank.
std::wstring_view StartedProgram(std::wstring_view installPath) {
    if (!IsNamedExactly(installPath) && installPath.starts_with(L'"')) {
        installPath.remove_prefix(1);
        return installPath.substr(0, installPath.find(L'"'));
    }
    return installPath;
}

bool EndsWithIgnoringCase(std::wstring_view text, std::wstring_view lowerEnding) {
    return text.size() >= lowerEnding.size() &&
           std::equal(lowerEnding.begin(), lowerEnding.end(), text.end() - lowerEnding.size(),
                      [](wchar_t lower, wchar_t unit) {
                          const bool letter = lower >= L'a' && lower <= L'z';
                          return unit == lower || (letter && unit == lower - L'a' + L'A');
                      });
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
    if (!IsNamedExactly(installPath)) {
        return std::nullopt;
    }
    return std::wstring(installPath);
}

std::wstring ProgramOnCommandLine(std::wstring_view installPath) {
    if (IsNamedExactly(installPath)) {
        return L"\"" + std::wstring(installPath) + L"\"";
    }
    return std::wstring(installPath);
}

bool IsFullPath(std::wstring_view installPath) {
    const std::wstring_view program = StartedProgram(installPath);
    const auto driveLetter = [](wchar_t unit) {
        return (unit >= L'A' && unit <= L'Z') || (unit >= L'a' && unit <= L'z');
    };
    if (program.size() >= 3 && driveLetter(program[0]) && program[1] == L':' &&
        IsSeparator(program[2])) {
        return true;
    }
    // "\\server\share\": two separators, then two names each ended by a separator.
    if (program.size() < 2 || !IsSeparator(program[0]) || !IsSeparator(program[1])) {
        return false;
    }
    std::size_t at = 2;
    for (int name = 0; name < 2; ++name) {
        const auto end = std::find_if(program.begin() + static_cast<std::ptrdiff_t>(at),
                                      program.end(), IsSeparator) -
                         program.begin();
        if (static_cast<std::size_t>(end) == at ||
            static_cast<std::size_t>(end) == program.size()) {
            return false;
        }
        at = static_cast<std::size_t>(end) + 1;
    }
    return true;
}

bool IsBatchProgram(std::wstring_view installPath) {
    std::wstring_view program = StartedProgram(installPath);
    program = program.substr(0, program.find_last_not_of(L". ") + 1);
    return EndsWithIgnoringCase(program, L".bat") || EndsWithIgnoringCase(program, L".cmd");
}
