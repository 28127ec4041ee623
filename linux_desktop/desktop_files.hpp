#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The Linux desktop's side of a link handler, as text: a desktop entry and the default handler
// in mimeapps.list, in the forms desktops and xdg-utils read. No platform calls; text is UTF-8.

namespace desktop {

// The text without the blanks and line ends around it.
std::string_view Trimmed(std::string_view text);

// The items of a list as desktop files write them, separated by ';', each trimmed; empty ones
// left out.
std::vector<std::string_view> ListItems(std::string_view list);

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

// The entry's comment, naming the Wine prefix it runs the program in; and the prefix named by
// an entry's comment, or nothing when its text has no such comment.
std::string EntryComment(std::string_view prefix);
std::optional<std::string> PrefixInEntry(std::string_view text);

// Whether `text` is a desktop entry that runs `command`, as EntryText writes it.
bool IsEntryFor(std::string_view text, const std::vector<std::string>& command);

// One argument of a Windows command line, read back whole by CommandLineToArgvW's rules.
std::string WindowsArgument(std::string_view argument);

// What adding a handler put into mimeapps.list besides the handler's own units, so that taking
// the last of ours out again gives the file back byte for byte.
struct Additions {
    bool line = false;    // the x-scheme-handler/quarrion= line
    bool group = false;   // the [Default Applications] header
    bool newline = false; // the line ending of a last line that had none
};

// mimeapps.list with `entry` first among the default handlers of quarrion:// links, the
// others kept after it in their order; every other line is kept as it is. What else it had
// to add is added to `added`.
std::string WithDefaultHandler(std::string_view mimeapps, std::string_view entry, Additions& added);

// mimeapps.list without `entry` among the default handlers of quarrion:// links, so that the
// one named before it is the default again; every other line is kept as it is, and exactly the
// units added for it go. A line, group header or line ending in `added` goes too once nothing
// but what we added is left of it.
std::string WithoutDefaultHandler(std::string_view mimeapps, std::string_view entry,
                                  const Additions& added = {});

// The default handlers of quarrion:// links that mimeapps.list names, in its order: the list of
// the last such line in its [Default Applications] groups, which is the one readers keep.
std::vector<std::string> DefaultHandlers(std::string_view mimeapps);

// What our registrations made in a home besides each one's own files, so that the last one
// removed gives the home back as it was found.
struct HomeRecord {
    Additions added;                  // to mimeapps.list
    bool mimeapps = false;            // mimeapps.list itself
    bool cache = false;               // applications/mimeinfo.cache, by update-desktop-database
    std::vector<std::string> folders; // outermost first
};
std::string HomeRecordText(const HomeRecord& record);
HomeRecord ParseHomeRecord(std::string_view text);

// Checksums of the files one registration wrote, as sha256sum writes them: the SHA-256 in
// hexadecimal, two blanks and the path. Lines of another form are left out.
std::string ChecksumsText(const std::map<std::string, std::string>& checksums);
std::map<std::string, std::string> ParseChecksums(std::string_view text);

// Whether a mimeinfo.cache names no desktop entry but ours (their ids beginning with `ours`).
bool IsCacheOf(std::string_view cache, std::string_view ours);

// The name of a new file or folder made beside `name`, to be renamed to it once whole; and
// whether a name is one of those, for `name`.
std::string TemporaryName(std::string_view name, unsigned long process, unsigned attempt);
bool IsTemporaryOf(std::string_view temporary, std::string_view name);

// Whether a file name is one of our temporary files, a new file written beside a file of ours
// (mimeapps.list, an entry, its icon, `written` or `made`) and left by a run that was killed.
bool IsOurTemporary(std::string_view name);

// Why Windows programs cannot use a file or folder of this name, or empty when they can: a
// device name (CON, PRN, AUX, NUL, COM1 to COM9, LPT1 to LPT9, with any extension), a dot or
// blank at its end, or a character Windows names never hold.
std::string UnusableInWindows(std::string_view name);

// The desktop file ID for one installed copy: named for the program and the Wine prefix (its
// last folder and a hash of its path) and the install mode, using only characters IDs allow.
std::string EntryId(std::string_view prefixPath, std::string_view mode);

// Whether `id` has the form EntryId gives, so that it names nothing outside our own files.
bool IsEntryId(std::string_view id);

} // namespace desktop
