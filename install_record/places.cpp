#include "places.hpp"

#include "registry.hpp"
#include "../windows/text.hpp"

#include <algorithm>

namespace record {

namespace {

bool Within(const std::wstring& key, const std::wstring& place) {
    return key == place || key.starts_with(place + L"\\");
}

} // namespace

std::vector<std::wstring> SharedPlaces() {
    return {schemeKey, L"Software\\Classes\\Applications\\quarrion_shell.exe",
            L"Software\\RegisteredApplications"};
}

HKEY HiveOf(const std::wstring& mode) {
    if (mode == L"AllUsers") {
        return HKEY_LOCAL_MACHINE;
    }
    if (mode == L"CurrentUser") {
        return HKEY_CURRENT_USER;
    }
    throw Failure("unknown install mode " + Utf8(mode));
}

std::wstring OtherMode(const std::wstring& mode) {
    return mode == L"AllUsers" ? L"CurrentUser" : L"AllUsers";
}

std::wstring TextOf(const ValueState& state) {
    if (!state.present || (state.type != REG_SZ && state.type != REG_EXPAND_SZ)) {
        return {};
    }
    std::wstring text(state.data.size() / 2, L'\0');
    std::copy_n(state.data.begin(), text.size() * 2, reinterpret_cast<std::uint8_t*>(text.data()));
    return text.substr(0, text.find(L'\0'));
}

std::wstring PathIn(const std::wstring& folder, const std::wstring& name) {
    std::wstring path = folder;
    path.append(L"\\").append(name);
    return path;
}

bool InScheme(const std::wstring& key) {
    return Within(key, schemeKey);
}

bool InSharedPlace(const std::wstring& key) {
    const auto sharedPlaces = SharedPlaces();
    return std::any_of(sharedPlaces.begin(), sharedPlaces.end(),
                       [&key](const std::wstring& place) { return Within(key, place); });
}

bool OnTheWayToASharedPlace(const std::wstring& key) {
    const auto sharedPlaces = SharedPlaces();
    return std::any_of(sharedPlaces.begin(), sharedPlaces.end(), [&key](const std::wstring& place) {
        return place.starts_with(key + L"\\");
    });
}

std::wstring InstallLocation(const std::wstring& mode) {
    return TextOf(Registry(HiveOf(mode)).Read(L"", appsEntryKey, L"InstallLocation"));
}

std::vector<std::wstring> SplitAt(const std::wstring& text, wchar_t separator) {
    std::vector<std::wstring> parts;
    std::size_t start = 0;
    for (auto end = text.find(separator); end != std::wstring::npos;
         end = text.find(separator, start)) {
        if (end > start) {
            parts.push_back(text.substr(start, end - start));
        }
        start = end + 1;
    }
    if (start < text.size()) {
        parts.push_back(text.substr(start));
    }
    return parts;
}

} // namespace record
