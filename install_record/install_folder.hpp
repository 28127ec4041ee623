#pragma once

// The install folder and its record, quarrion_record.dat: the mode, the folders the install made
// and our files with their SHA-256. Each is recorded before it is made or replaced, so a run
// stopped at any point leaves an uninstall that knows it, and setup run again finishes it.

#include "record.hpp"

#include <optional>
#include <string>
#include <vector>

namespace record {

// The folder's record; nothing when there is none. Throws Failure for one that cannot be read or
// names a place setup does not share.
std::optional<Record> FolderRecordIn(const std::wstring& folder);

// Whether setup may install here: refuses the other mode's copy (183), a link at the folder, at
// one of our files or at a registry key the plan writes (145), and a record that cannot be read
// (1610).
void MayInstall(const std::wstring& mode, const std::wstring& folder, const Plan& plan,
                const std::vector<std::wstring>& files);

// Makes the folder and writes its record, which knows the bytes of the files waiting in
// `staging` as ours from now on as well as those they replace; then puts them in place, in
// order. 32, with the name on standard output, while one is in use: run it again.
int InstallFiles(const std::wstring& mode, const std::wstring& folder, const std::wstring& staging,
                 const std::vector<std::wstring>& files);

// Once all is installed: the record keeps only the files' new bytes, and leaves the registration
// to the mode's record.
void ConcludeInstall(const std::wstring& folder);

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

// Once a copy is installed in `installed`, the mode's copy it moved from, in `folder`: each file
// still as installed, then as RemoveRecord. Nothing when the two are one folder, or `folder`
// holds no record of this mode's install (its files are not provably ours). 32, with the name on
// standard output, while one is in use; it then stays whole, with its uninstaller.
int TakeAway(const std::wstring& mode, const std::wstring& folder, const std::wstring& installed,
             const std::vector<std::wstring>& files);

} // namespace record
