#pragma once

// The default handler of quarrion:// links in mimeapps.list, and mimeinfo.cache, as text: every
// line not ours is kept byte for byte. No platform calls; text is UTF-8.

#include <string>
#include <string_view>
#include <vector>

namespace desktop {

// What adding a handler put into mimeapps.list besides the handler's own units, so that taking
// the last of ours out again gives the file back byte for byte.
struct Additions {
    bool line = false;    // the x-scheme-handler/quarrion= line
    bool group = false;   // the [Default Applications] header
    bool newline = false; // the line ending of a last line that had none
    bool operator==(const Additions&) const = default;
};

// mimeapps.list with `entry` first among the default handlers of quarrion:// links, the
// others kept after it in their order; every other line is kept as it is. What else it had
// to add is added to `added`.
std::string WithDefaultHandler(std::string_view mimeapps, std::string_view entry, Additions& added);

// The default handlers of quarrion:// links that mimeapps.list names, in its order: the list of
// the last such line in its [Default Applications] groups, which is the one readers keep.
std::vector<std::string> DefaultHandlers(std::string_view mimeapps);

// mimeapps.list without `entry` among the default handlers of quarrion:// links, so that the
// one named before it is the default again; every other line is kept as it is, and exactly the
// units added for it go. A line, group header or line ending in `added` goes too once nothing
// but what we added is left of it.
std::string WithoutDefaultHandler(std::string_view mimeapps, std::string_view entry,
                                  const Additions& added = {});

// Whether a mimeinfo.cache names no desktop entry but ours (their ids beginning with `ours`).
bool IsCacheOf(std::string_view cache, std::string_view ours);

} // namespace desktop
