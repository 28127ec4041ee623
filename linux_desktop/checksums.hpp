#pragma once

// The checksums of the files one registration wrote, as text. No platform calls.

#include <map>
#include <string>
#include <string_view>

namespace desktop {

// Checksums of the files one registration wrote, as sha256sum writes them: the SHA-256 in
// hexadecimal, two blanks and the path. Lines of another form are left out.
std::string ChecksumsText(const std::map<std::string, std::string>& checksums);
std::map<std::string, std::string> ParseChecksums(std::string_view text);

} // namespace desktop
