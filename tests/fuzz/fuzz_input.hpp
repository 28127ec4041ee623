#pragma once

// What the fuzz targets share: their input as text, cut into pieces, and the check of a property.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace fuzz {

// Aborts, naming the property, when it does not hold: libFuzzer keeps the input as a finding.
void Require(bool holds, const char* property);

std::string Bytes(const std::uint8_t* data, std::size_t size);

// The input as UTF-16 units: ASCII bytes as they are (so the corpus stays readable) and 0xFF
// followed by two bytes as any unit.
std::wstring Units(const std::uint8_t* data, std::size_t size);

// The text cut at every `separator`: a target builds a value of its own from the pieces.
template <typename Char>
std::vector<std::basic_string<Char>> Pieces(std::basic_string_view<Char> text, Char separator) {
    std::vector<std::basic_string<Char>> pieces;
    for (std::size_t from = 0;;) {
        const auto end = text.find(separator, from);
        pieces.emplace_back(text.substr(from, end - from));
        if (end == std::basic_string_view<Char>::npos) {
            return pieces;
        }
        from = end + 1;
    }
}

// The text's lines without their ending (LF, or CR LF), in order of their units: which lines a
// text holds, wherever they stand.
template <typename Char>
std::vector<std::basic_string<Char>> SortedLines(std::basic_string_view<Char> text) {
    auto lines = Pieces(text, Char('\n'));
    if (lines.back().empty()) {
        lines.pop_back();
    }
    for (auto& line : lines) {
        if (line.ends_with(Char('\r'))) {
            line.pop_back();
        }
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

} // namespace fuzz
