#pragma once

// The names of new files and folders made beside ours, to be renamed over them once whole. No
// platform calls.

#include <optional>
#include <string>
#include <string_view>

namespace desktop {

// The name of a new file or folder made beside `name`, to be renamed to it once whole; and
// whether a name is one of those, for `name`.
std::string TemporaryName(std::string_view name, unsigned long process, unsigned attempt);
bool IsTemporaryOf(std::string_view temporary, std::string_view name);

// The file beside a temporary folder that the run filling it holds locked; and, for a file
// name, the temporary folder of `name` it claims, when it is such a claim.
std::string ClaimOf(std::string_view temporary);
std::optional<std::string_view> ClaimedTemporary(std::string_view file, std::string_view name);

// Whether a file name is one of our temporary files, a new file written beside a file of ours
// (mimeapps.list, an entry, its icon, `written` or `made`) and left by a run that was killed.
bool IsOurTemporary(std::string_view name);

} // namespace desktop
