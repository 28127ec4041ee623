// libFuzzer target over the link logic: decoding, the safety check, the game's command line and
// its folder. It checks properties against a deliberately simple model, not just "no crash".
//
// Input: the link's units (see fuzz::Units). A zero byte, if any, ends an install path that comes
// first; otherwise the install path is a typical one.

#include "install_path.hpp"
#include "best_fit.hpp"
#include "fuzz_input.hpp"
#include "launch_failure.hpp"
#include "link.hpp"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::wstring_view scheme = L"quarrion://";

using fuzz::Require;

// The scheme removed one unit at a time, remembering where a removal joined two pieces.
struct Model {
    std::wstring remainder;
    std::vector<std::size_t> joins;
};

Model RemoveScheme(std::wstring_view text) {
    Model model;
    for (std::size_t i = 0; i < text.size();) {
        if (text.substr(i, scheme.size()) == scheme) {
            i += scheme.size();
            model.joins.push_back(model.remainder.size());
        } else {
            model.remainder.push_back(text[i++]);
        }
    }
    return model;
}

// What cmd.exe reads in a batch program's command line: its operators, escapes, variables and
// argument separators.
constexpr std::wstring_view interpreterUnits = L"&|<>^()%!,=";

bool Refused(wchar_t unit, bool batch) {
    return unit <= 0x20 || unit == 0x7F || unit == L'"' || unit == L'+' || unit == L';' ||
           (batch && interpreterUnits.find(unit) != std::wstring_view::npos);
}

bool Safe(std::wstring_view field, bool batch) {
    return !field.starts_with(L'-') && !field.starts_with(L'@') &&
           std::none_of(field.begin(), field.end(),
                        [batch](wchar_t unit) { return Refused(unit, batch); });
}

// Every "quarrion://" left in a field starting at offset must straddle a join of the removal.
bool OnlyNewSchemes(std::wstring_view field, std::size_t offset, const Model& model) {
    for (auto at = field.find(scheme); at != std::wstring_view::npos;
         at = field.find(scheme, at + 1)) {
        bool formed = false;
        for (const auto join : model.joins) {
            formed = formed || (offset + at < join && join < offset + at + scheme.size());
        }
        if (!formed) {
            return false;
        }
    }
    return true;
}

std::vector<std::wstring_view> SplitAtBlanks(std::wstring_view text) {
    std::vector<std::wstring_view> words;
    for (std::size_t from = 0;;) {
        const auto blank = text.find(L' ', from);
        words.push_back(text.substr(from, blank - from));
        if (blank == std::wstring_view::npos) {
            return words;
        }
        from = blank + 1;
    }
}

void CheckGameFolder(std::wstring_view installPath) {
    std::wstring_view program = installPath;
    const bool enclosed = program.size() >= 2 && program.front() == L'"' && program.back() == L'"';
    if (enclosed) {
        program = program.substr(1, program.size() - 2);
    }
    const bool searchWouldCut =
        !enclosed && installPath.find_first_of(L" \t") != std::wstring_view::npos;
    Require(ExactGameProgram(installPath) ==
                (searchWouldCut ? std::optional<std::wstring>(installPath) : std::nullopt),
            "the whole value is named as the program exactly when a search could cut it");
    Require(ProgramOnCommandLine(installPath) == (searchWouldCut
                                                      ? L"\"" + std::wstring(installPath) + L"\""
                                                      : std::wstring(installPath)),
            "a program named exactly is quoted on the game's command line, nothing else changes");
    // Windows reads the name up to the closing quote; a name named exactly is the whole value.
    std::wstring_view started = installPath;
    if (!searchWouldCut && started.starts_with(L'"')) {
        started = started.substr(1, started.find(L'"', 1) - 1);
    }
    std::wstring name(started.substr(0, started.find_last_not_of(L". ") + 1));
    std::transform(name.begin(), name.end(), name.begin(),
                   [](wchar_t unit) { return unit >= L'A' && unit <= L'Z' ? unit + 32 : unit; });
    Require(IsBatchProgram(installPath) == (name.ends_with(L".bat") || name.ends_with(L".cmd")),
            "a batch program exactly when the started name ends in .bat or .cmd, trimmed");
    const auto isSeparator = [](wchar_t unit) { return unit == L'\\' || unit == L'/'; };
    Require(!IsFullPath(installPath) ||
                (started.size() >= 3 && ((started[1] == L':' && isSeparator(started[2])) ||
                                         (isSeparator(started[0]) && isSeparator(started[1])))),
            "a full path starts with a drive and a separator, or with two separators");
    const auto folder = GameFolder(installPath);
    const auto separator = program.find_last_of(L"\\/");
    Require(folder.has_value() == (separator != std::wstring_view::npos),
            "a folder exactly when the program path has a separator");
    if (folder) {
        Require(*folder == program.substr(0, separator + 1),
                "the folder is the program path up to and including its last separator");
    }
}

void CheckLink(std::wstring_view installPath, std::wstring_view text) {
    const Model model = RemoveScheme(text);
    LinkFields link;
    try {
        link = DecodeLink(text);
    } catch (const LaunchFailure&) {
        Require(model.remainder.empty(), "only a link with nothing left is refused by decoding");
        return;
    }
    Require(!model.remainder.empty(), "a link with nothing left is refused");

    const std::wstring_view remainder = model.remainder;
    const auto serverEnd = remainder.find(L'/');
    Require(link.server == remainder.substr(0, serverEnd), "the server is the first field");
    Require(link.hasPassword == (serverEnd != std::wstring_view::npos),
            "a password field exactly when a / is left");
    if (link.hasPassword) {
        const auto rest = remainder.substr(serverEnd + 1);
        Require(link.password == rest.substr(0, rest.find(L'/')), "the password is field two");
    } else {
        Require(link.password.empty(), "no password without a second field");
    }
    Require(OnlyNewSchemes(link.server, 0, model) &&
                OnlyNewSchemes(link.password, serverEnd + 1, model),
            "no scheme survives unless the removal formed it");
    Require(link.server.size() + link.password.size() <= text.size(),
            "the fields are no longer than the link");

    Require(IsSafeField(link.server) == Safe(link.server, false), "the safety check of the server");
    Require(IsSafeField(link.password, true) == Safe(link.password, true),
            "the safety check of the password for a batch program");
    // Every reader: the game or cmd.exe, reading the wide line or an ANSI line made by best fit.
    for (const bool batch : {false, true}) {
        for (const auto inCodePage :
             {+[](std::wstring_view text) { return std::wstring(text); }, &BestFit1252}) {
            const bool safe = !link.server.empty() && Safe(link.server, batch) &&
                              Safe(link.password, batch) && Safe(inCodePage(link.server), batch) &&
                              Safe(inCodePage(link.password), batch);
            bool accepted = true;
            try {
                RequireSafeFields(link, LineReaders{batch, inCodePage});
            } catch (const LaunchFailure&) {
                accepted = false;
            }
            Require(accepted == safe, "a field is accepted exactly when every reader sees it safe");
            if (accepted) {
                const std::wstring read = inCodePage(link.server) + inCodePage(link.password);
                Require(std::none_of(read.begin(), read.end(),
                                     [batch](wchar_t unit) { return Refused(unit, batch); }),
                        "no refused unit gets through, as the game or cmd.exe reads it");
            }
        }
    }
    const bool safe =
        !link.server.empty() && Safe(link.server, false) && Safe(link.password, false);
    try {
        RequireSafeFields(link);
        Require(safe, "an unsafe field is refused");
    } catch (const LaunchFailure&) {
        Require(!safe, "a safe link is accepted");
        return;
    }

    const std::wstring command = BuildGameCommand(installPath, link);
    std::wstring expected = std::wstring(installPath) + L" +connect " + link.server;
    if (link.hasPassword) {
        expected += L" +pass " + link.password;
    }
    Require(command == expected, "the command line is path, +connect server[, +pass password]");
    Require(command.size() <= installPath.size() + 17 + text.size(),
            "the command line is bounded by its inputs");

    // What the game parses after its own path: exactly our options, nothing of the link's.
    const auto words = SplitAtBlanks(std::wstring_view(command).substr(installPath.size()));
    std::vector<std::wstring_view> options = {L"", L"+connect", link.server};
    if (link.hasPassword) {
        options.insert(options.end(), {L"+pass", link.password});
    }
    Require(words == options, "an accepted link adds no option of its own");
    Require(!words[2].empty() && !words[2].starts_with(L'+'),
            "+connect is followed by a server, never by an option");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::wstring units = fuzz::Units(data, size);
    std::wstring_view link = units;
    std::wstring_view installPath = L"C:\\Games\\Quarrion\\quarrion.exe";
    if (const auto end = link.find(L'\0'); end != std::wstring_view::npos) {
        installPath = link.substr(0, end);
        link = link.substr(end + 1);
    }
    CheckGameFolder(installPath);
    CheckLink(installPath, link);
    return 0;
}
