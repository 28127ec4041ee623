#include "registry.hpp"

#include "../windows/owners.hpp"
#include "../windows/text.hpp"

#include <utility>

namespace record {

namespace {

REGSAM ViewFlag(const std::wstring& view) {
    return view == L"64" ? KEY_WOW64_64KEY : 0;
}

} // namespace

ValueState Registry::Read(const std::wstring& view, const std::wstring& key,
                          const std::wstring& name) const {
    // Only "not found" is absent: a value that cannot be read may be there.
    const auto cannotRead = [&key, &name] {
        return Failure("cannot read " + Utf8(key) + "\\" + Utf8(name));
    };
    UniqueKey opened;
    const auto opening =
        ::RegOpenKeyExW(hive_, key.c_str(), 0, KEY_QUERY_VALUE | ViewFlag(view), opened.put());
    if (opening == ERROR_FILE_NOT_FOUND) {
        return {};
    }
    if (opening != ERROR_SUCCESS) {
        throw cannotRead();
    }
    for (;;) {
        DWORD type = 0;
        DWORD size = 0;
        const auto sizing =
            ::RegQueryValueExW(opened.get(), name.c_str(), nullptr, &type, nullptr, &size);
        if (sizing == ERROR_FILE_NOT_FOUND) {
            return {};
        }
        if (sizing != ERROR_SUCCESS) {
            throw cannotRead();
        }
        ValueState state{true, type, std::vector<std::uint8_t>(size)};
        const auto status = ::RegQueryValueExW(opened.get(), name.c_str(), nullptr, &type,
                                               state.data.data(), &size);
        if (status == ERROR_SUCCESS) {
            state.type = type;
            state.data.resize(size);
            return state;
        }
        if (status != ERROR_MORE_DATA) { // changed meanwhile: read it again
            throw cannotRead();
        }
    }
}

void Registry::Write(const std::wstring& view, const std::wstring& key, const std::wstring& name,
                     const ValueState& state) const {
    UniqueKey opened;
    if (!state.present) {
        if (::RegOpenKeyExW(hive_, key.c_str(), 0, KEY_SET_VALUE | ViewFlag(view), opened.put()) !=
            ERROR_SUCCESS) {
            return; // no key, no value
        }
        const auto status = ::RegDeleteValueW(opened.get(), name.c_str());
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
            throw Failure("cannot remove " + Utf8(key) + "\\" + Utf8(name));
        }
        return;
    }
    if (::RegCreateKeyExW(hive_, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE | ViewFlag(view),
                          nullptr, opened.put(), nullptr) != ERROR_SUCCESS ||
        ::RegSetValueExW(opened.get(), name.c_str(), 0, state.type, state.data.data(),
                         static_cast<DWORD>(state.data.size())) != ERROR_SUCCESS) {
        throw Failure("cannot write " + Utf8(key) + "\\" + Utf8(name));
    }
}

bool Registry::Exists(const std::wstring& view, const std::wstring& key) const {
    UniqueKey opened;
    const auto status =
        ::RegOpenKeyExW(hive_, key.c_str(), 0, KEY_READ | ViewFlag(view), opened.put());
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
        throw Failure("cannot open " + Utf8(key));
    }
    return status == ERROR_SUCCESS;
}

bool Registry::IsLink(const std::wstring& view, const std::wstring& key) const {
    UniqueKey opened;
    const auto status = ::RegOpenKeyExW(hive_, key.c_str(), REG_OPTION_OPEN_LINK,
                                        KEY_QUERY_VALUE | ViewFlag(view), opened.put());
    if (status == ERROR_FILE_NOT_FOUND) {
        return false;
    }
    if (status != ERROR_SUCCESS) {
        throw Failure("cannot open " + Utf8(key));
    }
    DWORD type = 0;
    const auto query =
        ::RegQueryValueExW(opened.get(), L"SymbolicLinkValue", nullptr, &type, nullptr, nullptr);
    return (query == ERROR_SUCCESS || query == ERROR_MORE_DATA) && type == REG_LINK;
}

namespace {

// How many subkeys and values the key holds; none when it is absent.
std::pair<DWORD, DWORD> Counts(HKEY hive, const std::wstring& view, const std::wstring& key) {
    DWORD subkeys = 0;
    DWORD values = 0;
    UniqueKey opened;
    if (::RegOpenKeyExW(hive, key.c_str(), 0, KEY_READ | ViewFlag(view), opened.put()) !=
            ERROR_SUCCESS ||
        ::RegQueryInfoKeyW(opened.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                           &values, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
        return {0, 0};
    }
    return {subkeys, values};
}

} // namespace

bool Registry::HoldsOnly(const std::wstring& view, const std::wstring& key,
                         const std::wstring& name) const {
    return Counts(hive_, view, key) == std::pair<DWORD, DWORD>{0, 1} &&
           Read(view, key, name).present;
}

bool Registry::RemoveIfEmpty(const std::wstring& view, const std::wstring& key) const {
    return Exists(view, key) && Counts(hive_, view, key) == std::pair<DWORD, DWORD>{0, 0} &&
           ::RegDeleteKeyExW(hive_, key.c_str(), ViewFlag(view), 0) == ERROR_SUCCESS;
}

namespace {

// The key's subkeys, by their full names; none when it is absent.
std::vector<std::wstring> SubkeysOf(HKEY hive, const std::wstring& view, const std::wstring& key) {
    std::vector<std::wstring> names;
    UniqueKey opened;
    if (::RegOpenKeyExW(hive, key.c_str(), 0, KEY_ENUMERATE_SUB_KEYS | ViewFlag(view),
                        opened.put()) != ERROR_SUCCESS) {
        return names;
    }
    std::wstring name(256, L'\0'); // the longest name a key may have, and its null
    for (DWORD at = 0;; ++at) {
        auto length = static_cast<DWORD>(name.size());
        const auto status = ::RegEnumKeyExW(opened.get(), at, name.data(), &length, nullptr,
                                            nullptr, nullptr, nullptr);
        if (status != ERROR_SUCCESS) {
            if (status != ERROR_NO_MORE_ITEMS) {
                throw Failure("cannot list the keys in " + Utf8(key));
            }
            return names;
        }
        names.push_back(key);
        names.back().append(L"\\").append(name.data(), length);
    }
}

} // namespace

std::optional<std::wstring> Registry::FirstLinkInside(const std::wstring& view,
                                                      const std::wstring& key) const {
    for (const auto& inside : SubkeysOf(hive_, view, key)) {
        if (IsLink(view, inside)) {
            return inside;
        }
        if (auto deeper = FirstLinkInside(view, inside)) {
            return deeper;
        }
    }
    return std::nullopt;
}

bool Registry::RemoveTree(const std::wstring& view, const std::wstring& key) const {
    if (IsLink(view, key)) {
        return false;
    }
    bool emptied = true;
    for (const auto& inside : SubkeysOf(hive_, view, key)) {
        emptied = RemoveTree(view, inside) && emptied;
    }
    if (!emptied) {
        return false;
    }
    const auto status = ::RegDeleteKeyExW(hive_, key.c_str(), ViewFlag(view), 0);
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

std::vector<std::wstring> KeysOnThePath(const std::wstring& key) {
    std::vector<std::wstring> keys;
    for (auto at = key.find(L'\\'); at != std::wstring::npos; at = key.find(L'\\', at + 1)) {
        keys.push_back(key.substr(0, at));
    }
    keys.push_back(key);
    return keys;
}

} // namespace record
