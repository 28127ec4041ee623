#include "fuzz_input.hpp"

#include <cstdio>
#include <cstdlib>

namespace fuzz {

void Require(bool holds, const char* property) {
    if (!holds) {
        std::fprintf(stderr, "property broken: %s\n", property);
        std::abort();
    }
}

std::string Bytes(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

std::wstring Units(const std::uint8_t* data, std::size_t size) {
    std::wstring units;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0xFF && i + 2 < size) {
            units.push_back(static_cast<wchar_t>(data[i + 1] << 8 | data[i + 2]));
            i += 2;
        } else {
            units.push_back(static_cast<wchar_t>(data[i]));
        }
    }
    return units;
}

} // namespace fuzz
