#include "checksums.hpp"

#include "desktop_text.hpp"

namespace desktop {

std::string ChecksumsText(const std::map<std::string, std::string>& checksums) {
    std::string text;
    for (const auto& [path, checksum] : checksums) {
        text.append(checksum).append("  ").append(path).append("\n");
    }
    return text;
}

std::map<std::string, std::string> ParseChecksums(std::string_view text) {
    std::map<std::string, std::string> checksums;
    for (const auto& found : Lines(text)) {
        const std::string_view line = std::string_view(found).substr(0, found.find('\n'));
        if (line.size() > 66 && line.substr(64, 2) == "  " &&
            line.substr(0, 64).find_first_not_of("0123456789abcdef") == std::string_view::npos) {
            checksums.emplace(line.substr(66), line.substr(0, 64));
        }
    }
    return checksums;
}

} // namespace desktop
