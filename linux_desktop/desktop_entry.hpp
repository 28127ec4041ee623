#pragma once

// A desktop entry for a handler of quarrion:// links, in the form desktops and xdg-utils read.
// No platform calls; text is UTF-8.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace desktop {

struct EntryFields {
    std::string name;
    std::string comment;
    std::string icon;                 // absolute path of the image
    std::vector<std::string> command; // program and arguments; the link is added as %u
};

// A desktop entry for a handler of quarrion:// links that menus do not show.
std::string EntryText(const EntryFields& fields);

// One argument of an entry's Exec key, written so that every reader gets it back whole: as it
// is when it holds no reserved character, otherwise in double quotes with ", `, $ and \ escaped.
std::string ExecArgument(std::string_view argument);

// The entry's comment, naming the Wine prefix it runs the program in; and the prefix named by
// an entry's comment, or nothing when its text has no such comment.
std::string EntryComment(std::string_view prefix);
std::optional<std::string> PrefixInEntry(std::string_view text);

// Whether `text` is a desktop entry that runs `command`, as EntryText writes it.
bool IsEntryFor(std::string_view text, const std::vector<std::string>& command);

} // namespace desktop
