#pragma once

// Text between the Windows API's UTF-16 and UTF-8, and the environment.

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

// The text in a code page, and back; nothing when a conversion fails. A text with no form in
// the code page gets its best-fit units, as the API gives them.
inline std::optional<std::string> InCodePage(std::wstring_view text, UINT codePage) {
    if (text.empty()) {
        return std::string();
    }
    const int units = static_cast<int>(text.size());
    const int bytes =
        ::WideCharToMultiByte(codePage, 0, text.data(), units, nullptr, 0, nullptr, nullptr);
    std::string converted(static_cast<std::size_t>(bytes), '\0');
    if (bytes == 0 || ::WideCharToMultiByte(codePage, 0, text.data(), units, converted.data(),
                                            bytes, nullptr, nullptr) != bytes) {
        return std::nullopt;
    }
    return converted;
}

inline std::optional<std::wstring> FromCodePage(std::string_view text, UINT codePage) {
    if (text.empty()) {
        return std::wstring();
    }
    const int bytes = static_cast<int>(text.size());
    const int units = ::MultiByteToWideChar(codePage, 0, text.data(), bytes, nullptr, 0);
    std::wstring converted(static_cast<std::size_t>(units), L'\0');
    if (units == 0 ||
        ::MultiByteToWideChar(codePage, 0, text.data(), bytes, converted.data(), units) != units) {
        return std::nullopt;
    }
    return converted;
}

inline std::string Utf8(std::wstring_view text) {
    return InCodePage(text, CP_UTF8).value_or(std::string());
}

inline std::wstring Wide(std::string_view text) {
    return FromCodePage(text, CP_UTF8).value_or(std::wstring());
}

// The variable's value; empty when it is not set.
inline std::wstring Environment(const wchar_t* name) {
    std::wstring value(32767, L'\0');
    value.resize(::GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size())));
    return value;
}
