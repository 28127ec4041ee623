#pragma once

// Text as desktop files and command lines write it. No platform calls; text is UTF-8.

#include <string>
#include <string_view>
#include <vector>

namespace desktop {

// The text without the blanks and line ends around it.
std::string_view Trimmed(std::string_view text);

// The items of a list as desktop files write them, separated by ';', each trimmed; empty ones
// left out.
std::vector<std::string_view> ListItems(std::string_view list);

// The parts of a text between separators, such as a colon-separated list of folders; empty ones
// left out.
std::vector<std::string_view> Fields(std::string_view text, char separator);

// The text's lines, each with its own line ending, so that unchanged ones are copied exactly.
std::vector<std::string> Lines(std::string_view text);

// ASCII letters in lower case; every other unit as it is.
char Lower(char unit);

// The MIME type a desktop asks for when a quarrion:// link is opened.
inline constexpr std::string_view schemeType = "x-scheme-handler/quarrion";

// One argument of a Windows command line, read back whole by CommandLineToArgvW's rules.
std::string WindowsArgument(std::string_view argument);

} // namespace desktop
