#include "earlier_builds.hpp"

#include "places.hpp"

#include <windows.h>

#include <algorithm>
#include <vector>

namespace record {

namespace {

std::wstring VersionText(const std::wstring& file, const wchar_t* key) {
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(file.c_str(), &ignored);
    std::vector<std::uint8_t> block(size);
    void* text = nullptr;
    UINT length = 0;
    if (size == 0 || ::GetFileVersionInfoW(file.c_str(), 0, size, block.data()) == FALSE ||
        ::VerQueryValueW(block.data(),
                         (std::wstring(L"\\StringFileInfo\\040904b0\\") + key).c_str(), &text,
                         &length) == FALSE ||
        length == 0) {
        return {};
    }
    return std::wstring(static_cast<const wchar_t*>(text)).substr(0, length);
}

ValueState KeptText(const std::wstring& text) {
    ValueState state = TextValue(text);
    std::wstring expanded(32768, L'\0');
    const DWORD length = ::ExpandEnvironmentStringsW(text.c_str(), expanded.data(),
                                                     static_cast<DWORD>(expanded.size()));
    if (length > 0 && length <= expanded.size() && expanded.substr(0, length - 1) != text) {
        state.type = REG_EXPAND_SZ; // it held variables, so it was an expandable string
    }
    return state;
}

} // namespace

bool StartsACopyOfOurs(const std::wstring& command) {
    const auto candidates = ProgramCandidates(command);
    return std::any_of(candidates.begin(), candidates.end(), [](const std::wstring& program) {
        return VersionText(program, L"CompanyName") == QUARRION_COMPANY &&
               VersionText(program, L"InternalName") == L"quarrion_shell";
    });
}

std::optional<ValueState> KeptByAnEarlierVersion(const Registry& registry,
                                                 const ValueChange& change,
                                                 const ValueState& current) {
    const std::wstring& kept = previousHandlerKey;
    const auto command = TextOf(registry.Read(L"", kept, L"Command"));
    if (command.empty()) {
        return std::nullopt;
    }
    if (change.key == commandKey && change.name.empty()) {
        return KeptText(command);
    }
    if (change.key == schemeKey && change.name.empty()) {
        return TextValue(TextOf(registry.Read(L"", kept, L"Name")));
    }
    if (change.key == schemeKey && change.name == L"URL Protocol") {
        return TextValue(L"");
    }
    if (change.key == schemeKey + L"\\DefaultIcon" && change.name.empty()) {
        const auto icon = TextOf(registry.Read(L"", kept, L"Icon"));
        return icon.empty() ? ValueState{} : KeptText(icon);
    }
    return current; // a value those versions never set: what is there is not theirs
}

void KeepForEarlierVersions(const Registry& registry, const std::vector<ValueChange>& values) {
    const auto previousOf = [&values](const std::wstring& key) {
        const auto found = std::find_if(values.begin(), values.end(), [&key](const auto& value) {
            return value.view.empty() && value.key == key && value.name.empty();
        });
        return found == values.end() ? std::wstring() : TextOf(found->previous);
    };
    const auto command = previousOf(commandKey);
    const std::pair<const wchar_t*, std::wstring> kept[]{
        {L"Command", command},
        {L"Name", previousOf(schemeKey)},
        {L"Icon", previousOf(schemeKey + L"\\DefaultIcon")}};
    for (const auto& [name, text] : kept) {
        registry.Write(L"", previousHandlerKey, name,
                       command.empty() ? ValueState{} : TextValue(text));
    }
}

} // namespace record
