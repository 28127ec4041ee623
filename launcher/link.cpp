#include "link.hpp"

#include "launch_failure.hpp"

#include <algorithm>

namespace {

constexpr std::wstring_view scheme = L"quarrion://";
constexpr wchar_t fieldSeparator = L'/';

// What cmd.exe acts on besides what every game refuses: redirection, pipes, command joining,
// escapes, blocks, variable expansion (% always, ! with delayed expansion), and "," and "=",
// which split a batch file's parameters as a blank does.
constexpr std::wstring_view interpreterUnits = L"&|<>^()%!,=";

bool IsReadSafely(std::wstring_view field, const LineReaders& readers) {
    return IsSafeField(field, readers.commandInterpreter) &&
           (readers.inCodePage == nullptr ||
            IsSafeField(readers.inCodePage(field), readers.commandInterpreter));
}

} // namespace

// One pass over the text, taking it piece by piece between schemes; the text that dropping them
// leaves is never built, and the scan stops at the end of the password field. Text joined across
// a dropped scheme is not scanned for schemes again.
LinkFields DecodeLink(std::wstring_view argumentText) {
    LinkFields link;
    std::wstring* field = &link.server;
    bool anythingLeft = false;
    for (std::size_t from = 0; from < argumentText.size();) {
        const std::size_t hit = std::min(argumentText.find(scheme, from), argumentText.size());
        std::wstring_view piece = argumentText.substr(from, hit - from);
        anythingLeft = anythingLeft || !piece.empty();
        for (auto separator = piece.find(fieldSeparator); separator != std::wstring_view::npos;
             separator = piece.find(fieldSeparator)) {
            field->append(piece.substr(0, separator));
            piece.remove_prefix(separator + 1);
            if (link.hasPassword) {
                return link; // later fields are not used
            }
            link.hasPassword = true;
            field = &link.password;
        }
        field->append(piece);
        from = hit + scheme.size();
    }
    if (!anythingLeft) {
        throw LaunchFailure("the link holds no server");
    }
    return link;
}

bool IsSafeField(std::wstring_view field, bool commandInterpreter) {
    if (field.starts_with(L'-') || field.starts_with(L'@')) {
        return false;
    }
    return std::none_of(field.begin(), field.end(), [commandInterpreter](wchar_t unit) {
        return unit <= L' ' || unit == L'\x7F' || unit == L'"' || unit == L'+' || unit == L';' ||
               (commandInterpreter && interpreterUnits.find(unit) != std::wstring_view::npos);
    });
}

void RequireSafeFields(const LinkFields& link, const LineReaders& readers) {
    // With nothing after +connect, the game would take +pass as the server and the password as
    // a word of its own, perhaps a file to open.
    if (link.server.empty()) {
        throw LaunchFailure("the link names no server");
    }
    if (!IsReadSafely(link.server, readers) || !IsReadSafely(link.password, readers)) {
        throw LaunchFailure("the link would add options or commands to the game's command line");
    }
}

std::wstring BuildGameCommand(std::wstring_view installPath, const LinkFields& link) {
    constexpr std::wstring_view connectOption = L" +connect ";
    constexpr std::wstring_view passOption = L" +pass ";

    std::wstring command;
    command.reserve(installPath.size() + connectOption.size() + link.server.size() +
                    passOption.size() + link.password.size());
    command.append(installPath).append(connectOption).append(link.server);
    if (link.hasPassword) {
        command.append(passOption).append(link.password);
    }
    return command;
}
