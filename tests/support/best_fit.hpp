#pragma once

#include <string>
#include <string_view>

// Code page 1252's best fit for the look-alikes that matter to a game's command line: full-width
// forms, wide blanks and the Greek question mark. A stand-in for the conversion Windows gives a
// game that reads its line in the ANSI code page, for tests that run anywhere.
inline std::wstring BestFit1252(std::wstring_view text) {
    std::wstring read(text);
    for (wchar_t& unit : read) {
        if (unit >= 0xFF01 && unit <= 0xFF5E) {
            unit = static_cast<wchar_t>(unit - 0xFF01 + 0x21);
        } else if (unit == 0x3000 || (unit >= 0x2000 && unit <= 0x2006)) {
            unit = L' ';
        } else if (unit == 0x037E) {
            unit = L';';
        }
    }
    return read;
}
