#pragma once

// The uninstall's part of the install folder, and an install elsewhere's: which copy a folder
// holds, and its files, record and folders removed while they are still as installed.

#include "record.hpp"

#include <string>
#include <vector>

namespace record {

// The uninstaller's copy: "<mode>|registered|" or "<mode>|left|", then each file still ours
// followed by "|". Refuses (1605) a folder without a usable record.
std::string WhichCopy(const std::wstring& folder, const Plan& plan,
                      const std::vector<std::wstring>& files);

// Removes each file while it is still as installed (a changed one is the player's); 32, with the
// name on standard output, while one is in use: run it again.
int RemoveFiles(const std::wstring& folder, const std::vector<std::wstring>& files);

// Last: the uninstaller while it is as installed, the record, then the folders the install
// made, each while it is the same and empty.
void RemoveRecord(const std::wstring& folder);

// Once a copy is installed in `installed`, each copy of the mode that an install elsewhere
// moved from (see NoteMovedFrom): its files still as installed, then as RemoveRecord. One that
// is this folder, is no longer the folder noted, or holds no record of this mode's install (its
// files are not provably ours), is only forgotten. 32 while a file of one is in use: that copy then
// stays whole, with its uninstaller, and the next install tries again.
int TakeAway(const std::wstring& mode, const std::wstring& installed,
             const std::vector<std::wstring>& files);

} // namespace record
