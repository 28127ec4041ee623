#pragma once

// Setup's part of the install folder: whether it may install there, the folders it makes and the
// record written before our files go in, and the record concluded once all is installed. Each is
// recorded before it is made or replaced, so a run stopped at any point leaves an uninstall that
// knows it, and setup run again finishes it.

#include "record.hpp"

#include <string>
#include <vector>

namespace record {

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

} // namespace record
