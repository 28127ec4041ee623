#pragma once

#include <string>
#include <string_view>
#include <vector>

// The Linux desktop's side of a link handler, as text: a desktop entry and the default handler
// in mimeapps.list, in the forms desktops and xdg-utils read. No platform calls; text is UTF-8.

namespace desktop {

// The MIME type a desktop asks for when a quarrion:// link is opened.
inline constexpr std::string_view schemeType = "x-scheme-handler/quarrion";

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

// Whether `text` is a desktop entry that runs `command`, as EntryText writes it.
bool IsEntryFor(std::string_view text, const std::vector<std::string>& command);

// One argument of a Windows command line, read back whole by CommandLineToArgvW's rules.
std::string WindowsArgument(std::string_view argument);

// mimeapps.list with `entry` first among the default handlers of quarrion:// links, the
// others kept after it in their order; every other line is kept as it is.
std::string WithDefaultHandler(std::string_view mimeapps, std::string_view entry);

// mimeapps.list without `entry` among the default handlers of quarrion:// links, so that the
// one named before it is the default again; every other line is kept as it is.
std::string WithoutDefaultHandler(std::string_view mimeapps, std::string_view entry);

// The desktop file ID for one installed copy: named for the program and the Wine prefix (its
// last folder and a hash of its path) and the install mode, using only characters IDs allow.
std::string EntryId(std::string_view prefixPath, std::string_view mode);

// Whether `id` has the form EntryId gives, so that it names nothing outside our own files.
bool IsEntryId(std::string_view id);

} // namespace desktop
