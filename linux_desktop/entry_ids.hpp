#pragma once

// The ids of our desktop entries, and folder names Windows programs can use. No platform calls.

#include <string>
#include <string_view>

namespace desktop {

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
