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

// mimeapps.list with `entry` as the default handler of quarrion:// links; every other line is
// kept as it is.
std::string WithDefaultHandler(std::string_view mimeapps, std::string_view entry);

// mimeapps.list without `entry` as the default handler of quarrion:// links: removed only while
// it is the one named first, as another program may have been chosen since.
std::string WithoutDefaultHandler(std::string_view mimeapps, std::string_view entry);

// The desktop file ID for one installed copy: named for the program and the Wine prefix (its
// last folder and a hash of its path) and the install mode, using only characters IDs allow.
std::string EntryId(std::string_view prefixPath, std::string_view mode);

} // namespace desktop
