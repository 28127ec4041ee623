#include "link.hpp"

#include "launch_failure.hpp"

#include <algorithm>

namespace {

constexpr std::wstring_view scheme = L"quarrion://";
constexpr wchar_t fieldSeparator = L'/';

// One pass; text joined across a dropped scheme is not scanned again.
std::wstring RemoveScheme(std::wstring_view text) {
    std::wstring remainder;
    remainder.reserve(text.size());
    std::size_t from = 0;
    for (auto hit = text.find(scheme); hit != std::wstring_view::npos;
         hit = text.find(scheme, from)) {
        remainder.append(text.substr(from, hit - from));
        from = hit + scheme.size();
    }
    remainder.append(text.substr(from));
    return remainder;
}

} // namespace

LinkFields DecodeLink(std::wstring_view argumentText) {
    const std::wstring remainder = RemoveScheme(argumentText);
    if (remainder.empty()) {
        throw LaunchFailure("the link holds no server");
    }
    const std::wstring_view fields = remainder;
    const auto serverEnd = fields.find(fieldSeparator);
    LinkFields link;
    link.server = fields.substr(0, serverEnd);
    if (serverEnd != std::wstring_view::npos) {
        const auto rest = fields.substr(serverEnd + 1);
        link.password = rest.substr(0, rest.find(fieldSeparator));
        link.hasPassword = true;
    }
    return link;
}

bool IsSafeField(std::wstring_view field) {
    return std::none_of(field.begin(), field.end(), [](wchar_t unit) {
        return unit <= L' ' || unit == L'\x7F' || unit == L'"' || unit == L'+' || unit == L';';
    });
}

void RequireSafeFields(const LinkFields& link) {
    if (!IsSafeField(link.server) || !IsSafeField(link.password)) {
        throw LaunchFailure("the link would add options to the game's command line");
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
